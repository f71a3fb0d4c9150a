// A whole volume image, mutated anywhere, through a device held in memory:
// the scan, the overwrite analysis and the tree, then every file ticked and
// recovered into a target file system held in memory. Every restored file
// must lie below the target folder.

#include "SparseImage.h"

#include "engine/uAppContext.h"
#include "ntfs/uFSError.h"
#include "platform/uPrompt.h"
#include "tests/support/uMemoryFileSystem.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Room on the target: larger files are refused as they would be on a full
// disk, so that a crafted size cannot have the fuzzer copy gigabytes.
constexpr std::int64_t kTargetSpace = 16 * 1024 * 1024;
constexpr char kTarget[] = "/target";

// Below the target folder, without a component that climbs or stays put.
bool InsideTarget(const std::string& APath) {
  const std::string prefix = std::string(kTarget) + "/";
  if (APath.compare(0, prefix.size(), prefix) != 0)
    return false;
  for (std::size_t start = prefix.size(); start <= APath.size();) {
    const std::size_t end = std::min(APath.find('/', start), APath.size());
    const std::string component = APath.substr(start, end - start);
    if (component.empty() || component == "." || component == "..")
      return false;
    start = end + 1;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const auto device = std::make_shared<testsupport::TMemorySource>();
  fuzz::LoadSparseImage(*device, AData, ASize);

  const auto prompt = std::make_shared<TScriptedPrompt>();
  prompt->QueueAnswer(true); // go on when the whole selection does not fit
  const auto target = std::make_shared<testsupport::TMemoryFileSystem>();
  target->FreeBytes = kTargetSpace;
  TNTFSRecoveryContext context(prompt, target);
  context.SetSourceDrive(u"F:\\");
  context.SetSource(std::make_shared<const TOpenedSource>(TSourceRequest{}, device));
  try {
    context.ProcessScan();
  } catch (const FSError&) {
    return 0; // not a volume: said clearly, nothing to recover
  }
  context.CheckAll(context.TreeItems(), true);
  context.SetTargetDir(u"/target");
  context.ProcessRecover();
  for (const std::string& path : target->Created)
    if (!InsideTarget(path))
      std::abort();
  context.Clear();
  return 0;
}
