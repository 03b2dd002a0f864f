// Palette building and colour matching.
#include "BmpSupport.h"

#include "Sti/Sti.h"

#include <cstring>

namespace {

const TRgb A{10, 20, 30};
const TRgb B{200, 0, 7};
const TRgb C{7, 0, 200};  // B with red and blue swapped
const TRgb D{1, 2, 3};
const TRgb Magenta{255, 0, 255};

// An image whose palette holds the colours of a file (DistinctPalette), all 256 in use.
void FillFromFile(TSti& Image) {
  const TBytes File = DistinctPalette();
  std::memcpy(Image.Palette, File.data(), File.size());
  Image.PaletteCount = 256;
}

void GivePage(TSti& Image) {
  Image.Pages.SetObject(Image.Pages.Add("000.bmp"), new TStiRecord);
}

std::vector<TRgb> Entries(const TSti& Image, int From, int To) {
  std::vector<TRgb> Colors;
  for (int I = From; I < To; ++I)
    Colors.push_back(TRgb{Image.Palette[I][0], Image.Palette[I][1], Image.Palette[I][2]});
  return Colors;
}

std::vector<TRgb> InUse(const TSti& Image) {
  return Entries(Image, 0, Image.PaletteCount);
}

// Pixel bytes as a bitmap row holds them: blue, green, red.
struct TPixel {
  uint8_t Bytes[3];
  explicit TPixel(const TRgb& Color) : Bytes{Color.B, Color.G, Color.R} {}
};

void SetEntry(TSti& Image, int Index, const TRgb& Color) {
  Image.Palette[Index][0] = Color.R;
  Image.Palette[Index][1] = Color.G;
  Image.Palette[Index][2] = Color.B;
}

void FillWith(TSti& Image, const TRgb& Color) {
  for (int I = 0; I < 256; ++I)
    SetEntry(Image, I, Color);
}

}  // namespace

TEST(Palette, AddPaletteColorAppendsUntilFull) {
  TSti Image;
  EXPECT_EQ(Image.AddPaletteColor(1, 2, 3), 0);
  EXPECT_EQ(Image.AddPaletteColor(1, 2, 3), 0);  // no look for an equal entry
  EXPECT_EQ(Image.PaletteCount, 2);
  EXPECT_EQ(InUse(Image), (std::vector<TRgb>{D, D}));

  FillFromFile(Image);
  const std::vector<TRgb> Before = Entries(Image, 0, 256);
  EXPECT_EQ(Image.AddPaletteColor(9, 9, 9), Result::PaletteFull);
  EXPECT_EQ(Image.PaletteCount, 256);
  EXPECT_EQ(Entries(Image, 0, 256), Before);
}

TEST(Palette, ImageWithoutPagesStartsAfreshFromTheBitmapsColours) {
  TSti Image;
  FillFromFile(Image);
  const std::vector<TRgb> FileEntries = Entries(Image, 0, 256);
  // Rows A B A / C A D: first appearance in scan order, duplicates once.
  Image.BuildPalette(BitmapOf(PictureOfColors(3, {A, B, A, C, A, D})), -1, -1, -1);
  EXPECT_EQ(InUse(Image), (std::vector<TRgb>{A, B, C, D}));
  // The entries beyond the count keep the file's colours.
  EXPECT_EQ(Entries(Image, 4, 256), std::vector<TRgb>(FileEntries.begin() + 4, FileEntries.end()));

  // A single colour: one entry, the transparent one.
  TSti Single;
  Single.BuildPalette(BitmapOf(PictureOfColors(2, {B, B, B, B})), -1, -1, -1);
  EXPECT_EQ(InUse(Single), (std::vector<TRgb>{B}));
}

TEST(Palette, GivenColourBecomesEntryZeroOnlyWhenAllThreeAreGiven) {
  const struct {
    const char* What;
    int32_t Red, Green, Blue;
    std::vector<TRgb> Expected;
  } Cases[] = {
      {"none given", -1, -1, -1, {B, A, C}},
      {"a colour not in the bitmap", 255, 0, 255, {Magenta, B, A, C}},
      {"a colour of the bitmap, not appended twice", 10, 20, 30, {A, B, C}},
      {"one component -1", 255, -1, 0, {B, A, C}},
      {"only blue -1", 255, 0, -1, {B, A, C}},
      {"low 8 bits only", 256, -2, 511, {TRgb{0, 254, 255}, B, A, C}},
      {"other negative values are colours", -256, -255, 0, {TRgb{0, 1, 0}, B, A, C}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TSti Image;
    FillFromFile(Image);
    Image.BuildPalette(BitmapOf(PictureOfColors(2, {B, A, C, A})), Case.Red, Case.Green, Case.Blue);
    EXPECT_EQ(InUse(Image), Case.Expected);
  }
}

TEST(Palette, ImageWithPagesKeepsItsPaletteOrExtendsIt) {
  TSti Image;
  FillFromFile(Image);
  GivePage(Image);
  const std::vector<TRgb> FileEntries = Entries(Image, 0, 256);
  // Counted full, as after opening: nothing changes, not even with a given colour.
  Image.BuildPalette(BitmapOf(PictureOfColors(2, {A, B, C, D})), 255, 0, 255);
  EXPECT_EQ(Image.PaletteCount, 256);
  EXPECT_EQ(Entries(Image, 0, 256), FileEntries);

  // With room left, only the colours new to the palette are appended, in scan order; the given
  // colour plays no part.
  Image.PaletteCount = 2;
  SetEntry(Image, 0, A);
  SetEntry(Image, 1, B);
  Image.BuildPalette(BitmapOf(PictureOfColors(3, {B, D, A, C, D, B})), 255, 0, 255);
  EXPECT_EQ(InUse(Image), (std::vector<TRgb>{A, B, D, C}));
}

TEST(Palette, FillsUpAt256AndDropsTheRestOfThatRow) {
  // 300 distinct colours, 20 a row: 240 after 12 rows, the 13th row fills the palette after 16
  // of its colours, and the rows after it are not scanned.
  std::vector<TRgb> Colors;
  for (int I = 0; I < 300; ++I)
    Colors.push_back(TRgb{static_cast<uint8_t>(I), static_cast<uint8_t>(I >> 8), 77});
  const TBitmap Bitmap = BitmapOf(PictureOfColors(20, Colors));

  TSti Image;
  Image.BuildPalette(Bitmap, -1, -1, -1);
  EXPECT_EQ(Image.PaletteCount, 256);
  EXPECT_EQ(InUse(Image), std::vector<TRgb>(Colors.begin(), Colors.begin() + 256));
  for (int I = 256; I < 300; ++I)
    EXPECT_EQ(Image.FindExactColor(TPixel(Colors[I]).Bytes), 0) << "colour " << I;

  // With a given colour, one bitmap colour fewer fits.
  TSti Given;
  Given.BuildPalette(Bitmap, 255, 0, 255);
  EXPECT_EQ(Given.PaletteCount, 256);
  EXPECT_EQ(Given.Palette[0][0], 255);
  EXPECT_EQ(Entries(Given, 1, 256), std::vector<TRgb>(Colors.begin(), Colors.begin() + 255));

  // An image with pages and 250 entries in use takes 6 more from the first row and stops there.
  TSti Extended;
  FillWith(Extended, TRgb{255, 255, 255});
  Extended.PaletteCount = 250;
  GivePage(Extended);
  Extended.BuildPalette(Bitmap, -1, -1, -1);
  EXPECT_EQ(Extended.PaletteCount, 256);
  EXPECT_EQ(Entries(Extended, 250, 256), std::vector<TRgb>(Colors.begin(), Colors.begin() + 6));
}

TEST(Palette, ExactMatchingTakesTheFirstEqualEntryOfAll256) {
  TSti Image;
  FillWith(Image, TRgb{255, 255, 255});
  Image.PaletteCount = 3;
  SetEntry(Image, 5, A);
  SetEntry(Image, 9, A);
  SetEntry(Image, 200, B);  // beyond the count, and still searched
  SetEntry(Image, 201, C);

  EXPECT_EQ(Image.FindExactColor(TPixel(A).Bytes), 5);
  EXPECT_EQ(Image.FindExactColor(TPixel(B).Bytes), 200);
  EXPECT_EQ(Image.FindExactColor(TPixel(C).Bytes), 201);  // red and blue are not mixed up
  EXPECT_EQ(Image.FindExactColor(TPixel(D).Bytes), 0);    // not in the palette: transparent
  EXPECT_EQ(Image.FindExactColor(TPixel(TRgb{10, 20, 31}).Bytes), 0);
}

TEST(Palette, NearestMatchingTakesTheLowestOfTheNearestEntries) {
  const TRgb Far{255, 255, 255};
  const TRgb Pixel{100, 100, 100};
  const struct {
    const char* What;
    std::vector<std::pair<int, TRgb>> Entries;
    TRgb Pixel;
    int Expected;
  } Cases[] = {
      {"equally near at 3 and 7", {{3, {103, 100, 100}}, {7, {100, 97, 100}}, {8, {104, 100, 100}}}, Pixel, 3},
      {"the same colour at 5 and 9", {{5, {101, 100, 100}}, {9, {101, 100, 100}}}, Pixel, 5},
      {"an exact entry beats a near one before it", {{2, {100, 100, 101}}, {4, Pixel}}, Pixel, 4},
      // (10, 10, 10) off is nearer than (0, 0, 20) off: squares, not plain differences.
      {"squared distance", {{20, {100, 100, 80}}, {21, {90, 90, 90}}}, Pixel, 21},
      {"red and blue kept apart", {{4, C}, {6, B}}, B, 6},
      {"the last entry, beyond the count", {{255, {99, 99, 99}}}, Pixel, 255},
      {"nothing nearer than entry 0", {}, Pixel, 0},
      {"a near entry 0 is transparent", {{0, {100, 100, 102}}, {1, {100, 100, 102}}}, Pixel, 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TSti Image;
    FillWith(Image, Far);
    Image.PaletteCount = 1;
    for (const auto& Entry : Case.Entries)
      SetEntry(Image, Entry.first, Entry.second);
    EXPECT_EQ(Image.FindNearestColor(TPixel(Case.Pixel).Bytes), Case.Expected);
  }

}

TEST(Palette, MatchColorFollowsAdaptPalette) {
  TSti Image;
  FillWith(Image, TRgb{255, 255, 255});
  SetEntry(Image, 0, TRgb{0, 0, 0});
  SetEntry(Image, 12, TRgb{10, 20, 33});
  const TPixel Near(A);  // not in the palette, nearest to entry 12
  Image.AdaptPalette = false;
  EXPECT_EQ(Image.MatchColor(Near.Bytes), 0);
  Image.AdaptPalette = true;
  EXPECT_EQ(Image.MatchColor(Near.Bytes), 12);
}
