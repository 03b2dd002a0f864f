// Helpers shared by the fuzz targets: a check that stops the run with a message, a private scratch
// directory for the targets that go through files, and capturing what a whole run prints.
//
// The targets are built for Linux only (libFuzzer, or the replay driver in ReplayMain.cpp), so
// POSIX calls are used freely here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELPIX_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(KELPIX_FUZZ_ASAN)
#define KELPIX_FUZZ_ASAN 1
#endif
#ifdef KELPIX_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

// A property every input must keep. A broken one aborts, which libFuzzer reports as a crash and
// the replay driver as a failed test.
#define FUZZ_CHECK(Condition)                                                                   \
  do {                                                                                          \
    if (!(Condition)) {                                                                         \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #Condition);       \
      std::abort();                                                                             \
    }                                                                                           \
  } while (false)

namespace Fuzz {

using TBytes = std::vector<uint8_t>;

// Marks bytes as not to be touched: any access to them is reported by AddressSanitizer. Without it
// these do nothing.
inline void Poison(const void* Data, size_t Size) {
#ifdef KELPIX_FUZZ_ASAN
  ASAN_POISON_MEMORY_REGION(Data, Size);
#else
  (void)Data;
  (void)Size;
#endif
}
inline void Unpoison(const void* Data, size_t Size) {
#ifdef KELPIX_FUZZ_ASAN
  ASAN_UNPOISON_MEMORY_REGION(Data, Size);
#else
  (void)Data;
  (void)Size;
#endif
}

// A directory of this process's own, on a memory file system where there is one (the safe save
// flushes every file to the disk, which a memory file system makes cheap). Removed at exit.
const std::string& ScratchDir();

// The path of a file named Name in the scratch directory.
inline std::string ScratchPath(const std::string& Name) {
  return ScratchDir() + "/" + Name;
}

void WriteFile(const std::string& Path, const uint8_t* Data, size_t Size);
inline void WriteFile(const std::string& Path, const TBytes& Bytes) {
  WriteFile(Path, Bytes.data(), Bytes.size());
}
TBytes ReadFile(const std::string& Path);

// Runs the tool in-process with the given arguments (the program name is added) and returns its
// exit status; what it prints on standard output goes to Out. Standard error is left alone, so that
// a sanitizer's report of a fault inside the run is seen.
int RunTool(const std::vector<std::string>& Arguments, std::string& Out);

}  // namespace Fuzz
