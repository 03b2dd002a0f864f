// Adding and replacing pages, and the add and refresh commands.
#include "BmpSupport.h"

#include "Sti/Sti.h"

#include <cstring>
#include <filesystem>
#include <memory>

namespace {

// The page data that the encoder gives for a picture against a palette of 768 bytes.
TBytes Encoded(const TPicture& Picture, const TBytes& Palette = DistinctPalette(), bool Adapt = false) {
  TSti Image;
  std::memcpy(Image.Palette, Palette.data(), Palette.size());
  Image.PaletteCount = 256;
  Image.AdaptPalette = Adapt;
  int32_t Length = 0;
  return Image.EncodePage(BitmapOf(Picture), Length);
}

// The colour of entry Index of the distinct palette.
TRgb Entry(int Index) {
  const TBytes Palette = DistinctPalette();
  return TRgb{Palette[Index * 3u], Palette[Index * 3u + 1], Palette[Index * 3u + 2]};
}

// Three pages with table fields and data that differ from each other.
std::vector<TTestPage> ThreePages() {
  return {
      {3, 2, 1, -1, {0x03, 0x01, 0x02, 0x03, 0x00, 0x83, 0x00}},
      {2, 1, -4, 9, {0x02, 0x05, 0x06, 0x00}},
      {4, 1, 300, -300, {0x84, 0x00}},
  };
}

struct TLoaded {
  int Status = -1;
  std::vector<std::string> Names;
  std::vector<TStiRecord> Pages;
  TBytes Palette;
};

TLoaded Load(const std::string& Path) {
  TSti Image;
  TLoaded Loaded;
  Loaded.Status = Image.Open(Path, 0);
  for (int I = 0; I < Image.PageCountOf(); ++I) {
    Loaded.Names.push_back(Image.Pages.Strings(I));
    Loaded.Pages.push_back(*Image.Record(I));
  }
  Loaded.Palette.assign(&Image.Palette[0][0], &Image.Palette[0][0] + PaletteSize);
  return Loaded;
}

void ExpectPage(const TStiRecord& Page, const TTestPage& Expected, const std::string& What) {
  EXPECT_EQ(Page.Width, Expected.Width) << What;
  EXPECT_EQ(Page.Height, Expected.Height) << What;
  EXPECT_EQ(Page.OffsetX, Expected.OffsetX) << What;
  EXPECT_EQ(Page.OffsetY, Expected.OffsetY) << What;
  EXPECT_EQ(Page.DataLength, Expected.Data.size()) << What;
  EXPECT_EQ(Page.Data, Expected.Data) << What;
}

// A page as AddPage makes it from a picture.
TTestPage PageOf(const TPicture& Picture, int16_t OffsetX, int16_t OffsetY, const TBytes& Data) {
  TTestPage Page;
  Page.Width = static_cast<int16_t>(Picture.Width);
  Page.Height = static_cast<int16_t>(Picture.Height);
  Page.OffsetX = OffsetX;
  Page.OffsetY = OffsetY;
  Page.Data = Data;
  return Page;
}

// Two small pictures in colours of the distinct palette, with transparent pixels (entry 0).
TPicture PictureX() {
  return PictureOfColors(3, {Entry(0), Entry(7), Entry(7), Entry(200), Entry(0), Entry(1)});
}
TPicture PictureY() {
  return PictureOfColors(5, {Entry(9), Entry(8), Entry(0), Entry(0), Entry(255)});
}

// An image object with pages of the given names, each a record of its own.
void AddNamedPages(TSti& Image, const std::vector<std::string>& Names) {
  for (const std::string& Name : Names) {
    auto Page = std::make_unique<TStiRecord>();
    Page->Width = static_cast<int16_t>(Image.Pages.Count() + 1);
    Image.Pages.SetObject(Image.Pages.Add(Name), Page.release());
  }
}

TBmpLayout EightBits() {
  TBmpLayout Layout;
  Layout.Bits = 8;
  return Layout;
}

}  // namespace

// --- AddPage on the image object --------------------------------------------------------------

TEST(AddPage, ReplacesTheFirstPageOfTheNameAndKeepsItsPlaceAndName) {
  TSti Image;
  AddNamedPages(Image, {"000.bmp", "001.bmp", "dup.bmp", "DUP.bmp"});
  const TBitmap Bitmap = BitmapOf(PictureX());
  ASSERT_EQ(Image.AddPage(Bitmap, "001.BMP", true, 0, 0, -1, -1, -1), 0);
  ASSERT_EQ(Image.AddPage(BitmapOf(PictureY()), "Dup.Bmp", true, 0, 0, -1, -1, -1), 0);
  ASSERT_EQ(Image.PageCountOf(), 4);
  EXPECT_EQ(Image.Pages.Strings(1), "001.bmp");
  EXPECT_EQ(Image.Record(1)->Width, 3);
  EXPECT_EQ(Image.Record(1)->Height, 2);
  // Of two pages whose names compare equal, only the first is replaced.
  EXPECT_EQ(Image.Pages.Strings(2), "dup.bmp");
  EXPECT_EQ(Image.Record(2)->Width, 5);
  EXPECT_EQ(Image.Pages.Strings(3), "DUP.bmp");
  EXPECT_EQ(Image.Record(3)->Width, 4);
  EXPECT_EQ(Image.Record(0)->Width, 1);
}

TEST(AddPage, AppendsUnderTheEmptyNameWhenNoPageHasTheName) {
  TSti Image;
  AddNamedPages(Image, {"000.bmp"});
  const TBitmap Bitmap = BitmapOf(PictureY());
  ASSERT_EQ(Image.AddPage(Bitmap, "", true, 0, 0, -1, -1, -1), 0);
  ASSERT_EQ(Image.AddPage(Bitmap, "099.bmp", true, 0, 0, -1, -1, -1), 0);
  ASSERT_EQ(Image.AddPage(Bitmap, "099.bmp", true, 0, 0, -1, -1, -1), 0);
  // The empty name of an appended page is not one that refresh can give.
  ASSERT_EQ(Image.PageCountOf(), 4);
  for (int I = 1; I < 4; ++I) {
    EXPECT_EQ(Image.Pages.Strings(I), "") << I;
    EXPECT_EQ(Image.Record(I)->Width, 5) << I;
  }
  EXPECT_EQ(Image.Record(0)->Width, 1);
}

TEST(AddPage, FillsTheRecordFromTheBitmapAndTheOffsets) {
  const struct {
    int32_t DispX, DispY;
    int16_t OffsetX, OffsetY;
  } Cases[] = {
      {5, -7, 5, -7}, {70000, -1, 4464, -1}, {32768, -32769, -32768, 32767}, {-65536, 65535, 0, -1},
  };
  const TPicture Picture = PictureY();
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::to_string(Case.DispX) + " " + std::to_string(Case.DispY));
    TSti Image;
    const TBytes Palette = DistinctPalette();
    std::memcpy(Image.Palette, Palette.data(), Palette.size());
    Image.PaletteCount = 256;
    AddNamedPages(Image, {"000.bmp"});
    ASSERT_EQ(Image.AddPage(BitmapOf(Picture), "", false, Case.DispX, Case.DispY, -1, -1, -1), 0);
    ExpectPage(*Image.Record(1), PageOf(Picture, Case.OffsetX, Case.OffsetY, Encoded(Picture)), "page");
    EXPECT_FALSE(Image.AdaptPalette);
  }
}

TEST(AddPage, PalettePreparedWhileTheReplacedPageStillCounts) {
  // The only page is replaced without adaptation: the table is not empty while the palette is
  // prepared, so it is extended, not started afresh.
  TSti Image;
  Image.PaletteCount = 2;
  Image.Palette[0][0] = 1;
  Image.Palette[1][0] = 2;
  AddNamedPages(Image, {"000.bmp"});
  const TRgb Red{255, 0, 0};
  ASSERT_EQ(Image.AddPage(BitmapOf(PictureOfColors(2, {Red, TRgb{1, 0, 0}})), "000.bmp", false, 0, 0, -1, -1, -1), 0);
  EXPECT_EQ(Image.PaletteCount, 3);
  EXPECT_EQ(Image.Palette[2][0], 255);
  EXPECT_EQ(Image.Record(0)->Data, (TBytes{0x01, 0x02, 0x81, 0x00}));

  // Pages added to an empty table: the first starts afresh, the next ones extend.
  TSti Fresh;
  Fresh.PaletteCount = 256;
  const TRgb Green{0, 255, 0};
  const TRgb Blue{0, 0, 255};
  ASSERT_EQ(Fresh.AddPage(BitmapOf(PictureOfColors(2, {Red, Green})), "", false, 0, 0, -1, -1, -1), 0);
  ASSERT_EQ(Fresh.AddPage(BitmapOf(PictureOfColors(2, {Blue, Red})), "", false, 0, 0, -1, -1, -1), 0);
  EXPECT_EQ(Fresh.PaletteCount, 3);
  EXPECT_EQ(Fresh.Record(0)->Data, (TBytes{0x81, 0x01, 0x01, 0x00}));
  EXPECT_EQ(Fresh.Record(1)->Data, (TBytes{0x01, 0x02, 0x81, 0x00}));
}

TEST(AddPage, RefusesA16BitImageBeforeChangingAnything) {
  TSti Image;
  Image.Header[FlagsOffset] = RgbFlag;
  AddNamedPages(Image, {"000.bmp"});
  Image.PaletteCount = 256;
  Image.AdaptPalette = true;
  std::memset(Image.Palette, 0x33, sizeof Image.Palette);
  EXPECT_EQ(Image.AddPage(BitmapOf(PictureX()), "", false, 0, 0, 1, 2, 3), Result::RgbImage);
  EXPECT_EQ(Image.AddPage(BitmapOf(PictureX()), "000.bmp", false, 0, 0, 1, 2, 3), Result::RgbImage);
  EXPECT_EQ(Image.PageCountOf(), 1);
  EXPECT_EQ(Image.Record(0)->Width, 1);
  EXPECT_TRUE(Image.AdaptPalette);
  EXPECT_EQ(Image.PaletteCount, 256);
  EXPECT_EQ(Image.Palette[0][0], 0x33);
}

TEST(AddPage, AFullTableRefusesANewPageButReplacesOne) {
  TSti Image;
  for (int I = 0; I < MaxPages; ++I)
    Image.Pages.SetObject(Image.Pages.Add(PageName(I)), new TStiRecord);
  Image.AdaptPalette = true;
  Image.PaletteCount = 5;
  const TBitmap Bitmap = BitmapOf(PictureX());
  EXPECT_EQ(Image.AddPage(Bitmap, "", false, 0, 0, 1, 2, 3), Result::IndexRange);
  EXPECT_EQ(Image.AddPage(Bitmap, "nosuch.bmp", false, 0, 0, 1, 2, 3), Result::IndexRange);
  EXPECT_EQ(Image.PageCountOf(), MaxPages);
  EXPECT_TRUE(Image.AdaptPalette);
  EXPECT_EQ(Image.PaletteCount, 5);

  EXPECT_EQ(Image.AddPage(Bitmap, "32766.BMP", false, 0, 0, 1, 2, 3), 0);
  EXPECT_EQ(Image.PageCountOf(), MaxPages);
  EXPECT_EQ(Image.Record(MaxPages - 1)->Width, 3);

  // One page fewer leaves room for exactly one more.
  delete Image.Record(0);
  Image.Pages.Delete(0);
  EXPECT_EQ(Image.AddPage(Bitmap, "", false, 0, 0, 1, 2, 3), 0);
  EXPECT_EQ(Image.AddPage(Bitmap, "", false, 0, 0, 1, 2, 3), Result::IndexRange);
  EXPECT_EQ(Image.PageCountOf(), MaxPages);
}

// --- The add and refresh commands --------------------------------------------------------------

TEST_F(TScratchDir, AddAppendsEveryFileInListOrderWithTheOffsets) {
  WriteFileBytes("i.sti", MakeSti8(ThreePages()));
  WriteBmp("x.bmp", PictureX());
  WriteBmp("y.bmp", PictureY());
  WriteFileBytes("names.txt", {'x', '.', 'b', 'm', 'p', '\r', '\n', 'y', '.', 'b', 'm', 'p'});
  const TRunOutcome Run = RunTool({"a", "i.sti", "@names.txt", "5", "-7"});
  EXPECT_EQ(Run.Status, 0);
  EXPECT_EQ(Run.Out, "");
  EXPECT_EQ(Run.Err, "");

  const TLoaded Saved = Load("i.sti");
  ASSERT_EQ(Saved.Status, 0);
  ASSERT_EQ(Saved.Pages.size(), 5u);
  for (size_t I = 0; I < 3; ++I)
    ExpectPage(Saved.Pages[I], ThreePages()[I], "page " + std::to_string(I));
  ExpectPage(Saved.Pages[3], PageOf(PictureX(), 5, -7, Encoded(PictureX())), "page of x.bmp");
  ExpectPage(Saved.Pages[4], PageOf(PictureY(), 5, -7, Encoded(PictureY())), "page of y.bmp");
  EXPECT_EQ(Saved.Palette, DistinctPalette());
}

TEST_F(TScratchDir, RefreshReplacesThePageNamedByTheFileNamePart) {
  // Where a backslash separates directories the files go into these; elsewhere a backslash is
  // part of the file's name.
  std::filesystem::create_directory("art");
  std::filesystem::create_directory("ART");
  std::filesystem::create_directory("sub");
  const struct {
    const char* Path;
    int Replaced;  // -1: appended
  } Cases[] = {
      {"002.bmp", 2},
      {"art\\002.bmp", 2},
      {"ART\\002.BMP", 2},
#ifndef _WIN32
      {"D:001.bmp", 1},
      {"a\\b:000.bmp", 0},
#endif
      {"sub/000.bmp", -1},   // a forward slash is no separator: the page name is sub/000.bmp
      {"099.bmp", -1},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    WriteFileBytes("i.sti", MakeSti8(ThreePages()));
    WriteBmp(Case.Path, PictureY());
    const TRunOutcome Run = RunTool({"m", "i.sti", Case.Path, "-2", "3"});
    EXPECT_EQ(Run.Status, 0) << Run.Err;

    const TLoaded Saved = Load("i.sti");
    ASSERT_EQ(Saved.Pages.size(), Case.Replaced < 0 ? 4u : 3u);
    const size_t New = Case.Replaced < 0 ? 3 : static_cast<size_t>(Case.Replaced);
    for (size_t I = 0; I < 3; ++I)
      if (I != New)
        ExpectPage(Saved.Pages[I], ThreePages()[I], "page " + std::to_string(I));
    ExpectPage(Saved.Pages[New], PageOf(PictureY(), -2, 3, Encoded(PictureY())), "new page");
  }

  // A name that matches no page, twice: two pages appended.
  WriteFileBytes("i.sti", MakeSti8(ThreePages()));
  WriteFileBytes("names.txt", {'0', '9', '9', '.', 'b', 'm', 'p', '\n', '0', '9', '9', '.', 'b', 'm', 'p'});
  EXPECT_EQ(RunTool({"M", "i.sti", "@names.txt"}).Status, 0);
  EXPECT_EQ(Load("i.sti").Pages.size(), 5u);
}

TEST_F(TScratchDir, WorkedExampleRefreshWithAdaptation) {
  // art.sti holds the pages 000.bmp to 004.bmp; art\003.bmp is refreshed with the offsets 5 and
  // -7 and its colours matched to the nearest palette entries.
  std::vector<TTestPage> Pages;
  for (int I = 0; I < 5; ++I)
    Pages.push_back({static_cast<int16_t>(I + 1), 1, static_cast<int16_t>(I), 0,
                     {static_cast<uint8_t>(0x80 + I + 1), 0x00}});
  WriteFileBytes("art.sti", MakeSti8(Pages));
  // Near entries 40, 41 and 0, none of them exactly.
  const TRgb Near40{41, 215, 24};
  const TRgb Near41{41, 214, 30};
  const TRgb Near0{0, 254, 1};
  const TPicture Picture = PictureOfColors(3, {Near40, Near41, Near0, Near0, Near0, Near40});
  std::filesystem::create_directory("art");
  WriteBmp("art\\003.bmp", Picture);

  const TRunOutcome Run = RunTool({"ma", "art.sti", "art\\003.bmp", "5", "-7"});
  EXPECT_EQ(Run.Status, 0) << Run.Err;
  const TLoaded Saved = Load("art.sti");
  ASSERT_EQ(Saved.Pages.size(), 5u);
  for (size_t I = 0; I < 5; ++I)
    if (I != 3)
      ExpectPage(Saved.Pages[I], Pages[I], "page " + std::to_string(I));
  ExpectPage(Saved.Pages[3], PageOf(Picture, 5, -7, {0x02, 40, 41, 0x81, 0x00, 0x82, 0x01, 40, 0x00}), "page 003.bmp");
  EXPECT_EQ(Saved.Palette, DistinctPalette());
}

TEST_F(TScratchDir, AdaptOptionIsALowerCaseSecondA) {
  // One pixel exactly entry 20, one near entry 9 that no entry holds.
  const TRgb Near9{9, 246, 64};
  const TPicture Picture = PictureOfColors(2, {Entry(20), Near9});
  const TBytes Exact = {0x01, 20, 0x81, 0x00};
  const TBytes Adapted = {0x02, 20, 9, 0x00};
  const struct {
    const char* Options;
    const TBytes* Data;
  } Cases[] = {
      {"a", &Exact}, {"aa", &Adapted}, {"Aa", &Adapted}, {"aA", &Exact}, {"AA", &Exact}, {"aax", &Adapted},
      {"m", &Exact}, {"ma", &Adapted}, {"Ma", &Adapted}, {"mA", &Exact},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Options);
    WriteFileBytes("i.sti", MakeSti8(ThreePages()));
    WriteBmp("000.bmp", Picture);
    ASSERT_EQ(RunTool({Case.Options, "i.sti", "000.bmp"}).Status, 0);
    const TLoaded Saved = Load("i.sti");
    const bool Refresh = Case.Options[0] == 'm' || Case.Options[0] == 'M';
    ASSERT_EQ(Saved.Pages.size(), Refresh ? 3u : 4u);
    EXPECT_EQ(Saved.Pages[Refresh ? 0 : 3].Data, *Case.Data);
    EXPECT_EQ(Saved.Palette, DistinctPalette());
  }
}

TEST_F(TScratchDir, ColourFromTheCommandLineBecomesTransparent) {
  const TRgb Magenta{255, 0, 255};
  const TRgb Teal{0, 128, 128};
  const TRgb Olive{128, 128, 0};
  const TPicture Picture = PictureOfColors(4, {Teal, Magenta, Olive, Magenta});
  WriteBmp("x.bmp", Picture);

  // Given as 255 0 255: entry 0 is magenta, the other colours follow.
  WriteFileBytes("e.sti", MakeSti8({}));
  ASSERT_EQ(RunTool({"a", "e.sti", "x.bmp", "5", "-7", "255", "0", "255"}).Status, 0);
  TLoaded Saved = Load("e.sti");
  ASSERT_EQ(Saved.Pages.size(), 1u);
  ExpectPage(Saved.Pages[0], PageOf(Picture, 5, -7, {0x01, 0x01, 0x81, 0x01, 0x02, 0x81, 0x00}), "page");
  const TBytes Start = {255, 0, 255, 0, 128, 128, 128, 128, 0};
  EXPECT_EQ(TBytes(Saved.Palette.begin(), Saved.Palette.begin() + 9), Start);
  // Entries beyond those in use keep the colours of the file.
  const TBytes File = DistinctPalette();
  EXPECT_EQ(TBytes(Saved.Palette.begin() + 9, Saved.Palette.end()), TBytes(File.begin() + 9, File.end()));

  // Only arguments 6 and 7: no colour, so the top-left pixel's colour is transparent.
  WriteFileBytes("e.sti", MakeSti8({}));
  ASSERT_EQ(RunTool({"a", "e.sti", "x.bmp", "0", "0", "255", "0"}).Status, 0);
  Saved = Load("e.sti");
  ASSERT_EQ(Saved.Pages.size(), 1u);
  EXPECT_EQ(Saved.Pages[0].Data, (TBytes{0x81, 0x03, 0x01, 0x02, 0x01, 0x00}));
  EXPECT_EQ(TBytes(Saved.Palette.begin(), Saved.Palette.begin() + 9), (TBytes{0, 128, 128, 255, 0, 255, 128, 128, 0}));

  // Several files into an image without pages: the first starts the palette, the next extend it.
  WriteFileBytes("e.sti", MakeSti8({}));
  WriteBmp("y.bmp", PictureOfColors(2, {Olive, TRgb{1, 2, 3}}));
  WriteFileBytes("names.txt", {'x', '.', 'b', 'm', 'p', '\n', 'y', '.', 'b', 'm', 'p'});
  ASSERT_EQ(RunTool({"a", "e.sti", "@names.txt", "0", "0", "255", "0", "255"}).Status, 0);
  Saved = Load("e.sti");
  ASSERT_EQ(Saved.Pages.size(), 2u);
  EXPECT_EQ(Saved.Pages[1].Data, (TBytes{0x02, 0x02, 0x03, 0x00}));
  EXPECT_EQ(TBytes(Saved.Palette.begin(), Saved.Palette.begin() + 12),
            (TBytes{255, 0, 255, 0, 128, 128, 128, 128, 0, 1, 2, 3}));
}

TEST_F(TScratchDir, EmptyNameListSavesTheImageAllTheSame) {
  // OriginalSize and StoredSize both stale and equal: saving sets both to the real total.
  for (const std::vector<std::string>& Arguments :
       {std::vector<std::string>{"a", "i.sti"}, {"m", "i.sti", "@empty.txt"}}) {
    WriteFileBytes("i.sti", MakeSti8(ThreePages(), DistinctPalette(), 999, 999));
    WriteFileBytes("empty.txt", {});
    ASSERT_EQ(RunTool(Arguments).Status, 0);
    const TBytes Saved = ReadFileBytes("i.sti");
    EXPECT_EQ(GetLE(Saved, 4, 4), 13u);
    EXPECT_EQ(GetLE(Saved, 8, 4), 13u);
    EXPECT_EQ(Load("i.sti").Pages.size(), 3u);
  }
}

TEST_F(TScratchDir, FailedFilesStopTheCommandAndNothingIsSaved) {
  WriteBmp("x.bmp", PictureX());
  WriteBmp("eight.bmp", PictureX(), EightBits());
  WriteFileBytes("empty.bmp", {});
  WriteFileBytes("wide.bmp", MakeBmpHeaders(32768, 2, TBmpLayout()));
  WriteFileBytes("wide8.bmp", MakeBmpHeaders(40000, 2, EightBits()));
  WriteFileBytes("text.bmp", {'h', 'e', 'l', 'l', 'o'});
  const TBytes Eight = MakeSti8(ThreePages());
  const TBytes Sixteen = MakeSti16(2, 1, {0xF800, 0x001F});
  const struct {
    const char* What;
    const TBytes* Image;
    std::vector<std::string> Names;
    int Status;
  } Cases[] = {
      {"an 8-bit file", &Eight, {"eight.bmp"}, Result::Not24Bit},
      {"a 24-bit file, then an 8-bit one", &Eight, {"x.bmp", "eight.bmp", "x.bmp"}, Result::Not24Bit},
      {"an empty file", &Eight, {"empty.bmp"}, Result::Not24Bit},
      {"a 24-bit file on a 16-bit image", &Sixteen, {"x.bmp"}, Result::RgbImage},
      {"an 8-bit file on a 16-bit image", &Sixteen, {"eight.bmp"}, Result::Not24Bit},
      {"too wide", &Eight, {"x.bmp", "wide.bmp"}, Result::TooLarge},
      {"too wide on a 16-bit image", &Sixteen, {"wide.bmp"}, Result::TooLarge},
      {"too wide and 8-bit", &Eight, {"wide8.bmp"}, Result::Not24Bit},
      {"a missing file", &Eight, {"x.bmp", "missing.bmp"}, Result::PlatformFailure},
      {"not a BMP file", &Eight, {"x.bmp", "text.bmp"}, Result::PlatformFailure},
  };
  for (const auto& Case : Cases) {
    for (const char* Options : {"a", "m"}) {
      SCOPED_TRACE(std::string(Case.What) + ", " + Options);
      WriteFileBytes("i.sti", *Case.Image);
      TBytes List;
      for (const std::string& Name : Case.Names) {
        List.insert(List.end(), Name.begin(), Name.end());
        List.push_back('\n');
      }
      WriteFileBytes("names.txt", List);
      const TRunOutcome Run = RunTool({Options, "i.sti", "@names.txt"});
      EXPECT_EQ(Run.Status, Case.Status);
      EXPECT_EQ(Run.Out, "");
      EXPECT_EQ(ReadFileBytes("i.sti"), *Case.Image);
      if (Case.Status == Result::PlatformFailure) {
        EXPECT_EQ(Run.Err.rfind("kelpix: ", 0), 0u) << Run.Err;
        EXPECT_NE(Run.Err.find(Case.Names.back()), std::string::npos) << Run.Err;
        EXPECT_EQ(Run.Err.find('\n'), Run.Err.size() - 1) << Run.Err;
      } else {
        EXPECT_EQ(Run.Err, "");
      }
    }
  }
}

TEST_F(TScratchDir, AddToAFullTableGives20AndRefreshStillWorks) {
  std::vector<TTestPage> Pages(MaxPages, TTestPage{1, 1, 0, 0, {0x81, 0x00}});
  const TBytes Full = MakeSti8(Pages);
  WriteFileBytes("i.sti", Full);
  WriteBmp("001.bmp", PictureY());
  EXPECT_EQ(RunTool({"a", "i.sti", "001.bmp"}).Status, Result::IndexRange);
  WriteBmp("nosuch.bmp", PictureY());
  EXPECT_EQ(RunTool({"m", "i.sti", "nosuch.bmp"}).Status, Result::IndexRange);
  EXPECT_EQ(ReadFileBytes("i.sti"), Full);

  ASSERT_EQ(RunTool({"m", "i.sti", "001.bmp"}).Status, 0);
  const TLoaded Saved = Load("i.sti");
  ASSERT_EQ(Saved.Pages.size(), static_cast<size_t>(MaxPages));
  EXPECT_EQ(Saved.Pages[1].Data, Encoded(PictureY()));
  EXPECT_EQ(Saved.Pages[2].Data, (TBytes{0x81, 0x00}));
}

// --- Round trip: encoded, extracted, refreshed ---------------------------------------------------

namespace {

// Index patterns of several shapes, with transparent stretches, long runs and every index.
std::vector<TPicture> RoundTripPictures() {
  std::vector<TPicture> Pictures;
  const TBytes Palette = DistinctPalette();
  const struct {
    int Width, Height;
  } Shapes[] = {{1, 5}, {127, 2}, {128, 3}, {300, 2}, {13, 7}, {2, 1}};
  for (const auto& Shape : Shapes) {
    TBytes Indices;
    for (int Y = 0; Y < Shape.Height; ++Y)
      for (int X = 0; X < Shape.Width; ++X) {
        const int Stretch = (X / 9 + Y) % 4;
        Indices.push_back(Stretch == 0 ? 0 : static_cast<uint8_t>((X * 31 + Y * 17 + Stretch) % 256));
      }
    Pictures.push_back(PictureOfIndices(Shape.Width, Indices, Palette));
  }
  return Pictures;
}

}  // namespace

TEST_F(TScratchDir, PagesSurviveExtractAndRefreshUnchanged) {
  const std::vector<TPicture> Pictures = RoundTripPictures();
  std::vector<TTestPage> Pages;
  for (const TPicture& Picture : Pictures)
    Pages.push_back(PageOf(Picture, 0, 0, Encoded(Picture)));
  const TBytes Original = MakeSti8(Pages);
  WriteFileBytes("r.sti", Original);

  TBytes List;
  for (size_t I = 0; I < Pages.size(); ++I) {
    const std::string Name = PageName(static_cast<int>(I));
    List.insert(List.end(), Name.begin(), Name.end());
    List.push_back('\n');
  }
  WriteFileBytes("names.txt", List);
  ASSERT_EQ(RunTool({"e", "r.sti", "@names.txt"}).Status, 0);
  ASSERT_EQ(RunTool({"m", "r.sti", "@names.txt"}).Status, 0);
  EXPECT_EQ(ReadFileBytes("r.sti"), Original);
  const TLoaded Saved = Load("r.sti");
  ASSERT_EQ(Saved.Pages.size(), Pages.size());
  for (size_t I = 0; I < Pages.size(); ++I)
    ExpectPage(Saved.Pages[I], Pages[I], "page " + PageName(static_cast<int>(I)));

  // A page no pixel wide is written as an empty file, which is no 24-bit bitmap.
  WriteFileBytes("z.sti", MakeSti8({{0, 3, 0, 0, {0x00, 0x00, 0x00}}}));
  ASSERT_EQ(RunTool({"e", "z.sti", "000.bmp"}).Status, 0);
  EXPECT_EQ(ReadFileBytes("000.bmp"), TBytes());
  EXPECT_EQ(RunTool({"m", "z.sti", "000.bmp"}).Status, Result::Not24Bit);
}

TEST(AddPage, DecodedPagesEncodeToTheSameData) {
  // Also the shapes that no BMP file carries: no pixels wide, and no rows.
  std::vector<TPicture> Pictures = RoundTripPictures();
  Pictures.push_back(TPicture{0, 4, {}});
  Pictures.push_back(TPicture{6, 0, {}});
  std::vector<TTestPage> Pages;
  for (const TPicture& Picture : Pictures)
    Pages.push_back(PageOf(Picture, 0, 0, Encoded(Picture)));

  TSti Image;
  const TBytes Palette = DistinctPalette();
  std::memcpy(Image.Palette, Palette.data(), Palette.size());
  Image.PaletteCount = 256;
  for (const TTestPage& Page : Pages) {
    auto Record = std::make_unique<TStiRecord>();
    Record->Width = Page.Width;
    Record->Height = Page.Height;
    Record->DataLength = static_cast<uint32_t>(Page.Data.size());
    Record->Data = Page.Data;
    Image.Pages.SetObject(Image.Pages.Add(PageName(Image.Pages.Count())), Record.release());
  }
  for (size_t I = 0; I < Pages.size(); ++I) {
    SCOPED_TRACE(PageName(static_cast<int>(I)));
    TBitmap Bitmap;
    ASSERT_EQ(Image.DecodePage(static_cast<int>(I), Bitmap), 0);
    EXPECT_EQ(PictureOf(Bitmap), Pictures[I]);
    ASSERT_EQ(Image.AddPage(Bitmap, PageName(static_cast<int>(I)), false, 0, 0, -1, -1, -1), 0);
    ExpectPage(*Image.Record(static_cast<int>(I)), Pages[I], "page");
  }
  EXPECT_EQ(Image.PageCountOf(), static_cast<int>(Pages.size()));
}
