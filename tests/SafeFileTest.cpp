// Saving that fails for real: a full disk, a failing flush or rename, a file-size limit, a
// read-only file, a directory without write access, a file open elsewhere. Each time the original
// must stay byte for byte as it was and no temporary file may remain. Also what a successful save
// keeps of the file it replaces: its permission bits, owner and group, and a symbolic link.
#include "SavedImage.h"

#include "Sti/Sti.h"
#include "app/Run.h"
#include "platform/Files.h"
#include "platform/SafeFile.h"

#include <algorithm>
#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::vector<std::string> DirectoryEntries(const std::string& Dir) {
  std::vector<std::string> Names;
  for (const auto& Entry : fs::directory_iterator(Dir))
    Names.push_back(Entry.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

// Four pages whose data lie out of order, so that any save changes the file; a few kilobytes, so
// that a write limit can stop it partway.
TBytes FourPageImage() {
  std::vector<TTestPage> Pages = {DistinctPage(1, 1500), DistinctPage(2, 700), DistinctPage(3, 0),
                                  DistinctPage(4, 2100)};
  Pages[0].DataOffset = 2900;
  Pages[1].DataOffset = 2100;
  Pages[2].DataOffset = 0;
  Pages[3].DataOffset = 0;
  return MakeSti8(Pages);
}

// Disarms the write seam when a test ends, however it ends.
struct TFaultGuard {
  ~TFaultGuard() { SafeFileFault = TSafeFileFault(); }
};


}  // namespace

TEST_F(TScratchDir, FailedSaveLeavesTheOriginalAndNoTemporaryFile) {
  struct TCase {
    const char* What;
    TSafeFileFault Fault;
  };
  const TCase Cases[] = {
      {"disk full before the first byte", {0, false, false}},
      {"disk full partway", {1000, false, false}},
      {"disk full one byte short", {832 + 3 * 16 + 1500 + 700 + 2100 - 1, false, false}},
      {"flush fails", {-1, true, false}},
      {"rename fails", {-1, false, true}},
  };
  const TBytes Source = FourPageImage();
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TFaultGuard Guard;
    WriteFileBytes("img.sti", Source);
    TSti Image;
    ASSERT_EQ(Image.Open("img.sti", 0), 0);
    ASSERT_EQ(Image.DeletePage("002.bmp"), 0);
    SafeFileFault = Case.Fault;
    EXPECT_EQ(Image.Save(""), 16);
    EXPECT_EQ(ReadFileBytes("img.sti"), Source);
    EXPECT_EQ(DirectoryEntries("."), std::vector<std::string>{"img.sti"});

    // The image in memory is unharmed and saves once the fault is gone.
    SafeFileFault = TSafeFileFault();
    ASSERT_EQ(Image.Save(""), 0);
    EXPECT_EQ(SavedPages(ReadFileBytes("img.sti")).size(), 3u);
    EXPECT_EQ(DirectoryEntries("."), std::vector<std::string>{"img.sti"});
  }
}

TEST_F(TScratchDir, SaveOfAFileOpenElsewhereGives16) {
  const TBytes Source = FourPageImage();
  WriteFileBytes("busy.sti", Source);
  TSti Image;
  ASSERT_EQ(Image.Open("busy.sti", 0), 0);
  const THandle Other = FileOpenRead("busy.sti");
  ASSERT_NE(Other, InvalidHandle);
  EXPECT_EQ(Image.Save(""), 16);
  FileClose(Other);
  EXPECT_EQ(ReadFileBytes("busy.sti"), Source);
  EXPECT_EQ(DirectoryEntries("."), std::vector<std::string>{"busy.sti"});
}

#ifndef _WIN32

namespace {

mode_t ModeOf(const std::string& Path) {
  struct stat Info;
  return ::stat(Path.c_str(), &Info) == 0 ? (Info.st_mode & 07777) : 0;
}

}  // namespace

TEST_F(TScratchDir, DeleteOnAReadOnlyFileGives16) {
  const TBytes Source = FourPageImage();
  WriteFileBytes("ro.sti", Source);
  ASSERT_EQ(::chmod("ro.sti", 0444), 0);
  // The directory is open to everyone, so only the file's own mode can stop the save.
  ASSERT_EQ(::chmod(".", 0777), 0);
  const TChildEnd Child = RunInChild(true, {"ro.sti"}, [] { return RunToolUncaptured({"d", "ro.sti", "001.bmp"}); });
  if (!Child.Skip.empty())
    GTEST_SKIP() << Child.Skip;
  EXPECT_EQ(Child.Status, 16);
  EXPECT_EQ(ReadFileBytes("ro.sti"), Source);
  EXPECT_EQ(ModeOf("ro.sti"), 0444u);
  EXPECT_EQ(DirectoryEntries("."), std::vector<std::string>{"ro.sti"});
}

TEST_F(TScratchDir, SaveInADirectoryWithoutWriteAccessGives16) {
  const TBytes Source = FourPageImage();
  WriteFileBytes("locked.sti", Source);
  // The file itself is writable by everyone; only the directory refuses new files.
  ASSERT_EQ(::chmod("locked.sti", 0666), 0);
  ASSERT_EQ(::chmod(".", 0555), 0);
  const TChildEnd Child =
      RunInChild(true, {"locked.sti"}, [] { return RunToolUncaptured({"d", "locked.sti", "000.bmp"}); });
  ::chmod(".", 0755);
  if (!Child.Skip.empty())
    GTEST_SKIP() << Child.Skip;
  EXPECT_EQ(Child.Status, 16);
  EXPECT_EQ(ReadFileBytes("locked.sti"), Source);
  EXPECT_EQ(DirectoryEntries("."), std::vector<std::string>{"locked.sti"});
}

TEST_F(TScratchDir, SaveStoppedByAFileSizeLimitGives16) {
  const TBytes Source = FourPageImage();
  WriteFileBytes("big.sti", Source);
  const TChildEnd Child = RunInChild(false, {"big.sti"}, [] {
    // The limit stops the write of the new file partway; the signal is ignored, so the write
    // fails with EFBIG instead of ending the process.
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit Limit = {1024, 1024};
    if (::setrlimit(RLIMIT_FSIZE, &Limit) != 0)
      return 99;
    return RunToolUncaptured({"d", "big.sti", "003.bmp"});
  });
  ASSERT_TRUE(Child.Skip.empty()) << Child.Skip;
  EXPECT_EQ(Child.Status, 16);
  EXPECT_EQ(ReadFileBytes("big.sti"), Source);
  EXPECT_EQ(DirectoryEntries("."), std::vector<std::string>{"big.sti"});
}

TEST_F(TScratchDir, SaveKeepsPermissionBitsOwnerAndGroup) {
  const bool Root = ::geteuid() == 0;
  for (const mode_t Mode : {mode_t(0640), mode_t(0604), mode_t(0751)}) {
    SCOPED_TRACE("mode " + std::to_string(Mode));
    WriteFileBytes("kept.sti", FourPageImage());
    ASSERT_EQ(::chmod("kept.sti", Mode), 0);
    if (Root) {
      ASSERT_EQ(::chown("kept.sti", 65534, 65534), 0);
    }
    TSti Image;
    ASSERT_EQ(Image.Open("kept.sti", 0), 0);
    ASSERT_EQ(Image.DeletePage("000.bmp"), 0);
    ASSERT_EQ(Image.Save(""), 0);
    ASSERT_EQ(SavedPages(ReadFileBytes("kept.sti")).size(), 3u);
    struct stat Info;
    ASSERT_EQ(::stat("kept.sti", &Info), 0);
    EXPECT_EQ(Info.st_mode & 07777, Mode);
    if (Root) {
      EXPECT_EQ(Info.st_uid, 65534u);
      EXPECT_EQ(Info.st_gid, 65534u);
    }
  }
}

TEST_F(TScratchDir, SaveThroughASymbolicLinkReplacesTheFileItPointsTo) {
  fs::create_directory("real");
  WriteFileBytes("real/target.sti", FourPageImage());
  ASSERT_EQ(::chmod("real/target.sti", 0640), 0);
  ASSERT_EQ(::symlink("real/target.sti", "link.sti"), 0);

  const TRunOutcome R = RunTool({"d", "link.sti", "001.bmp"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status("link.sti")));
  EXPECT_EQ(fs::read_symlink("link.sti").string(), "real/target.sti");
  const std::vector<TSavedPage> Back = SavedPages(ReadFileBytes("real/target.sti"));
  ASSERT_EQ(Back.size(), 3u);
  ExpectSamePage(Back[0], DistinctPage(1, 1500), "page 000.bmp");
  ExpectSamePage(Back[1], DistinctPage(3, 0), "page 002.bmp");
  ExpectSamePage(Back[2], DistinctPage(4, 2100), "page 003.bmp");
  EXPECT_EQ(ModeOf("real/target.sti"), 0640u);
  EXPECT_EQ(DirectoryEntries("."), (std::vector<std::string>{"link.sti", "real"}));
  EXPECT_EQ(DirectoryEntries("real"), std::vector<std::string>{"target.sti"});
}

#endif  // !_WIN32
