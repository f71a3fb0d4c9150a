#include "platform/uFileSystem.h"
#include "platform/uRestorePath.h"
#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(RestorePathName, MakesEveryNameASingleSafeName) {
  const std::string longStem(300, 'a');
  struct TCase {
    const char* Name;
    std::u16string Input;
    std::size_t MaxBytes;
    std::string Expected;
  };
  const TCase cases[] = {
      {"plain", u"a.txt", 255, "a.txt"},
      {"dot", u".", 255, "_"},
      {"dot dot", u"..", 255, "__"},
      {"three dots are a name", u"...", 255, "..."},
      {"hidden file", u".bashrc", 255, ".bashrc"},
      {"slash", u"a/b", 255, "a_b"},
      {"climbing", u"../../etc/passwd", 255, ".._.._etc_passwd"},
      {"backslash", u"a\\b", 255, "a_b"},
      {"backslash climbing", u"..\\x", 255, ".._x"},
      {"NUL", std::u16string{u'a', u'\0', u'b'}, 255, "a_b"},
      {"empty", u"", 255, "_"},
      {"unpaired surrogate", std::u16string{char16_t(0xDC00)}, 255, "\xef\xbf\xbd"},
      {"exactly the limit", std::u16string(255, u'x'), 255, std::string(255, 'x')},
      {"over-long keeps extension", std::u16string(300, u'a') + u".txt", 255, std::string(251, 'a') + ".txt"},
      {"smaller target limit", std::u16string(300, u'a') + u".jpeg", 143, std::string(138, 'a') + ".jpeg"},
      {"over-long extension is cut with the name", u"a." + std::u16string(300, u'e'), 255, "a." + std::string(253, 'e')},
      {"cut on a character border", std::u16string(200, u'\u00e9') + u".txt", 255,
       [] { std::string s; for (int i = 0; i < 125; ++i) s += "\xc3\xa9"; return s + ".txt"; }()},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string name = SafeFileName(c.Input, c.MaxBytes);
    EXPECT_EQ(name, c.Expected);
    EXPECT_LE(name.size(), c.MaxBytes);
    EXPECT_EQ(name.find('/'), std::string::npos);
  }
}

TEST(RestorePathName, NumberedNamesFollowTheConflictFormatAndFit) {
  struct TCase {
    std::string Name;
    std::int32_t Number;
    std::size_t MaxBytes;
    std::string Expected;
  };
  const TCase cases[] = {
      {"report.txt", 2, 255, "report[2].txt"},
      {"notes", 1, 255, "notes[1]"},
      {"archive.tar.gz", 1, 255, "archive.tar[1].gz"},
      {".bashrc", 1, 255, "[1].bashrc"},
      {std::string(251, 'a') + ".txt", 1, 255, std::string(248, 'a') + "[1].txt"},
      {std::string(251, 'a') + ".txt", 12, 255, std::string(247, 'a') + "[12].txt"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(NumberedFileName(c.Name, c.Number, c.MaxBytes), c.Expected);
  }
}

TEST(RestorePathJoin, JoinsSafeNamesBelowTheTarget) {
  struct TCase {
    const char* Name;
    std::string Target;
    std::vector<std::u16string> Names;
    std::string Expected;
  };
  const TCase cases[] = {
      {"tree", "/out/", {u"docs", u"a.txt"}, "/out/docs/a.txt"},
      {"target without delimiter", "/out", {u"docs", u"a.txt"}, "/out/docs/a.txt"},
      {"flat", "/out/", {u"a.txt"}, "/out/a.txt"},
      {"hostile folders", "/out/", {u"..", u".", u"", u"/etc", u"a.txt"}, "/out/__/_/_/_etc/a.txt"},
      {"absolute-looking name", "/out/", {u"/"}, "/out/_"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RestoredFilePath(c.Target, c.Names, 255), c.Expected);
  }
  EXPECT_THROW(RestoredFilePath("/out/", {}, 255), std::invalid_argument);
}

// Written for real, every hostile name lands inside the target folder.
TEST(RestorePathJoin, HostileNamesStayInsideTheTargetOnDisk) {
  const testfiles::TTempFolder folder;
  const fs::path root = fs::canonical(folder.Path());
  const fs::path target = root / "target";
  fs::create_directories(target);
  const ITargetFolderPtr files = OpenLinuxTargetFolder(target.string(), TSourceIdentity());
  const std::string targetText = fs::canonical(target).string();
  const std::size_t limit = TLinuxFileSystem().MaxNameBytes(targetText);
  const std::vector<std::vector<std::u16string>> hostile = {
      {u"..", u"..", u"escaped.txt"},
      {u"../../escaped.txt"},
      {u"..\\..\\escaped.txt"},
      {u"/tmp", u"escaped.txt"},
      {u".", u".."},
      {std::u16string(400, u'n') + u".bin"},
      {std::u16string(300, u'd'), std::u16string(300, u'f')},
      {std::u16string{u'x', u'\0', u'/', u'.', u'.'}},
  };
  for (const auto& names : hostile) {
    const std::string relative = RestoredFilePath("", names, limit);
    SCOPED_TRACE(relative);
    for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
      files->CreateFolder(relative.substr(0, slash));
    TTargetEntry created;
    IOutputFilePtr file = files->CreateFile(relative, true, created);
    file->Write("x", 1);
    file->Close();
    const std::string written = fs::canonical(target / relative).string();
    EXPECT_TRUE(written.starts_with(targetText + "/")) << written;
  }
  EXPECT_FALSE(fs::exists(root / "escaped.txt"));
}

}  // namespace
