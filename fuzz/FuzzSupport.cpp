#include "FuzzSupport.h"

#include "app/Run.h"

#include <filesystem>
#include <system_error>

namespace Fuzz {

namespace {

class TScratch {
public:
  TScratch() {
    std::error_code Error;
    const bool Memory = std::filesystem::is_directory("/dev/shm", Error) && ::access("/dev/shm", W_OK) == 0;
    std::string Template = std::string(Memory ? "/dev/shm" : "/tmp") + "/kelpix-fuzz-XXXXXX";
    std::vector<char> Name(Template.begin(), Template.end());
    Name.push_back('\0');
    if (::mkdtemp(Name.data()) == nullptr) {
      std::perror("kelpix fuzz: cannot make a scratch directory");
      std::abort();
    }
    Path = Name.data();
  }
  ~TScratch() {
    std::error_code Ignored;
    std::filesystem::remove_all(Path, Ignored);
  }
  std::string Path;
};

}  // namespace

const std::string& ScratchDir() {
  static TScratch Scratch;
  return Scratch.Path;
}

void WriteFile(const std::string& Path, const uint8_t* Data, size_t Size) {
  std::FILE* File = std::fopen(Path.c_str(), "wb");
  FUZZ_CHECK(File != nullptr);
  FUZZ_CHECK(Size == 0 || std::fwrite(Data, 1, Size, File) == Size);
  FUZZ_CHECK(std::fclose(File) == 0);
}

TBytes ReadFile(const std::string& Path) {
  TBytes Bytes;
  std::FILE* File = std::fopen(Path.c_str(), "rb");
  FUZZ_CHECK(File != nullptr);
  uint8_t Chunk[65536];
  for (;;) {
    const size_t N = std::fread(Chunk, 1, sizeof Chunk, File);
    Bytes.insert(Bytes.end(), Chunk, Chunk + N);
    if (N < sizeof Chunk)
      break;
  }
  FUZZ_CHECK(!std::ferror(File));
  std::fclose(File);
  return Bytes;
}

int RunTool(const std::vector<std::string>& Arguments, std::string& Out) {
  std::vector<std::string> Texts;
  Texts.push_back("kelpix");
  Texts.insert(Texts.end(), Arguments.begin(), Arguments.end());
  std::vector<char*> Argv;
  for (std::string& Text : Texts)
    Argv.push_back(Text.data());
  Argv.push_back(nullptr);

  const std::string Capture = ScratchPath("stdout");
  std::fflush(stdout);
  const int Saved = ::dup(1);
  const int Fd = ::open(Capture.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(Saved >= 0 && Fd >= 0);
  FUZZ_CHECK(::dup2(Fd, 1) == 1);
  ::close(Fd);
  const int Status = Run(static_cast<int>(Texts.size()), Argv.data());
  std::fflush(stdout);
  FUZZ_CHECK(::dup2(Saved, 1) == 1);
  ::close(Saved);

  const TBytes Printed = ReadFile(Capture);
  Out.assign(Printed.begin(), Printed.end());
  return Status;
}

}  // namespace Fuzz
