#include "foundation/uSysPath.h"

#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>

namespace {

// Folders a lookup answers for the table tests: the system folder lies
// inside the Windows folder, and two pairs of ids share one folder.
const std::map<std::uint16_t, std::u16string> kFolders = {
    {0x24, u"/opt/win"},               // WINDOWS
    {0x25, u"/opt/win/system32"},      // SYSTEM
    {0x00, u"/home/anna/Desktop"},     // DESKTOP
    {0x10, u"/home/anna/Desktop"},     // DESKTOPDIRECTORY
    {0x05, u"/home/anna/Documents"},   // PERSONAL
    {0x0C, u"/home/anna/Documents"},   // MYDOCUMENTS
    {0x28, u"/home/anna"},             // PROFILE
    {0x1C, u"/home/anna/.local/share"},// LOCAL_APPDATA
    {0x0D, u"/home/\u00FClf/Musik"},   // MYMUSIC
};

// A path and what AnnouncePath or DenouncePath make of it.
struct TPathCase {
  std::u16string Path, Expected;
};

TSysPaths FakeTable() {
  return TSysPaths([](std::uint16_t ACSIDL) {
    const auto found = kFolders.find(ACSIDL);
    return found == kFolders.end() ? std::u16string() : found->second;
  });
}

TEST(SysPathsTable, HasTheFiftyFoldersInOrderWithTheirShellIds) {
  const std::pair<const char16_t*, std::uint16_t> expected[] = {
      {u"ADMINTOOLS", 48}, {u"ALTSTARTUP", 29}, {u"APPDATA", 26}, {u"BITBUCKET", 10},
      {u"CDBURN_AREA", 59}, {u"COMMON_ADMINTOOLS", 47}, {u"COMMON_ALTSTARTUP", 30},
      {u"COMMON_APPDATA", 35}, {u"COMMON_DESKTOPDIRECTORY", 25}, {u"COMMON_DOCUMENTS", 46},
      {u"COMMON_FAVORITES", 31}, {u"COMMON_MUSIC", 53}, {u"COMMON_PICTURES", 54},
      {u"COMMON_PROGRAMS", 23}, {u"COMMON_STARTMENU", 22}, {u"COMMON_STARTUP", 24},
      {u"COMMON_TEMPLATES", 45}, {u"COMMON_VIDEO", 55}, {u"CONTROLS", 3}, {u"COOKIES", 33},
      {u"DESKTOP", 0}, {u"DESKTOPDIRECTORY", 16}, {u"DRIVES", 17}, {u"FAVORITES", 6},
      {u"FONTS", 20}, {u"HISTORY", 34}, {u"INTERNET", 1}, {u"INTERNET_CACHE", 32},
      {u"LOCAL_APPDATA", 28}, {u"MYDOCUMENTS", 12}, {u"MYMUSIC", 13}, {u"MYPICTURES", 39},
      {u"MYVIDEO", 14}, {u"NETHOOD", 19}, {u"NETWORK", 18}, {u"PERSONAL", 5}, {u"PRINTERS", 4},
      {u"PRINTHOOD", 27}, {u"PROFILE", 40}, {u"PROFILES", 62}, {u"PROGRAM_FILES", 38},
      {u"PROGRAM_FILES_COMMON", 43}, {u"PROGRAMS", 2}, {u"RECENT", 8}, {u"SENDTO", 9},
      {u"STARTMENU", 11}, {u"STARTUP", 7}, {u"SYSTEM", 37}, {u"TEMPLATES", 21}, {u"WINDOWS", 36},
  };
  const TSysPaths table = FakeTable();
  ASSERT_EQ(table.Count(), 50);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(table.Get(i).Name, expected[i].first) << i;
    EXPECT_EQ(table.Get(i).CSIDL, expected[i].second) << i;
    const auto folder = kFolders.find(expected[i].second);
    EXPECT_EQ(table.Get(i).Path, folder == kFolders.end() ? u"" : folder->second) << i;
  }
}

TEST(SysPathsTable, PutReplacesAnEntryAndIndexesAreChecked) {
  TSysPaths table = FakeTable();
  table.Put(2, TSysPath{u"APPDATA", 26, u"/elsewhere"});
  EXPECT_EQ(table.AnnouncePath(u"*APPDATA*/x", u"*"), u"/elsewhere/x");
  EXPECT_THROW(table.Get(50), std::out_of_range);
  EXPECT_THROW(table.Get(-1), std::out_of_range);
  EXPECT_THROW(table.Put(50, TSysPath{}), std::out_of_range);
}

TEST(SysPathsTable, AnnouncePathExpandsOnlyALeadingKnownPlaceholder) {
  const TSysPaths table = FakeTable();
  const TPathCase cases[] = {
      {u"*LOCAL_APPDATA*/Tarnwick", u"/home/anna/.local/share/Tarnwick"},
      {u"*local_appdata*/Tarnwick", u"/home/anna/.local/share/Tarnwick"},
      {u"*LOCAL_APPDATA*", u"/home/anna/.local/share"},
      {u"*LOCAL_APPDATA", u""},
      {u"/data/report.txt", u"/data/report.txt"},
      {u"/data/*.txt", u""},
      {u"*NOSUCHFOLDER*/x", u""},
      {u"**/x", u""},
      {u"*DRIVES*/x", u"/x"},
      {u"", u""},
      // U+017F (long s) has S as its capital.
      {u"*\u017FYSTEM*/drivers", u"/opt/win/system32/drivers"},
      {u"*SYSTEM**x", u"/opt/win/system32*x"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(table.AnnouncePath(c.Path, u"*"), c.Expected) << ToNativePath(c.Path);
  EXPECT_EQ(table.AnnouncePath(u"*SYSTEM*/x", u""), u"*SYSTEM*/x");
  EXPECT_EQ(table.AnnouncePath(u"%SYSTEM%/x", u"%"), u"/opt/win/system32/x");
}

TEST(SysPathsTable, DenouncePathUsesTheLongestFolderFirstInTableOrder) {
  const TSysPaths table = FakeTable();
  const TPathCase cases[] = {
      {u"/opt/win/system32/drivers/x.sys", u"*SYSTEM*/drivers/x.sys"},
      {u"/opt/win/notepad.exe", u"*WINDOWS*/notepad.exe"},
      {u"/home/anna/Desktop/a.txt", u"*DESKTOP*/a.txt"},
      {u"/home/anna/Documents/a.txt", u"*MYDOCUMENTS*/a.txt"},
      {u"/home/anna/.bashrc", u"*PROFILE*/.bashrc"},
      {u"/home/anna/Desktopper", u"*DESKTOP*per"},
      {u"/HOME/ANNA/DESKTOP/Mixed.Case", u"*DESKTOP*/Mixed.Case"},
      {u"/HOME/\u00DCLF/MUSIK/Lied.mp3", u"*MYMUSIC*/Lied.mp3"},
      {u"/srv/elsewhere", u"/srv/elsewhere"},
      {u"", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(table.DenouncePath(c.Path, u"*"), c.Expected) << ToNativePath(c.Path);
}

TEST(SysPathsTable, DenouncedPathsAnnounceBackToThemselves) {
  const TSysPaths table = FakeTable();
  for (const auto& [id, folder] : kFolders) {
    const std::u16string path = folder + u"/sub/file.txt";
    EXPECT_EQ(table.AnnouncePath(table.DenouncePath(path, u"*"), u"*"), path) << id;
  }
}

TEST(NativePaths, ControlCharactersAreEscapedForTerminalsAndLogs) {
  const struct {
    std::string Text;
    std::string Shown;
  } cases[] = {
      {"plain \xC3\xBC name.txt", "plain \xC3\xBC name.txt"},
      {"\x1B[2J\x1B[HALL FILES RESTORED OK", "\\x1b[2J\\x1b[HALL FILES RESTORED OK"},
      {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
      {"back\\slash", "back\\\\slash"},
      {std::string("nul\0bell\x07" "del\x7F", 13), "nul\\x00bell\\x07del\\x7f"},
      {"csi\xC2\x9B" "2J, nbsp\xC2\xA0", "csi\\u009b2J, nbsp\xC2\xA0"},
      {"cut\xC2", "cut\xC2"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EscapeControls(c.Text), c.Shown);
}

TEST(NativePaths, ConvertBetweenUtf16AndUtf8) {
  const struct {
    std::u16string Wide;
    std::string Native;
  } roundTrips[] = {
      {u"/tmp/plain", "/tmp/plain"},
      {u"/tmp/\u00FC\u4E2D", "/tmp/\xC3\xBC\xE4\xB8\xAD"},
      {u"/tmp/\U0001F600", "/tmp/\xF0\x9F\x98\x80"},
      {u"", ""},
  };
  for (const auto& c : roundTrips) {
    EXPECT_EQ(ToNativePath(c.Wide), c.Native);
    EXPECT_EQ(FromNativePath(c.Native), c.Wide);
  }
  // What does not convert cleanly becomes U+FFFD, one per bad unit or byte.
  EXPECT_EQ(ToNativePath(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToNativePath(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  const struct {
    std::string Native;
    std::u16string Wide;
  } badBytes[] = {
      {"a\xFF" "b", u"a\uFFFDb"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},          // overlong "/"
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // an encoded surrogate
      {"\xE2\x82", u"\uFFFD\uFFFD"},          // cut short
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
  };
  for (const auto& c : badBytes)
    EXPECT_EQ(FromNativePath(c.Native), c.Wide) << c.Native;
}

// Sets environment variables for one test and puts the old values back.
class XdgEnvironment : public ::testing::Test {
protected:
  void SetUp() override {
    Set("HOME", FHome.Path().string());
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
      Set(name, std::nullopt);
  }
  void TearDown() override {
    for (const auto& [name, value] : FSaved)
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }

  void Set(const std::string& AName, const std::optional<std::string>& AValue) {
    if (!FSaved.contains(AName)) {
      const char* old = std::getenv(AName.c_str());
      FSaved[AName] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    AValue ? setenv(AName.c_str(), AValue->c_str(), 1) : unsetenv(AName.c_str());
  }

  std::string Home(const std::string& ASub) const { return (FHome.Path() / ASub).string(); }

  static std::string Folder(const TSysPaths& ATable, const std::u16string& AName) {
    for (int i = 0; i < ATable.Count(); ++i)
      if (ATable.Get(i).Name == AName)
        return ToNativePath(ATable.Get(i).Path);
    return "(no entry)";
  }

  testfiles::TTempFolder FHome;
  std::map<std::string, std::optional<std::string>> FSaved;
};

TEST_F(XdgEnvironment, DefaultsLieUnderTheHomeFolder) {
  const TSysPaths table;
  EXPECT_EQ(Folder(table, u"LOCAL_APPDATA"), Home(".local/share"));
  EXPECT_EQ(Folder(table, u"APPDATA"), Home(".config"));
  EXPECT_EQ(Folder(table, u"INTERNET_CACHE"), Home(".cache"));
  EXPECT_EQ(Folder(table, u"PROFILE"), FHome.Path().string());
  EXPECT_EQ(Folder(table, u"PERSONAL"), Home("Documents"));
  EXPECT_EQ(Folder(table, u"MYDOCUMENTS"), Home("Documents"));
  EXPECT_EQ(Folder(table, u"DESKTOP"), Home("Desktop"));
  EXPECT_EQ(Folder(table, u"MYPICTURES"), Home("Pictures"));
  EXPECT_EQ(Folder(table, u"STARTUP"), Home(".config/autostart"));
  for (const char16_t* virtualFolder : {u"BITBUCKET", u"DRIVES", u"NETWORK", u"PRINTERS", u"WINDOWS"})
    EXPECT_EQ(Folder(table, virtualFolder), "") << ToNativePath(virtualFolder);
  EXPECT_EQ(ToNativePath(table.AnnouncePath(AppDataPlaceholder, u"*")), Home(".local/share/Tarnwick"));
}

TEST_F(XdgEnvironment, BaseDirectoriesComeFromTheirVariablesWhenAbsolute) {
  Set("XDG_DATA_HOME", "/srv/data//");
  Set("XDG_CONFIG_HOME", "relative/config");  // relative values are ignored
  Set("XDG_CACHE_HOME", "");
  const TSysPaths table;
  EXPECT_EQ(Folder(table, u"LOCAL_APPDATA"), "/srv/data");
  EXPECT_EQ(Folder(table, u"FONTS"), "/srv/data/fonts");
  EXPECT_EQ(Folder(table, u"APPDATA"), Home(".config"));
  EXPECT_EQ(Folder(table, u"INTERNET_CACHE"), Home(".cache"));
}

TEST_F(XdgEnvironment, UserDirectoriesComeFromUserDirsFile) {
  const std::string config = Home("conf");
  Set("XDG_CONFIG_HOME", config);
  std::filesystem::create_directory(config);
  const std::string text =
      "# written by xdg-user-dirs-update\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/Papiere\"\n"
      "  XDG_DESKTOP_DIR=\"/srv/Arbeits fl\\\"che/\"\n"
      "XDG_MUSIC_DIR=\"relative/Musik\"\n"
      "XDG_VIDEOS_DIR=\"$HOMEVIDEOS\"\n"
      "XDG_PICTURES_DIR=\"$HOME\"\n"
      "not a line\n";
  testfiles::WriteFile(config + "/user-dirs.dirs", std::vector<std::uint8_t>(text.begin(), text.end()));
  const TSysPaths table;
  EXPECT_EQ(Folder(table, u"PERSONAL"), Home("Papiere"));
  EXPECT_EQ(Folder(table, u"MYDOCUMENTS"), Home("Papiere"));
  EXPECT_EQ(Folder(table, u"DESKTOPDIRECTORY"), "/srv/Arbeits fl\"che");
  EXPECT_EQ(Folder(table, u"MYMUSIC"), Home("Music"));
  EXPECT_EQ(Folder(table, u"MYVIDEO"), Home("Videos"));
  EXPECT_EQ(Folder(table, u"MYPICTURES"), FHome.Path().string());
}

TEST(AppData, FolderIsEmptyUntilSetAndTheProcessTableIsOne) {
  EXPECT_EQ(&SysPaths(), &SysPaths());
  EXPECT_EQ(AppDataFolder(), u"");
  SetAppDataFolder(SysPaths().AnnouncePath(AppDataPlaceholder, u"*"));
  EXPECT_TRUE(AppDataFolder().ends_with(u"/Tarnwick"));
  EXPECT_FALSE(AppDataFolder().starts_with(u"/Tarnwick")) << "LOCAL_APPDATA did not resolve";
  SetAppDataFolder(u"");
}

} // namespace
