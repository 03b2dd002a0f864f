// Helpers shared by the tests: STI and BMP files made in memory, a scratch directory that is the
// current directory while a test runs, and whole runs of the tool driven in-process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// One page of an 8-bit image as the tests describe it.
struct TTestPage {
  int16_t Width = 0;
  int16_t Height = 0;
  int16_t OffsetX = 0;
  int16_t OffsetY = 0;
  TBytes Data;
  // When set, the entry's DataOffset; otherwise the pages' data lie back to back.
  int64_t DataOffset = -1;
};

// A palette of 256 distinct colours: entry i is (i, 255 - i, (i * 7) & 255).
TBytes DistinctPalette();

// The bytes of an 8-bit image. Header fields other than those given are 0; OriginalSize and
// StoredSize are both the total length of the pages' data unless given. Data at explicit offsets
// is placed in a data area sized to hold it.
TBytes MakeSti8(const std::vector<TTestPage>& Pages, const TBytes& Palette = DistinctPalette(),
                int64_t OriginalSize = -1, int64_t StoredSize = -1);
// The bytes of a 16-bit image of Width × Height words, top row first.
TBytes MakeSti16(int16_t Width, int16_t Height, const std::vector<uint16_t>& Words);

// Little-endian fields, for building and checking files by hand.
void PutLE(TBytes& Bytes, size_t At, size_t Width, uint32_t Value);
uint32_t GetLE(const TBytes& Bytes, size_t At, size_t Width);

TBytes ReadFileBytes(const std::string& Path);
void WriteFileBytes(const std::string& Path, const TBytes& Bytes);
bool PathExists(const std::string& Path);

// A fresh directory that is the current directory for the test's lifetime.
class TScratchDir : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  std::string Dir;

private:
  std::string Previous;
};

// The outcome of one whole run of the tool.
struct TRunOutcome {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs the tool in-process with the given arguments (the program name is added), capturing what it
// prints on standard output and standard error.
TRunOutcome RunTool(const std::vector<std::string>& Arguments);
// Runs the tool in-process without capturing anything: for child processes whose output nobody reads.
int RunToolUncaptured(const std::vector<std::string>& Arguments);
// Runs the built binary through the system's shell and returns the exit status it reports.
int RunBinary(const std::string& ArgumentsForShell);

#ifndef _WIN32
// How a child process ended.
struct TChildEnd {
  bool Exited = false;
  int Status = -1;   // the exit status, or the signal that ended it
  std::string Skip;  // why the child could not run as asked, when it could not
};
// Waits for a child process.
TChildEnd ReapChild(int Child);
// Runs Body in a forked child, which ends with its result. Unprivileged: root passes over
// permission bits, so a child of root first drops to user and group nobody (65534), and must then
// still be able to read every path of Reach; when it cannot, Skip says why.
TChildEnd RunInChild(bool Unprivileged, const std::vector<std::string>& Reach, const std::function<int()>& Body);
#endif
