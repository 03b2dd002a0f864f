#include "TestSupport.h"

#include "app/Run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>

TBytes DistinctPalette() {
  TBytes Palette(768);
  for (int I = 0; I < 256; ++I) {
    Palette[static_cast<size_t>(I) * 3] = static_cast<uint8_t>(I);
    Palette[static_cast<size_t>(I) * 3 + 1] = static_cast<uint8_t>(255 - I);
    Palette[static_cast<size_t>(I) * 3 + 2] = static_cast<uint8_t>((I * 7) & 255);
  }
  return Palette;
}

void PutLE(TBytes& Bytes, size_t At, size_t Width, uint32_t Value) {
  if (Bytes.size() < At + Width)
    Bytes.resize(At + Width);
  for (size_t I = 0; I < Width; ++I)
    Bytes[At + I] = static_cast<uint8_t>(Value >> (8 * I));
}

uint32_t GetLE(const TBytes& Bytes, size_t At, size_t Width) {
  uint32_t Value = 0;
  for (size_t I = 0; I < Width && At + I < Bytes.size(); ++I)
    Value |= static_cast<uint32_t>(Bytes[At + I]) << (8 * I);
  return Value;
}

TBytes MakeSti8(const std::vector<TTestPage>& Pages, const TBytes& Palette, int64_t OriginalSize,
                int64_t StoredSize) {
  TBytes Bytes(832, 0);
  Bytes[0] = 'S';
  Bytes[1] = 'T';
  Bytes[2] = 'C';
  Bytes[3] = 'I';
  std::copy_n(Palette.begin(), std::min<size_t>(Palette.size(), 768), Bytes.begin() + 64);
  const size_t DataArea = 832 + 16 * Pages.size();
  Bytes.resize(DataArea, 0);
  uint32_t Running = 0;
  uint32_t Total = 0;
  for (size_t I = 0; I < Pages.size(); ++I) {
    const TTestPage& Page = Pages[I];
    const uint32_t Offset = Page.DataOffset >= 0 ? static_cast<uint32_t>(Page.DataOffset) : Running;
    const size_t Entry = 832 + 16 * I;
    PutLE(Bytes, Entry, 4, Offset);
    PutLE(Bytes, Entry + 4, 4, static_cast<uint32_t>(Page.Data.size()));
    PutLE(Bytes, Entry + 8, 2, static_cast<uint16_t>(Page.OffsetX));
    PutLE(Bytes, Entry + 10, 2, static_cast<uint16_t>(Page.OffsetY));
    PutLE(Bytes, Entry + 12, 2, static_cast<uint16_t>(Page.Height));
    PutLE(Bytes, Entry + 14, 2, static_cast<uint16_t>(Page.Width));
    if (Bytes.size() < DataArea + Offset + Page.Data.size())
      Bytes.resize(DataArea + Offset + Page.Data.size(), 0);
    std::copy(Page.Data.begin(), Page.Data.end(), Bytes.begin() + static_cast<std::ptrdiff_t>(DataArea + Offset));
    if (Page.DataOffset < 0)
      Running += static_cast<uint32_t>(Page.Data.size());
    Total += static_cast<uint32_t>(Page.Data.size());
  }
  PutLE(Bytes, 4, 4, static_cast<uint32_t>(OriginalSize >= 0 ? OriginalSize : Total));
  PutLE(Bytes, 8, 4, static_cast<uint32_t>(StoredSize >= 0 ? StoredSize : Total));
  PutLE(Bytes, 28, 2, static_cast<uint16_t>(Pages.size()));
  return Bytes;
}

TBytes MakeSti16(int16_t Width, int16_t Height, const std::vector<uint16_t>& Words) {
  TBytes Bytes(64, 0);
  Bytes[0] = 'S';
  Bytes[1] = 'T';
  Bytes[2] = 'C';
  Bytes[3] = 'I';
  Bytes[16] = 4;
  PutLE(Bytes, 20, 2, static_cast<uint16_t>(Height));
  PutLE(Bytes, 22, 2, static_cast<uint16_t>(Width));
  for (uint16_t Word : Words) {
    Bytes.push_back(static_cast<uint8_t>(Word));
    Bytes.push_back(static_cast<uint8_t>(Word >> 8));
  }
  return Bytes;
}

TBytes ReadFileBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary | std::ios::ate);
  if (!In)
    return TBytes();
  TBytes Bytes(static_cast<size_t>(In.tellg()));
  In.seekg(0);
  In.read(reinterpret_cast<char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  Bytes.resize(static_cast<size_t>(In.gcount()));
  return Bytes;
}

void WriteFileBytes(const std::string& Path, const TBytes& Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

bool PathExists(const std::string& Path) {
  std::error_code Ignored;
  return std::filesystem::exists(Path, Ignored);
}

void TScratchDir::SetUp() {
  namespace fs = std::filesystem;
  Previous = fs::current_path().string();
  const ::testing::TestInfo* Info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string Name = std::string(Info->test_suite_name()) + "." + Info->name();
  for (char& C : Name)
    if (C == '/' || C == '\\')
      C = '_';
  static int Serial = 0;
#ifdef _WIN32
  const long Process = static_cast<long>(GetCurrentProcessId());
#else
  const long Process = static_cast<long>(getpid());
#endif
  fs::path Path = fs::temp_directory_path() /
                  ("kelpix-test-" + Name + "-" + std::to_string(Process) + "-" + std::to_string(++Serial));
  fs::remove_all(Path);
  fs::create_directories(Path);
  fs::current_path(Path);
  Dir = Path.string();
}

void TScratchDir::TearDown() {
  namespace fs = std::filesystem;
  fs::current_path(Previous);
  std::error_code Ignored;
  fs::permissions(Dir, fs::perms::owner_all, fs::perm_options::add, Ignored);
  fs::remove_all(Dir, Ignored);
}

int RunToolUncaptured(const std::vector<std::string>& Arguments) {
  std::vector<std::string> Texts;
  Texts.push_back("kelpix");
  Texts.insert(Texts.end(), Arguments.begin(), Arguments.end());
  std::vector<char*> Argv;
  for (std::string& Text : Texts)
    Argv.push_back(Text.data());
  Argv.push_back(nullptr);
  return Run(static_cast<int>(Texts.size()), Argv.data());
}

TRunOutcome RunTool(const std::vector<std::string>& Arguments) {
  TRunOutcome Outcome;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  Outcome.Status = RunToolUncaptured(Arguments);
  std::fflush(stdout);
  std::fflush(stderr);
  Outcome.Out = ::testing::internal::GetCapturedStdout();
  Outcome.Err = ::testing::internal::GetCapturedStderr();
  return Outcome;
}

#ifdef _WIN32

namespace {

// The built binary as a Windows path. A cross build on a POSIX host names it by a host path; under
// Wine the host's root directory is the drive Z:.
std::string BinaryPath() {
  std::string Path = KELPIX_EXE;
  if (!Path.empty() && Path[0] == '/')
    Path = "Z:" + Path;
  for (char& C : Path)
    if (C == '/')
      C = '\\';
  return Path;
}

}  // namespace

// Windows has no shell that all programs share; the binary is started directly and splits its
// command line by the usual rules (blanks separate, double quotes group). Its output goes to NUL.
int RunBinary(const std::string& ArgumentsForShell) {
  const std::string Command = "\"" + BinaryPath() + "\" " + ArgumentsForShell;
  std::vector<char> Line(Command.begin(), Command.end());
  Line.push_back('\0');
  SECURITY_ATTRIBUTES Inherited = {};
  Inherited.nLength = sizeof Inherited;
  Inherited.bInheritHandle = TRUE;
  const HANDLE Null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &Inherited,
                                  OPEN_EXISTING, 0, nullptr);
  if (Null == INVALID_HANDLE_VALUE)
    return -1;
  STARTUPINFOA Startup = {};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdInput = Null;
  Startup.hStdOutput = Null;
  Startup.hStdError = Null;
  PROCESS_INFORMATION Process = {};
  const BOOL Started =
      CreateProcessA(nullptr, Line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Startup, &Process);
  CloseHandle(Null);
  if (!Started)
    return -1;
  WaitForSingleObject(Process.hProcess, INFINITE);
  DWORD Code = 0;
  const BOOL Known = GetExitCodeProcess(Process.hProcess, &Code);
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  return Known ? static_cast<int>(Code) : -1;
}

#else

int RunBinary(const std::string& ArgumentsForShell) {
  const std::string Command = std::string("\"") + KELPIX_EXE + "\" " + ArgumentsForShell + " >/dev/null 2>&1";
  const int Raw = std::system(Command.c_str());
  return WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
}

#endif

#ifndef _WIN32
TChildEnd ReapChild(int Child) {
  int Raw = 0;
  TChildEnd End;
  if (::waitpid(Child, &Raw, 0) != Child)
    return End;
  End.Exited = WIFEXITED(Raw);
  End.Status = End.Exited ? WEXITSTATUS(Raw) : WIFSIGNALED(Raw) ? WTERMSIG(Raw) : -1;
  return End;
}

TChildEnd RunInChild(bool Unprivileged, const std::vector<std::string>& Reach, const std::function<int()>& Body) {
  constexpr int CannotDrop = 125;
  constexpr int CannotReach = 124;
  std::fflush(nullptr);
  const pid_t Child = ::fork();
  if (Child < 0) {
    TChildEnd End;
    End.Skip = "fork failed";
    return End;
  }
  if (Child == 0) {
    if (Unprivileged && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::geteuid() == 0))
      ::_exit(CannotDrop);
    for (const std::string& Path : Reach)
      if (::access(Path.c_str(), R_OK) != 0)
        ::_exit(CannotReach);
    ::_exit(Body() & 0xFF);
  }
  TChildEnd End = ReapChild(Child);
  if (End.Exited && End.Status == CannotDrop)
    End.Skip = "cannot drop to user nobody (65534) to test permission failures as root";
  else if (End.Exited && End.Status == CannotReach)
    End.Skip = "the scratch directory is not reachable by an unprivileged user";
  return End;
}
#endif
