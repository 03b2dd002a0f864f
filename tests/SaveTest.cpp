// Saving an image: the layout written, the header fields brought up to date, and the cases in
// which nothing is written.
#include "SavedImage.h"

#include "Sti/Sti.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

// Gives every header byte that no field uses a value of its own, so that a save which drops or
// moves any of them shows.
void MarkUnusedHeaderBytes(TBytes& File, size_t At = 0) {
  for (size_t I : {12, 13, 14, 15, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27})
    File[At + I] = static_cast<uint8_t>(0xA0 + I);
  for (size_t I = 30; I < 64; ++I)
    File[At + I] = static_cast<uint8_t>(0x40 + I);
}

// Expects the saved file to carry the source's header, apart from OriginalSize, StoredSize and
// PageCount, and all 768 bytes of its palette.
void ExpectHeaderAndPaletteKept(const TBytes& Saved, const TBytes& Source) {
  ASSERT_GE(Saved.size(), 832u);
  ASSERT_GE(Source.size(), 832u);
  for (size_t I = 0; I < 832; ++I) {
    if ((I >= 4 && I < 12) || I == 28 || I == 29)
      continue;
    EXPECT_EQ(Saved[I], Source[I]) << "byte " << I;
  }
}

void AppendRecord(TSti& Image, uint32_t DataOffset, const TBytes& Data) {
  auto Page = std::make_unique<TStiRecord>();
  Page->DataOffset = DataOffset;
  Page->DataLength = static_cast<uint32_t>(Data.size());
  Page->Data = Data;
  Image.Pages.SetObject(Image.Pages.Add(""), Page.release());
}

std::vector<std::string> DirectoryEntries(const std::string& Dir) {
  std::vector<std::string> Names;
  for (const auto& Entry : std::filesystem::directory_iterator(Dir))
    Names.push_back(Entry.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

}  // namespace

TEST_F(TScratchDir, SaveLaysOutPagesBackToBackInTableOrder) {
  // Pages of 10, 0 and 7 bytes whose data lie in reverse order in the source, with a gap.
  std::vector<TTestPage> Pages = {DistinctPage(1, 10), DistinctPage(2, 0), DistinctPage(3, 7)};
  Pages[0].DataOffset = 20;
  Pages[1].DataOffset = 3;
  Pages[2].DataOffset = 0;
  TBytes Source = MakeSti8(Pages);
  MarkUnusedHeaderBytes(Source);
  WriteFileBytes("three.sti", Source);

  TSti Image;
  ASSERT_EQ(Image.Open("three.sti", 0), 0);
  ASSERT_EQ(Image.Save(""), 0);
  EXPECT_EQ(Image.Record(0)->DataOffset, 0u);
  EXPECT_EQ(Image.Record(1)->DataOffset, 10u);
  EXPECT_EQ(Image.Record(2)->DataOffset, 10u);

  const TBytes Saved = ReadFileBytes("three.sti");
  ASSERT_EQ(Saved.size(), 897u);
  EXPECT_EQ(GetLE(Saved, 28, 2), 3u);
  EXPECT_EQ(GetLE(Saved, 8, 4), 17u);
  EXPECT_EQ(GetLE(Saved, 832, 4), 0u);
  EXPECT_EQ(GetLE(Saved, 836, 4), 10u);
  EXPECT_EQ(GetLE(Saved, 848, 4), 10u);
  EXPECT_EQ(GetLE(Saved, 852, 4), 0u);
  EXPECT_EQ(GetLE(Saved, 864, 4), 10u);
  EXPECT_EQ(GetLE(Saved, 868, 4), 7u);
  EXPECT_EQ(TBytes(Saved.begin() + 880, Saved.begin() + 890), Pages[0].Data);
  EXPECT_EQ(TBytes(Saved.begin() + 890, Saved.end()), Pages[2].Data);
  ExpectHeaderAndPaletteKept(Saved, Source);
  const std::vector<TSavedPage> Back = SavedPages(Saved);
  ASSERT_EQ(Back.size(), 3u);
  for (size_t I = 0; I < 3; ++I)
    ExpectSamePage(Back[I], Pages[I], "page " + std::to_string(I));
}

TEST_F(TScratchDir, SaveGivesEveryEntryItsOwnCopyOfTheData) {
  // Out of order, with a gap, and two entries sharing the same bytes; then a page appended the way
  // adding does, whose DataOffset was never set.
  std::vector<TTestPage> Pages = {DistinctPage(1, 5), DistinctPage(2, 4), DistinctPage(3, 4)};
  Pages[0].DataOffset = 40;
  Pages[1].DataOffset = 0;
  Pages[2].DataOffset = 0;
  Pages[2].Data = Pages[1].Data;
  WriteFileBytes("shared.sti", MakeSti8(Pages));

  TSti Image;
  ASSERT_EQ(Image.Open("shared.sti", 0), 0);
  const TBytes Added = {9, 8, 7};
  AppendRecord(Image, 0xDEADBEEF, Added);
  ASSERT_EQ(Image.Save(""), 0);
  EXPECT_EQ(Image.Record(3)->DataOffset, 13u);

  const TBytes Saved = ReadFileBytes("shared.sti");
  EXPECT_EQ(Saved.size(), 832u + 4 * 16 + 16);
  const std::vector<TSavedPage> Back = SavedPages(Saved);
  ASSERT_EQ(Back.size(), 4u);
  for (size_t I = 0; I < 3; ++I)
    ExpectSamePage(Back[I], Pages[I], "page " + std::to_string(I));
  EXPECT_EQ(Back[3].Data, Added);
}

TEST_F(TScratchDir, SaveOfImageWithoutPagesIsHeaderAndPalette) {
  const TBytes Source = MakeSti8({DistinctPage(1, 6), DistinctPage(2, 9), DistinctPage(3, 1)});
  WriteFileBytes("empty.sti", Source);
  TSti Image;
  ASSERT_EQ(Image.Open("empty.sti", 0), 0);
  for (const char* Name : {"000.bmp", "001.bmp", "002.bmp"})
    ASSERT_EQ(Image.DeletePage(Name), 0);
  ASSERT_EQ(Image.Save(""), 0);

  const TBytes Saved = ReadFileBytes("empty.sti");
  ASSERT_EQ(Saved.size(), 832u);
  EXPECT_EQ(GetLE(Saved, 28, 2), 0u);
  EXPECT_EQ(GetLE(Saved, 8, 4), 0u);
  EXPECT_EQ(GetLE(Saved, 4, 4), 0u);
  ExpectHeaderAndPaletteKept(Saved, Source);
}

TEST_F(TScratchDir, SaveRewritesOriginalSizeOnlyWhenItEqualedStoredSize) {
  struct TCase {
    int64_t Original, Stored;
    uint32_t OriginalAfter;
  };
  const TCase Cases[] = {{5000, 3000, 5000}, {3000, 3000, 2900}, {2900, 2900, 2900}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE("OriginalSize " + std::to_string(Case.Original) + ", StoredSize " + std::to_string(Case.Stored));
    WriteFileBytes("sizes.sti", MakeSti8({DistinctPage(1, 2000), DistinctPage(2, 900)}, DistinctPalette(),
                                         Case.Original, Case.Stored));
    TSti Image;
    ASSERT_EQ(Image.Open("sizes.sti", 0), 0);
    ASSERT_EQ(Image.Save(""), 0);
    const TBytes Saved = ReadFileBytes("sizes.sti");
    EXPECT_EQ(GetLE(Saved, 4, 4), Case.OriginalAfter);
    EXPECT_EQ(GetLE(Saved, 8, 4), 2900u);
  }
}

TEST_F(TScratchDir, SaveOfUnchangedImageRewritesTheSameBytes) {
  // Already in the saved layout, so nothing about it may change.
  TBytes Source = MakeSti8({DistinctPage(1, 5), DistinctPage(2, 1), DistinctPage(3, 0), DistinctPage(4, 9)});
  MarkUnusedHeaderBytes(Source);
  WriteFileBytes("same.sti", Source);
  TSti Image;
  ASSERT_EQ(Image.Open("same.sti", 0), 0);
  ASSERT_EQ(Image.Save(""), 0);
  EXPECT_EQ(ReadFileBytes("same.sti"), Source);
  ASSERT_EQ(Image.Save(""), 0);
  EXPECT_EQ(ReadFileBytes("same.sti"), Source);
}

TEST_F(TScratchDir, SaveWritesToTheNamedFileWhenGivenOne) {
  const TBytes Source = MakeSti8({DistinctPage(1, 5), DistinctPage(2, 3)});
  WriteFileBytes("source.sti", Source);
  WriteFileBytes("copy.sti", {1, 2, 3});
  TSti Image;
  ASSERT_EQ(Image.Open("source.sti", 0), 0);
  ASSERT_EQ(Image.DeletePage("000.bmp"), 0);
  ASSERT_EQ(Image.Save("copy.sti"), 0);
  EXPECT_EQ(ReadFileBytes("source.sti"), Source);
  const std::vector<TSavedPage> Back = SavedPages(ReadFileBytes("copy.sti"));
  ASSERT_EQ(Back.size(), 1u);
  ExpectSamePage(Back[0], DistinctPage(2, 3), "remaining page");
}

TEST_F(TScratchDir, SaveCreatesNoFileThatWasNotThere) {
  const TBytes Source = MakeSti8({DistinctPage(1, 5), DistinctPage(2, 3)});
  WriteFileBytes("image.sti", Source);
  std::filesystem::create_directory("adir");
  TSti Image;
  ASSERT_EQ(Image.Open("image.sti", 0), 0);
  ASSERT_EQ(Image.DeletePage("000.bmp"), 0);

  for (const char* Target : {"gone.sti", "adir"}) {
    SCOPED_TRACE(Target);
    EXPECT_EQ(Image.Save(Target), 18);
    EXPECT_EQ(DirectoryEntries("."), (std::vector<std::string>{"adir", "image.sti"}));
    EXPECT_TRUE(std::filesystem::is_empty("adir"));
  }
  EXPECT_EQ(ReadFileBytes("image.sti"), Source);

  // The file the image came from, removed since it was opened, is not made again.
  std::filesystem::remove("image.sti");
  EXPECT_EQ(Image.Save(""), 18);
  EXPECT_FALSE(PathExists("image.sti"));
  // The layout was brought up to date before the file was looked for.
  EXPECT_EQ(Image.HeaderPageCount(), 1);
}

TEST_F(TScratchDir, SaveRefusesAnImageInsideALargerFile) {
  std::vector<TTestPage> Pages = {DistinctPage(1, 4), DistinctPage(2, 6)};
  Pages[0].DataOffset = 30;
  Pages[1].DataOffset = 2;
  TBytes File(100, 0x5A);
  const TBytes Sti = MakeSti8(Pages, DistinctPalette(), 1234, 999);
  File.insert(File.end(), Sti.begin(), Sti.end());
  WriteFileBytes("inside.sti", File);

  TSti Image;
  ASSERT_EQ(Image.Open("inside.sti", 100), 0);
  uint8_t Header[64];
  std::memcpy(Header, Image.Header, sizeof Header);
  EXPECT_EQ(Image.Save(""), 19);
  EXPECT_EQ(ReadFileBytes("inside.sti"), File);
  // Nothing was recomputed.
  EXPECT_EQ(std::memcmp(Header, Image.Header, sizeof Header), 0);
  EXPECT_EQ(Image.Record(0)->DataOffset, 30u);
  EXPECT_EQ(Image.Record(1)->DataOffset, 2u);
}

TEST_F(TScratchDir, SaveRefusesA16BitImage) {
  const TBytes Source = MakeSti16(3, 2, {0xF800, 0x07E0, 0x001F, 0x1234, 0xFFFF, 0x0001});
  WriteFileBytes("rgb.sti", Source);
  TSti Image;
  ASSERT_EQ(Image.Open("rgb.sti", 0), 0);
  uint8_t Header[64];
  std::memcpy(Header, Image.Header, sizeof Header);
  EXPECT_EQ(Image.Save(""), 17);
  EXPECT_EQ(ReadFileBytes("rgb.sti"), Source);
  EXPECT_EQ(std::memcmp(Header, Image.Header, sizeof Header), 0);
}

TEST_F(TScratchDir, SaveRefusesALayoutTheHeaderCannotDescribe) {
  const TBytes Source = MakeSti8({});
  struct TCase {
    const char* What;
    int Pages;
    int Expected;
  };
  // PageCount is signed 16-bit: 32767 pages is the most a header can describe.
  const TCase Cases[] = {{"32767 pages", 32767, 0}, {"32768 pages", 32768, 16}, {"65536 pages", 65536, 16}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    WriteFileBytes("many.sti", Source);
    TSti Image;
    ASSERT_EQ(Image.Open("many.sti", 0), 0);
    for (int I = 0; I < Case.Pages; ++I)
      AppendRecord(Image, 0, {static_cast<uint8_t>(I)});
    EXPECT_EQ(Image.Save(""), Case.Expected);
    const TBytes Saved = ReadFileBytes("many.sti");
    if (Case.Expected == 0) {
      EXPECT_EQ(Saved.size(), 832u + 17u * static_cast<size_t>(Case.Pages));
      EXPECT_EQ(GetLE(Saved, 28, 2), static_cast<uint32_t>(Case.Pages));
    } else {
      EXPECT_EQ(Saved, Source);
    }
  }

  // A record whose data is shorter than its DataLength is not written past its buffer.
  WriteFileBytes("short.sti", Source);
  TSti Image;
  ASSERT_EQ(Image.Open("short.sti", 0), 0);
  AppendRecord(Image, 0, {1, 2, 3});
  Image.Record(0)->DataLength = 4;
  EXPECT_EQ(Image.Save(""), 16);
  EXPECT_EQ(ReadFileBytes("short.sti"), Source);
}
