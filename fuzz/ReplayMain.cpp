// Replays saved inputs through a fuzz target without libFuzzer: every file named on the command
// line, and every file in each directory named (in name order), is passed once to
// LLVMFuzzerTestOneInput. A broken check aborts the program; otherwise it reports how many inputs
// it ran. A directory that does not exist is passed over, so a target without saved crash files
// needs no special case.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

bool Replay(const std::filesystem::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    std::fprintf(stderr, "replay: cannot read %s\n", Path.string().c_str());
    return false;
  }
  const std::vector<char> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's length, so that a read past the end is caught as in libFuzzer.
  std::vector<uint8_t> Input(Bytes.begin(), Bytes.end());
  LLVMFuzzerTestOneInput(Input.empty() ? nullptr : Input.data(), Input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t Count = 0;
  bool Ok = true;
  for (int I = 1; I < argc; ++I) {
    const fs::path Path = argv[I];
    std::error_code Error;
    if (fs::is_directory(Path, Error)) {
      std::vector<fs::path> Files;
      for (const fs::directory_entry& Entry : fs::directory_iterator(Path))
        if (Entry.is_regular_file())
          Files.push_back(Entry.path());
      std::sort(Files.begin(), Files.end());
      for (const fs::path& File : Files) {
        Ok = Replay(File) && Ok;
        ++Count;
      }
    } else if (fs::exists(Path, Error)) {
      Ok = Replay(Path) && Ok;
      ++Count;
    } else {
      std::printf("replay: %s does not exist, passed over\n", Path.string().c_str());
    }
  }
  std::printf("replay: %zu inputs ran without a finding\n", Count);
  return Ok ? 0 : 1;
}
