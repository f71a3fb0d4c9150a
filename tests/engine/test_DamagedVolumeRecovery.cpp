// The damaged volumes scanned and recovered: each ends with a clear error,
// or with the files still found restored byte for byte, those the device
// could not fully deliver restored with zeros and a warning line naming the
// bytes, and nothing written outside the target folder.

#include "DamagedVolumes.h"
#include "tests/engine/EngineHarness.h"
#include "tests/support/uMemoryFileSystem.h"

#include "ntfs/uFSError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using damaged::TBytes;
using damaged::TDamageCase;
using enginetest::TProgressRecorder;
using ::testing::HasSubstr;

constexpr char kTarget[] = "/restored/";

std::string UnreadLine(const TByteRange& ARange) {
  return "Bytes " + std::to_string(ARange.Offset) + " to " + std::to_string(ARange.Offset + ARange.Length - 1) +
         " could not be read from the source drive and were written as zeros.";
}

class DamagedVolumeRecovery : public ::testing::TestWithParam<TDamageCase> {
protected:
  DamagedVolumeRecovery() : Context(Prompt, Target) {
    ProgressEx::AddView(Progress);
    Context.SetSourceDrive(u"K:\\");
    Context.SetTargetDir(u"/restored");
  }
  ~DamagedVolumeRecovery() override { ProgressEx::RemoveView(Progress); }

  // Every restored file by its name below the target folder.
  std::map<std::u16string, TBytes> Restored() const {
    std::map<std::u16string, TBytes> files;
    for (const auto& [path, bytes] : Target->Files) {
      EXPECT_EQ(path.rfind(kTarget, 0), 0u) << path;
      files[FromNativePath(path.substr(std::string(kTarget).size()))] = bytes;
    }
    return files;
  }

  std::shared_ptr<TScriptedPrompt> Prompt = std::make_shared<TScriptedPrompt>();
  std::shared_ptr<testsupport::TMemoryFileSystem> Target = std::make_shared<testsupport::TMemoryFileSystem>();
  std::shared_ptr<TProgressRecorder> Progress = std::make_shared<TProgressRecorder>();
  TNTFSRecoveryContext Context;
};

TEST_P(DamagedVolumeRecovery, ScanAndRecoveryEndWithAClearErrorOrAPartialResult) {
  const TDamageCase& c = GetParam();
  Context.SetSource(std::make_shared<const TOpenedSource>(TSourceRequest{}, c.Device()));
  if (c.Error != nullptr) {
    try {
      Context.ProcessScan();
      ADD_FAILURE() << "the scan opened the volume";
    } catch (const FSError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.Error));
    }
    EXPECT_EQ(Context.Items()->Count(), 0);
    return;
  }
  Context.ProcessScan();
  Context.CheckAll(Context.TreeItems(), true);
  Context.ProcessRecover();

  // A crafted size counts only as far as the runs reach, so no volume here
  // asks for more room than its files can fill.
  EXPECT_TRUE(Prompt->Shown().empty());
  // A file whose data is lost is restored empty, or not at all when no
  // data attribute is left to read.
  std::map<std::u16string, TBytes> expected = c.Found;
  std::map<std::u16string, TBytes> restored = Restored();
  for (const auto& [name, bytes] : c.Found)
    if (bytes.empty() && restored.count(name) == 0)
      expected.erase(name);
  EXPECT_EQ(restored, expected);

  std::vector<std::string> warnings;
  for (const auto& [first, last] : c.UnreadRecords)
    warnings.push_back((first == last ? "MFT record " + std::to_string(first)
                                      : "MFT records " + std::to_string(first) + " to " + std::to_string(last)) +
                       " could not be read from the source drive.");
  warnings.insert(warnings.end(), c.RunWarnings.begin(), c.RunWarnings.end());
  for (const auto& [name, ranges] : c.Unread)
    for (const TByteRange& range : ranges)
      warnings.push_back(UnreadLine(range));
  for (const auto& [name, ranges] : c.NoRuns)
    for (const TByteRange& range : ranges)
      warnings.push_back("Bytes " + std::to_string(range.Offset) + " to " +
                         std::to_string(range.Offset + range.Length - 1) +
                         " have no data runs and were written as zeros.");
  std::vector<std::string> shown;
  for (const enginetest::TProgressLine& line : Progress->Lines)
    if (line.Kind == enginetest::TProgressLine::plDetail && line.Status == pdsWarning)
      shown.push_back(line.Text);
  EXPECT_EQ(shown, warnings);
  EXPECT_THAT(Progress->Details(), ::testing::Contains("Recovering completed."));
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedVolumeRecovery, ::testing::ValuesIn(damaged::DamageCases()),
                         [](const ::testing::TestParamInfo<TDamageCase>& AInfo) { return AInfo.param.Name; });

} // namespace
