// Faults met by the commands that save (delete, add, refresh), run through the whole tool: a
// read-only STI file, a directory without write access, a write that fails partway, a process that
// dies partway through its write, and a process killed with SIGKILL at several points of a save of
// a large image. Afterwards the STI file must hold, byte for byte, either the old image or the new
// one. After a failure the tool sees, no temporary file may remain; after the process was killed a
// stray temporary file beside the STI file is allowed (nothing is left to remove it), and the tool
// must still work with it there.
//
// SafeFileTest covers the same faults for the delete command alone; here every saving command
// meets them, with its BMP input, through the front end.
#include "SavedImage.h"

#include "app/Run.h"
#include "platform/Bitmap.h"
#include "platform/SafeFile.h"

#ifndef _WIN32

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char ImageName[] = "img.sti";

// One saving command and the BMP file it reads.
struct TCommand {
  const char* What;
  std::vector<std::string> Arguments;
};

const TCommand Commands[] = {
    {"delete", {"d", ImageName, "002.bmp"}},
    {"add", {"a", ImageName, "new.bmp", "5", "-7"}},
    {"refresh with adaptation", {"ma", ImageName, "sub\\001.bmp"}},
};

// A bitmap 13 pixels wide (rows not a multiple of 4 bytes) with red and blue that differ.
void WriteBitmap(const std::string& Path) {
  TBitmap Bitmap;
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(6);
  Bitmap.SetWidth(13);
  for (int Y = 0; Y < 6; ++Y)
    for (int X = 0; X < 13; ++X) {
      uint8_t* Pixel = Bitmap.ScanLine(Y) + 3 * X;
      Pixel[0] = static_cast<uint8_t>(X * 19);       // blue
      Pixel[1] = static_cast<uint8_t>(255 - Y * 40);  // green
      Pixel[2] = static_cast<uint8_t>(X * 7 + 100);   // red
    }
  Bitmap.SaveToFile(Path);
}

// An image of four pages whose data lie out of order, so that every save changes the file. Pages
// of Length bytes each; a large Length makes a save take long enough to be killed partway.
TBytes Image(size_t Length) {
  std::vector<TTestPage> Pages;
  for (int I = 0; I < 4; ++I)
    Pages.push_back(DistinctPage(I + 1, Length));
  Pages[0].DataOffset = static_cast<int64_t>(3 * Length);
  Pages[1].DataOffset = static_cast<int64_t>(2 * Length);
  Pages[2].DataOffset = static_cast<int64_t>(Length);
  Pages[3].DataOffset = 0;
  return MakeSti8(Pages);
}

// Lays out the files of a command: the image and both BMP inputs.
void Prepare(const TBytes& Source) {
  WriteFileBytes(ImageName, Source);
  WriteBitmap("new.bmp");
  WriteBitmap("sub\\001.bmp");  // a backslash is no separator here: one file whose name part is 001.bmp
}

const std::set<std::string> Inputs = {ImageName, "new.bmp", "sub\\001.bmp"};

// The entries of the current directory that are not the command's own files.
std::vector<std::string> Strays() {
  std::vector<std::string> Names;
  for (const auto& Entry : fs::directory_iterator("."))
    if (Inputs.count(Entry.path().filename().string()) == 0)
      Names.push_back(Entry.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

// What the command makes of Source when nothing goes wrong.
TBytes NewImage(const TCommand& Command, const TBytes& Source) {
  Prepare(Source);
  const TRunOutcome R = RunTool(Command.Arguments);
  EXPECT_EQ(R.Status, 0) << Command.What;
  TBytes New = ReadFileBytes(ImageName);
  EXPECT_NE(New, Source) << Command.What;
  EXPECT_EQ(Strays(), std::vector<std::string>{});
  Prepare(Source);
  return New;
}

}  // namespace

using FaultTest = TScratchDir;

// Failures the tool sees: the result is 16, the file is the old image and nothing else remains.
TEST_F(FaultTest, FailedSaveOfEveryCommandKeepsTheOldImage) {
  const TBytes Source = Image(600);
  struct TFault {
    const char* What;
    bool Unprivileged;
    std::function<void()> Arrange;  // in the parent, before the child starts
    std::function<void()> Arm;      // in the child, before the run
    std::function<void()> Restore;  // in the parent, afterwards
  };
  const auto NoOp = [] {};
  const auto Limit = [](rlim_t Bytes) {
    return [Bytes] {
      // The write fails with EFBIG at the limit instead of ending the process.
      ::signal(SIGXFSZ, SIG_IGN);
      const struct rlimit Value = {Bytes, Bytes};
      ::setrlimit(RLIMIT_FSIZE, &Value);
    };
  };
  const auto Seam = [](TSafeFileFault Fault) { return [Fault] { SafeFileFault = Fault; }; };
  const TFault Faults[] = {
      {"read-only STI file", true, [] { ::chmod(ImageName, 0444); ::chmod(".", 0777); }, NoOp,
       [] { ::chmod(".", 0755); }},
      {"directory not writable", true, [] { ::chmod(ImageName, 0666); ::chmod(".", 0555); }, NoOp,
       [] { ::chmod(".", 0755); }},
      {"file-size limit before the first byte", false, NoOp, Limit(0), NoOp},
      {"file-size limit partway", false, NoOp, Limit(1500), NoOp},
      {"disk full partway", false, NoOp, Seam({2000, false, false}), NoOp},
      {"flush fails", false, NoOp, Seam({-1, true, false}), NoOp},
      {"rename fails", false, NoOp, Seam({-1, false, true}), NoOp},
  };
  for (const TCommand& Command : Commands) {
    const TBytes New = NewImage(Command, Source);
    for (const TFault& Fault : Faults) {
      SCOPED_TRACE(std::string(Command.What) + ", " + Fault.What);
      Prepare(Source);
      Fault.Arrange();
      const TChildEnd End = RunInChild(Fault.Unprivileged, {ImageName, "new.bmp"}, [&] {
        Fault.Arm();
        return RunToolUncaptured(Command.Arguments);
      });
      Fault.Restore();
      if (!End.Skip.empty())
        GTEST_SKIP() << End.Skip;
      EXPECT_TRUE(End.Exited);
      EXPECT_EQ(End.Status, 16);
      EXPECT_EQ(ReadFileBytes(ImageName), Source);
      EXPECT_EQ(Strays(), std::vector<std::string>{});
      ::chmod(ImageName, 0644);
    }
    // With the faults gone the same command saves the new image.
    EXPECT_EQ(RunTool(Command.Arguments).Status, 0);
    EXPECT_EQ(ReadFileBytes(ImageName), New);
  }
}

// A process that dies in the middle of writing the new file, at chosen bytes: the file-size limit
// with its signal left at its default ends the process when the write reaches the limit, as a kill
// at exactly that point would.
TEST_F(FaultTest, DeathPartwayThroughTheWriteKeepsTheOldImage) {
  const TBytes Source = Image(600);
  for (const TCommand& Command : Commands) {
    const TBytes New = NewImage(Command, Source);
    for (const rlim_t At : {rlim_t(0), rlim_t(1), rlim_t(832), rlim_t(New.size() / 2), rlim_t(New.size() - 1)}) {
      SCOPED_TRACE(std::string(Command.What) + ", dies at byte " + std::to_string(At));
      Prepare(Source);
      const TChildEnd End = RunInChild(false, {}, [&] {
        const struct rlimit NoCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &NoCore);
        ::signal(SIGXFSZ, SIG_DFL);
        const struct rlimit Value = {At, At};
        ::setrlimit(RLIMIT_FSIZE, &Value);
        return RunToolUncaptured(Command.Arguments);
      });
      EXPECT_FALSE(End.Exited);
      EXPECT_EQ(End.Status, SIGXFSZ);
      EXPECT_EQ(ReadFileBytes(ImageName), Source);
      // The temporary file it was writing may remain, cut at the limit, and nothing else.
      for (const std::string& Stray : Strays()) {
        EXPECT_NE(Stray.find(".kelpix-"), std::string::npos) << Stray;
        EXPECT_LE(fs::file_size(Stray), At) << Stray;
        fs::remove(Stray);
      }
    }
  }
}

namespace {

// Starts the real program on the command, its output thrown away.
pid_t Spawn(const TCommand& Command) {
  std::vector<std::string> Texts = Command.Arguments;
  Texts.insert(Texts.begin(), KELPIX_EXE);
  std::vector<char*> Argv;
  for (std::string& Text : Texts)
    Argv.push_back(Text.data());
  Argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t Child = ::fork();
  if (Child == 0) {
    const int Null = ::open("/dev/null", O_WRONLY);
    ::dup2(Null, 1);
    ::dup2(Null, 2);
    ::execv(KELPIX_EXE, Argv.data());
    ::_exit(127);
  }
  return Child;
}

bool Finished(pid_t Child) {
  siginfo_t Info = {};
  return ::waitid(P_PID, static_cast<id_t>(Child), &Info, WEXITED | WNOHANG | WNOWAIT) == 0 && Info.si_pid == Child;
}

}  // namespace

// The real program, killed with SIGKILL at points of a save of an 8 MB image: when its temporary
// file appears, when a quarter and three quarters of it are written, once it is complete (while it
// is flushed, before the rename), and at shares of the time a whole run takes, which fall into the
// reading, the work in memory and the writing.
TEST_F(FaultTest, SigkillDuringSaveLeavesTheOldOrTheNewImage) {
  const TBytes Source = Image(2u << 20);
  struct TPoint {
    const char* What;
    double Written;  // kill once the temporary file holds this share of the new file
    double Time;     // when Written < 0: kill after this share of the time of a whole run
  };
  const TPoint Points[] = {
      {"temporary file created", 0.0, 0}, {"a quarter written", 0.25, 0}, {"three quarters written", 0.75, 0},
      {"written, not yet renamed", 1.0, 0}, {"at once", -1, 0}, {"at 20% of a run", -1, 0.2},
      {"at 40% of a run", -1, 0.4}, {"at 60% of a run", -1, 0.6}, {"at 80% of a run", -1, 0.8},
      {"at 95% of a run", -1, 0.95},
  };
  int KilledWithTemporary = 0;
  for (const TCommand& Command : Commands) {
    // A whole run, for the new image and the time it takes.
    Prepare(Source);
    const auto Start = std::chrono::steady_clock::now();
    const pid_t Clean = Spawn(Command);
    ASSERT_GT(Clean, 0);
    const TChildEnd CleanEnd = ReapChild(Clean);
    const auto Whole = std::chrono::steady_clock::now() - Start;
    ASSERT_TRUE(CleanEnd.Exited && CleanEnd.Status == 0) << Command.What << ": status " << CleanEnd.Status;
    const TBytes New = ReadFileBytes(ImageName);
    ASSERT_NE(New, Source);

    for (const TPoint& Point : Points) {
      SCOPED_TRACE(std::string(Command.What) + ", killed " + Point.What);
      Prepare(Source);
      const pid_t Child = Spawn(Command);
      ASSERT_GT(Child, 0);
      bool SawTemporary = false;
      if (Point.Written < 0) {
        std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(Whole * Point.Time));
      } else {
        const double Want = Point.Written * static_cast<double>(New.size());
        while (!SawTemporary && !Finished(Child)) {
          std::error_code Error;
          for (const std::string& Stray : Strays()) {
            const auto Size = fs::file_size(Stray, Error);
            SawTemporary = SawTemporary || (!Error && static_cast<double>(Size) >= Want);
          }
        }
      }
      ::kill(Child, SIGKILL);
      const TChildEnd End = ReapChild(Child);
      EXPECT_TRUE(!End.Exited || End.Status == 0) << "exit status " << End.Status;
      if (SawTemporary && !End.Exited)
        ++KilledWithTemporary;

      const TBytes After = ReadFileBytes(ImageName);
      EXPECT_TRUE(After == Source || After == New) << "the STI file is neither the old nor the new image ("
                                                   << After.size() << " bytes)";
      if (End.Exited) {
        EXPECT_EQ(After, New);
      }
      for (const std::string& Stray : Strays())
        EXPECT_NE(Stray.find(".kelpix-"), std::string::npos) << Stray;

      // A stray temporary file does not stand in the way of the next save.
      EXPECT_EQ(RunTool(Command.Arguments).Status, 0);
      if (After == Source) {
        EXPECT_EQ(ReadFileBytes(ImageName), New);
      }
      for (const std::string& Stray : Strays())
        fs::remove(Stray);
    }
  }
  // The polled points are met while the temporary file exists, so some kills hit the save itself.
  EXPECT_GT(KilledWithTemporary, 0);
}

#endif  // !_WIN32
