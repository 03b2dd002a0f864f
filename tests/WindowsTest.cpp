// What the Windows build does differently: page names compared by the system under the user's
// locale, files opened unshared so that another opener keeps kelpix out (and kelpix keeps others
// out), paths handed to the system as ANSI bytes, backslash and drive paths in refresh names, and
// the list report written with the platform's line ends.
#ifdef _WIN32

#include "BmpSupport.h"
#include "SavedImage.h"
#include "TestSupport.h"

#include "Sti/Sti.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

// A handle held by the test, as another program would hold the file.
class THeldFile {
public:
  THeldFile(const std::string& Path, DWORD Access, DWORD Share)
      : Handle(CreateFileA(Path.c_str(), Access, Share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~THeldFile() { Release(); }
  THeldFile(const THeldFile&) = delete;
  THeldFile& operator=(const THeldFile&) = delete;
  bool IsOpen() const { return Handle != INVALID_HANDLE_VALUE; }
  void Release() {
    if (Handle != INVALID_HANDLE_VALUE)
      CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
  }

private:
  HANDLE Handle;
};

// Whether another opener gets at the file with the given access while kelpix holds it, and the
// system's reason when it does not.
DWORD OtherOpenerError(const std::string& Path, DWORD Access) {
  const HANDLE Other = CreateFileA(Path.c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Other == INVALID_HANDLE_VALUE)
    return GetLastError();
  CloseHandle(Other);
  return ERROR_SUCCESS;
}

// The built binary as a Windows path (under Wine the build host's root is the drive Z:).
std::string BinaryPath() {
  std::string Path = KELPIX_EXE;
  if (!Path.empty() && Path[0] == '/')
    Path = "Z:" + Path;
  for (char& C : Path)
    if (C == '/')
      C = '\\';
  return Path;
}

// Runs the binary with its standard output going to the file OutputPath; returns the exit status.
int RunBinaryInto(const std::string& Arguments, const std::string& OutputPath) {
  SECURITY_ATTRIBUTES Inherited = {};
  Inherited.nLength = sizeof Inherited;
  Inherited.bInheritHandle = TRUE;
  const HANDLE Output = CreateFileA(OutputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherited, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Output == INVALID_HANDLE_VALUE)
    return -1;
  STARTUPINFOA Startup = {};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdInput = INVALID_HANDLE_VALUE;
  Startup.hStdOutput = Output;
  Startup.hStdError = Output;
  PROCESS_INFORMATION Process = {};
  std::string Command = "\"" + BinaryPath() + "\" " + Arguments;
  std::vector<char> Line(Command.begin(), Command.end());
  Line.push_back('\0');
  const BOOL Started =
      CreateProcessA(nullptr, Line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Startup, &Process);
  CloseHandle(Output);
  if (!Started)
    return -1;
  WaitForSingleObject(Process.hProcess, INFINITE);
  DWORD Code = 0;
  GetExitCodeProcess(Process.hProcess, &Code);
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  return static_cast<int>(Code);
}

TBytes ThreePages() {
  return MakeSti8({{2, 1, 0, 0, {2, 1, 2, 0}}, {3, 1, 4, 5, {3, 1, 2, 3, 0}}, {1, 2, -1, 9, {1, 7, 0, 1, 8, 0}}});
}

// The tests that name letters beyond ASCII give their bytes in code page 1252, the ANSI code page
// of the Western European and English locales (the CI script runs Wine under such a locale).
bool AnsiIsWestern() {
  return GetACP() == 1252;
}

}  // namespace

TEST(WindowsSameName, LettersBeyondAsciiFollowTheSystem) {
  if (!AnsiIsWestern())
    GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  const struct {
    const char* A;
    const char* B;
    bool Same;
  } Cases[] = {
      // Upper and lower case of the Latin-1 letters and of those that 1252 adds in 0x80-0x9F.
      {"\xC9", "\xE9", true},                      // E acute
      {"\xC0ME.BMP", "\xE0me.bmp", true},          // A grave, in a longer name
      {"\xDE\xD0\xC6", "\xFE\xF0\xE6", true},      // thorn, eth, ae
      {"\x8A\x8C\x9F", "\x9A\x9C\xFF", true},      // S caron, OE, Y diaeresis
      // The linguistic comparison: sharp s is ss, and a soft hyphen carries no weight.
      {"STRA\xDF" "E", "strasse", true},
      {"0\xAD" "01.bmp", "001.BMP", true},
      // Accents are not case: they still tell letters apart.
      {"\xE9", "e", false},
      {"\xC9", "E", false},
      {"\xE9", "\xE8", false},
      {"\xC5", "\xE4", false},
      // Not letters: multiplication and division signs sit 0x20 apart but have no case.
      {"\xD7", "\xF7", false},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(SameName(Case.A, Case.B), Case.Same) << "'" << Case.A << "' and '" << Case.B << "'";
}

TEST(WindowsSameName, BothTextsAreComparedWhole) {
  // Explicit lengths: a byte 0 inside a name does not end it.
  EXPECT_FALSE(SameName(std::string("001.bmp\0x", 9), "001.bmp"));
  EXPECT_FALSE(SameName(std::string("a\0b", 3), std::string("a\0c", 3)));
  EXPECT_TRUE(SameName(std::string("A\0b", 3), std::string("a\0B", 3)));
}

TEST_F(TScratchDir, WindowsPageNamesAreFoundByTheSystemComparison) {
  if (!AnsiIsWestern())
    GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  WriteFileBytes("a.sti", ThreePages());
  // A soft hyphen inside the name is ignored: the page 001.bmp is deleted.
  const TRunOutcome R = RunTool({"d", "a.sti", "0\xAD" "01.BMP"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  const std::vector<TSavedPage> Pages = SavedPages(ReadFileBytes("a.sti"));
  ASSERT_EQ(Pages.size(), 2u);
  EXPECT_EQ(Pages[0].Width, 2);
  EXPECT_EQ(Pages[1].Width, 1);
}

TEST_F(TScratchDir, WindowsImageHeldOpenElsewhereCannotBeOpened) {
  WriteFileBytes("a.sti", ThreePages());
  const struct {
    DWORD Access;
    DWORD Share;
  } Holders[] = {
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},  // a reader that shares everything
      {GENERIC_WRITE, FILE_SHARE_READ},                                        // a writer
      {GENERIC_READ, 0},                                                       // an exclusive reader
  };
  for (const auto& Holder : Holders) {
    THeldFile Held("a.sti", Holder.Access, Holder.Share);
    ASSERT_TRUE(Held.IsOpen());
    EXPECT_EQ(RunTool({"l", "a.sti"}).Status, 14) << Holder.Access << " " << Holder.Share;
    EXPECT_EQ(RunTool({"l", "a.sti"}).Out, "");
    // The same from a process of its own, as when another program holds the file.
    EXPECT_EQ(RunBinary("l a.sti"), 14);
  }
  EXPECT_EQ(RunTool({"l", "a.sti"}).Status, 0);
}

TEST_F(TScratchDir, WindowsOpenFilesAreNotShared) {
  WriteFileBytes("a.sti", ThreePages());
  const THandle Read = FileOpenRead("a.sti");
  ASSERT_NE(Read, InvalidHandle);
  EXPECT_EQ(OtherOpenerError("a.sti", GENERIC_READ), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OtherOpenerError("a.sti", GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  FileClose(Read);
  EXPECT_EQ(OtherOpenerError("a.sti", GENERIC_READ), static_cast<DWORD>(ERROR_SUCCESS));

  const THandle Created = FileCreate("new.sti");
  ASSERT_NE(Created, InvalidHandle);
  EXPECT_EQ(OtherOpenerError("new.sti", GENERIC_READ), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  FileClose(Created);

  // Neither opens a directory.
  CreateDirectoryA("dir.sti", nullptr);
  EXPECT_EQ(FileOpenRead("dir.sti"), InvalidHandle);
  EXPECT_EQ(FileCreate("dir.sti"), InvalidHandle);
  EXPECT_FALSE(FileExists("dir.sti"));
  EXPECT_TRUE(FileExists("A.STI"));  // the file system ignores case
}

TEST_F(TScratchDir, WindowsImageHeldOpenElsewhereCannotBeSaved) {
  const TBytes Original = ThreePages();
  WriteFileBytes("a.sti", Original);
  TSti Image;
  ASSERT_EQ(Image.Open("a.sti", 0), 0);
  ASSERT_EQ(Image.DeletePage("001.bmp"), 0);
  {
    THeldFile Held("a.sti", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(Held.IsOpen());
    EXPECT_EQ(Image.Save(""), 16);
  }
  EXPECT_EQ(ReadFileBytes("a.sti"), Original);
  // Once the other opener is gone the save goes through.
  EXPECT_EQ(Image.Save(""), 0);
  EXPECT_EQ(SavedPages(ReadFileBytes("a.sti")).size(), 2u);
  // Nothing of the failed attempt is left beside the file.
  WIN32_FIND_DATAA Found;
  const HANDLE Search = FindFirstFileA("*", &Found);
  ASSERT_NE(Search, INVALID_HANDLE_VALUE);
  std::vector<std::string> Names;
  do {
    const std::string Name = Found.cFileName;
    if (Name != "." && Name != "..")
      Names.push_back(Name);
  } while (FindNextFileA(Search, &Found));
  FindClose(Search);
  EXPECT_EQ(Names, std::vector<std::string>{"a.sti"});
}

TEST_F(TScratchDir, WindowsReadOnlyImageIsListedButNotSaved) {
  const TBytes Original = ThreePages();
  WriteFileBytes("ro.sti", Original);
  ASSERT_TRUE(SetFileAttributesA("ro.sti", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RunTool({"l", "ro.sti"}).Status, 0);
  // Wine keeps the attribute as the file's POSIX write permission, which does not stop root.
  const HANDLE Probe = CreateFileA("ro.sti", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Probe != INVALID_HANDLE_VALUE) {
    CloseHandle(Probe);
    SetFileAttributesA("ro.sti", FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "this system lets the user write a read-only file";
  }
  EXPECT_EQ(RunTool({"d", "ro.sti", "001.bmp"}).Status, 16);
  EXPECT_EQ(ReadFileBytes("ro.sti"), Original);
  EXPECT_EQ(GetFileAttributesA("ro.sti") & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  SetFileAttributesA("ro.sti", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(TScratchDir, WindowsListFileMayBeReadByOthersButNotWritten) {
  WriteFileBytes("a.sti", ThreePages());
  WriteFileBytes("names.txt", {'0', '0', '1', '.', 'b', 'm', 'p'});
  {
    THeldFile Reader("names.txt", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(Reader.IsOpen());
    EXPECT_EQ(RunTool({"d", "a.sti", "@names.txt"}).Status, 0);
  }
  EXPECT_EQ(SavedPages(ReadFileBytes("a.sti")).size(), 2u);
  {
    THeldFile Writer("names.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(Writer.IsOpen());
    const TRunOutcome R = RunTool({"d", "a.sti", "@names.txt"});
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Err.rfind("kelpix: cannot open 'names.txt': ", 0), 0u) << R.Err;
  }
  EXPECT_EQ(SavedPages(ReadFileBytes("a.sti")).size(), 2u);
}

TEST_F(TScratchDir, WindowsPathsAreAnsiBytes) {
  if (!AnsiIsWestern())
    GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  // Files made under their Unicode names are reached through the 1252 bytes of those names.
  const TBytes Image = ThreePages();
  const HANDLE File = CreateFileW(L"\u00E9t\u00E9.sti", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(File, INVALID_HANDLE_VALUE);
  DWORD Written = 0;
  WriteFile(File, Image.data(), static_cast<DWORD>(Image.size()), &Written, nullptr);
  CloseHandle(File);
  ASSERT_EQ(Written, Image.size());
  const HANDLE List = CreateFileW(L"n\u00F6.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(List, INVALID_HANDLE_VALUE);
  WriteFile(List, "002.bmp", 7, &Written, nullptr);
  CloseHandle(List);

  EXPECT_EQ(RunTool({"d", "\xE9t\xC9.STI", "@n\xF6.txt"}).Status, 0);
  EXPECT_EQ(SavedPages(ReadFileBytes("\xE9t\xE9.sti")).size(), 2u);
  EXPECT_EQ(RunTool({"l", "et\xE9.sti"}).Status, 14);
}

TEST_F(TScratchDir, WindowsRefreshNamesEndAtBackslashOrDriveColon) {
  // Each BMP file is one pixel of its own colour, so the page that took it shows which one it was.
  CreateDirectoryA("art", nullptr);
  WriteBmp("art\\001.bmp", PictureOfColors(1, {{10, 20, 30}}));
  WriteBmp("002.bmp", PictureOfColors(2, {{40, 50, 60}, {70, 80, 90}}));
  WriteBmp("art\\000.bmp", PictureOfColors(3, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
  const std::string Drive = Dir.substr(0, 2);  // the scratch directory's drive, such as C:
  ASSERT_EQ(Drive[1], ':');
  const std::string Absolute = Dir + (Dir.back() == '\\' ? "" : "\\") + "ART\\000.BMP";
  const struct {
    std::string Path;
    int Replaced;  // the page the file replaces; -1: it is appended
    int Width;
  } Cases[] = {
      {"art\\001.bmp", 1, 1},   // a backslash path: opened in the directory, named 001.bmp
      {Drive + "002.bmp", 2, 2}, // drive-relative: the current directory of that drive
      {Absolute, 0, 3},          // drive and backslashes, in other letter case
      {"art/001.bmp", -1, 1},   // a forward slash opens the file too, but is part of the name
  };
  for (const auto& Case : Cases) {
    WriteFileBytes("a.sti", ThreePages());
    const TRunOutcome R = RunTool({"m", "a.sti", Case.Path, "5", "-7"});
    ASSERT_EQ(R.Status, 0) << Case.Path << ": " << R.Err;
    const std::vector<TSavedPage> Pages = SavedPages(ReadFileBytes("a.sti"));
    ASSERT_EQ(Pages.size(), Case.Replaced < 0 ? 4u : 3u) << Case.Path;
    const size_t At = Case.Replaced < 0 ? 3 : static_cast<size_t>(Case.Replaced);
    EXPECT_EQ(Pages[At].Width, Case.Width) << Case.Path;
    EXPECT_EQ(Pages[At].OffsetX, 5) << Case.Path;
    EXPECT_EQ(Pages[At].OffsetY, -7) << Case.Path;
    const int16_t KeptWidths[] = {2, 3, 1};
    for (size_t I = 0; I < 3; ++I) {
      if (I != At) {
        EXPECT_EQ(Pages[I].Width, KeptWidths[I]) << Case.Path << " page " << I;
      }
    }
  }
}

TEST_F(TScratchDir, WindowsListReportEndsLinesWithCarriageReturnLineFeed) {
  WriteFileBytes("a.sti", ThreePages());
  ASSERT_EQ(RunBinaryInto("l a.sti", "out.txt"), 0);
  const TBytes Out = ReadFileBytes("out.txt");
  const std::string Text(Out.begin(), Out.end());
  const std::string Rule(79, '-');
  const std::string Expected =
      "Name                                    Size     Width Height DispX DispY\r\n" + Rule + "\r\n" +
      "000.bmp                                 60        2     1     0     0     \r\n"
      "001.bmp                                 63        3     1     4     5     \r\n"
      "002.bmp                                 60        1     2     -1    9     \r\n" +
      Rule + "\r\n";
  EXPECT_EQ(Text, Expected);
  // The usage text too.
  ASSERT_EQ(RunBinaryInto("", "usage.txt"), 100);
  const TBytes Usage = ReadFileBytes("usage.txt");
  size_t LineFeeds = 0;
  for (size_t I = 0; I < Usage.size(); ++I)
    if (Usage[I] == '\n') {
      ++LineFeeds;
      EXPECT_TRUE(I > 0 && Usage[I - 1] == '\r') << "bare line feed at " << I;
    }
  EXPECT_EQ(LineFeeds, 8u);
}

#endif  // _WIN32
