// Runs a fuzz target's entry point over files, for builds without libFuzzer:
// every input a fuzzer ever crashed on is kept under tests/fuzz/cases/ and
// replayed by the ordinary test run, under the sanitizers of that build.
//   replay PATH...   (a folder stands for every file in it)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const fs::path& APath) {
  if (!fs::is_directory(APath))
    return {APath};
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(APath))
    if (entry.is_regular_file())
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace

int main(int AArgc, char** AArgv) {
  int replayed = 0;
  for (int i = 1; i < AArgc; ++i) {
    if (!fs::exists(AArgv[i]))
      continue;
    for (const fs::path& input : Inputs(AArgv[i])) {
      std::ifstream in(input, std::ios::binary);
      const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::printf("replaying %s\n", input.string().c_str());
      std::fflush(stdout);
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return 0;
}
