// The indexed page decoder, the 16-bit conversion and the lookup of pages by name.
#include "TestSupport.h"

#include "Sti/Sti.h"
#include "platform/Bitmap.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int Black = -1;  // a pixel the page data does not cover

// Appends a page to the image; its DataLength is the data's length unless given.
void AddPage(TSti& Image, const std::string& Name, int16_t Width, int16_t Height, const TBytes& Data,
             int64_t Length = -1) {
  auto* Page = new TStiRecord;
  Page->Width = Width;
  Page->Height = Height;
  Page->Data = Data;
  Page->DataLength = static_cast<uint32_t>(Length >= 0 ? Length : static_cast<int64_t>(Data.size()));
  Image.Pages.Add(Name, Page);
}

void UseDistinctPalette(TSti& Image) {
  const TBytes Palette = DistinctPalette();
  std::memcpy(Image.Palette, Palette.data(), Palette.size());
}

// The bitmap bytes expected for palette indices of the distinct palette, row after row.
TBytes Expected(const std::vector<int>& Indices) {
  TBytes Bytes;
  for (int P : Indices) {
    if (P == Black) {
      Bytes.insert(Bytes.end(), {0, 0, 0});
    } else {
      Bytes.push_back(static_cast<uint8_t>((P * 7) & 255));  // blue
      Bytes.push_back(static_cast<uint8_t>(255 - P));        // green
      Bytes.push_back(static_cast<uint8_t>(P));              // red
    }
  }
  return Bytes;
}

TBytes Pixels(const TBitmap& Bitmap) {
  TBytes Bytes;
  for (int Row = 0; Row < Bitmap.Height(); ++Row)
    Bytes.insert(Bytes.end(), Bitmap.ScanLine(Row), Bitmap.ScanLine(Row) + Bitmap.RowBytes());
  return Bytes;
}

// Loads the bytes of a whole image (as MakeSti8 or MakeSti16 give them) into Image.
void Load(TSti& Image, const TBytes& Bytes) {
  std::memcpy(Image.Header, Bytes.data(), HeaderSize);
  ASSERT_EQ(Image.LoadPages(Bytes.data(), Bytes.size()), 0);
}

struct TDecodeCase {
  const char* What;
  int16_t Width;
  int16_t Height;
  TBytes Data;
  int64_t Length;  // DataLength, or -1 for the data's length
  std::vector<int> Indices;
};

std::vector<TDecodeCase> DecodeCases() {
  TBytes Long = {0xFF, 0x83, 0x00, 0x7F};
  std::vector<int> LongPixels(130, 0);
  for (int I = 1; I <= 127; ++I)
    Long.push_back(static_cast<uint8_t>(I));
  Long.insert(Long.end(), {0x03, 128, 129, 130, 0x00});
  for (int I = 1; I <= 130; ++I)
    LongPixels.push_back(I);

  const int B = Black;
  return {
      // Well-formed page data.
      {"transparent and literal runs", 6, 1, {0x82, 0x02, 0x05, 0x07, 0x82, 0x00}, -1, {0, 0, 5, 7, 0, 0}},
      {"row ending in a literal run", 3, 1, {0x81, 0x02, 0x09, 0x09, 0x00}, -1, {0, 9, 9}},
      {"rows top first", 2, 2, {0x02, 0x04, 0x04, 0x00, 0x82, 0x00}, -1, {4, 4, 0, 0}},
      {"asymmetric page", 5, 3,
       {0x02, 0x0A, 0x0B, 0x83, 0x00, 0x85, 0x00, 0x81, 0x03, 0x0C, 0x0D, 0x0E, 0x81, 0x00}, -1,
       {10, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 13, 14, 0}},
      {"runs of 127 pixels and more", 130, 2, Long, -1, LongPixels},
      {"0x80 writes nothing", 3, 2, {0x01, 0x05, 0x80, 0x02, 0x06, 0x07, 0x00, 0x83, 0x00}, -1, {5, 6, 7, 0, 0, 0}},
      {"end-of-row byte below the width closes nothing", 3, 2,
       {0x01, 0x05, 0x00, 0x02, 0x06, 0x07, 0x00, 0x83, 0x00}, -1, {5, 6, 7, 0, 0, 0}},
      {"literal index 0 is entry 0", 3, 1, {0x01, 0x00, 0x82, 0x00}, -1, {0, 0, 0}},
      {"DataLength 0", 3, 2, {}, -1, {B, B, B, B, B, B}},
      {"data ends after the first row", 2, 3, {0x02, 0x01, 0x02, 0x00}, -1, {1, 2, B, B, B, B}},
      // Data that breaks the grammar.
      {"literal run past the row end", 3, 2, {0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x01, 0x06, 0x00}, -1,
       {1, 2, 3, 6, B, B}},
      {"transparent run past the row end", 2, 2, {0x85, 0x00}, -1, {0, 0, B, B}},
      {"0x80 after a full row is no row test", 3, 2, {0x83, 0x80, 0x03, 0x05, 0x06, 0x07, 0x00}, -1,
       {0, 0, 0, B, B, B}},
      {"rows beyond the height", 1, 1, {0x01, 0x05, 0x00, 0x01, 0x06, 0x00, 0x83, 0x00}, -1, {5}},
      {"literal run cut off by the data's end", 4, 1, {0x04, 0x01, 0x02}, -1, {1, 2, B, B}},
      {"DataLength below the data", 3, 1, {0x03, 0x01, 0x02, 0x03, 0x00}, 2, {1, B, B}},
      {"DataLength beyond the data", 3, 1, {0x03, 0x01, 0x02}, 100, {1, 2, B}},
      {"height 0", 2, 0, {0x02, 0x01, 0x02, 0x00}, -1, {}},
      {"width 0", 0, 2, {0x01, 0x05, 0x00, 0x83, 0x00}, -1, {}},
      {"negative width", -3, 2, {0x03, 0x01, 0x02, 0x03, 0x00}, -1, {}},
      {"negative height", 2, -1, {0x02, 0x01, 0x02, 0x00}, -1, {}},
  };
}

}  // namespace

TEST(DecodePage, RunsRowTestAndMalformedData) {
  for (const TDecodeCase& Case : DecodeCases()) {
    SCOPED_TRACE(Case.What);
    TSti Image;
    UseDistinctPalette(Image);
    AddPage(Image, "000.bmp", Case.Width, Case.Height, Case.Data, Case.Length);
    TBitmap Bitmap;
    ASSERT_EQ(Image.DecodePage(0, Bitmap), 0);
    EXPECT_EQ(Bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Bitmap.Width(), std::max<int>(0, Case.Width));
    EXPECT_EQ(Bitmap.Height(), std::max<int>(0, Case.Height));
    EXPECT_EQ(Pixels(Bitmap), Expected(Case.Indices));
  }
}

TEST(DecodePage, RedecodingGivesFreshPixelsAndKeepsTheRecord) {
  TSti Image;
  UseDistinctPalette(Image);
  const TBytes Full = {0x03, 0x01, 0x02, 0x03, 0x00, 0x81, 0x02, 0x04, 0x05, 0x00};
  AddPage(Image, "000.bmp", 3, 2, Full);
  AddPage(Image, "001.bmp", 3, 2, {0x02, 0x07, 0x08, 0x00});
  TBitmap Bitmap;
  ASSERT_EQ(Image.DecodePage(0, Bitmap), 0);
  const TBytes First = Pixels(Bitmap);
  EXPECT_EQ(First, Expected({1, 2, 3, 0, 4, 5}));
  // Nothing of the earlier page shows through where the next one has no data.
  ASSERT_EQ(Image.DecodePage(1, Bitmap), 0);
  EXPECT_EQ(Pixels(Bitmap), Expected({7, 8, Black, Black, Black, Black}));
  ASSERT_EQ(Image.DecodePage(0, Bitmap), 0);
  EXPECT_EQ(Pixels(Bitmap), First);
  EXPECT_EQ(Image.Record(0)->Data, Full);
  EXPECT_EQ(Image.Record(0)->DataLength, Full.size());
}

TEST(DecodePage, IndexOutsideTheTableLeavesTheBitmapAlone) {
  TSti Image;
  UseDistinctPalette(Image);
  AddPage(Image, "000.bmp", 2, 1, {0x02, 0x01, 0x02, 0x00});
  AddPage(Image, "001.bmp", 2, 1, {0x82, 0x00});
  TSti Rgb;
  Load(Rgb, MakeSti16(2, 1, {0xF800, 0x001F}));

  for (const TSti* Source : {&Image, &Rgb}) {
    for (int Index : {-1, Source->Pages.Count(), Source->Pages.Count() + 1, -2147483647 - 1}) {
      SCOPED_TRACE(Index);
      TBitmap Bitmap;
      Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
      Bitmap.SetHeight(1);
      Bitmap.SetWidth(3);
      Bitmap.ScanLine(0)[4] = 0x5A;
      const TBytes Before = Pixels(Bitmap);
      EXPECT_EQ(Source->DecodePage(Index, Bitmap), 20);
      EXPECT_EQ(Bitmap.Width(), 3);
      EXPECT_EQ(Bitmap.Height(), 1);
      EXPECT_EQ(Pixels(Bitmap), Before);
    }
  }
}

TEST(ExtractPage, FindsThePageByNameIgnoringCase) {
  TSti Image;
  UseDistinctPalette(Image);
  AddPage(Image, "000.bmp", 1, 1, {0x01, 0x03, 0x00});
  AddPage(Image, "abc.bmp", 1, 1, {0x01, 0x04, 0x00});
  AddPage(Image, "ABC.BMP", 1, 1, {0x01, 0x05, 0x00});

  const struct {
    const char* Name;
    int Result;
    int Index;  // the pixel expected, or Black for an untouched bitmap
  } Cases[] = {
      {"000.bmp", 0, 3}, {"000.BMP", 0, 3}, {"Abc.bmp", 0, 4}, {"ABC.BMP", 0, 4},
      {"zzz", 15, Black}, {"", 15, Black}, {"000.bm", 15, Black}, {"sub\\000.bmp", 15, Black},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TBitmap Bitmap;
    EXPECT_EQ(Image.ExtractPage(Case.Name, Bitmap), Case.Result);
    if (Case.Result == 0) {
      EXPECT_EQ(Pixels(Bitmap), Expected({Case.Index}));
    } else {
      EXPECT_EQ(Bitmap.PixelFormat(), TPixelFormat::pfDevice);
      EXPECT_EQ(Bitmap.Width(), 0);
    }
  }

  TSti Empty;
  TBitmap Bitmap;
  EXPECT_EQ(Empty.ExtractPage("000.bmp", Bitmap), 15);
}

TEST(DecodeRgbPage, ConvertsEachWordThroughFiveBitFields) {
  const struct {
    uint16_t Word;
    uint8_t Blue, Green, Red;
  } Cases[] = {
      {0x0000, 0, 0, 0},       {0xFFFF, 248, 248, 248}, {0x0020, 0, 0, 0},   {0xF800, 0, 0, 248},
      {0x07E0, 0, 248, 0},     {0x07C0, 0, 248, 0},     {0x001F, 248, 0, 0}, {0x1234, 160, 64, 16},
      {0x0841, 8, 8, 8},       {0xA815, 168, 0, 168},
  };
  // Five words a row, two rows: the first five words are the top row.
  std::vector<uint16_t> Words;
  TBytes Want;
  for (const auto& Case : Cases) {
    Words.push_back(Case.Word);
    Want.insert(Want.end(), {Case.Blue, Case.Green, Case.Red});
  }
  TSti Image;
  Load(Image, MakeSti16(5, 2, Words));
  const TBytes Data = Image.Record(0)->Data;

  TBitmap Bitmap;
  Bitmap.SetPixelFormat(TPixelFormat::pf8bit);
  ASSERT_EQ(Image.DecodePage(0, Bitmap), 0);
  EXPECT_EQ(Bitmap.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(Bitmap.Width(), 5);
  EXPECT_EQ(Bitmap.Height(), 2);
  EXPECT_EQ(Pixels(Bitmap), Want);
  // A second conversion gives the same pixels and leaves the data alone.
  ASSERT_EQ(Image.DecodeRgbPage(Bitmap), 0);
  EXPECT_EQ(Pixels(Bitmap), Want);
  EXPECT_EQ(Image.Record(0)->Data, Data);
  EXPECT_EQ(Image.DecodePage(1, Bitmap), 20);
}

TEST(DecodeRgbPage, EmptyOrShortPictures) {
  const struct {
    int16_t Width, Height;
    size_t Words;  // words the page really holds
    int Covered;   // pixels expected from them
  } Cases[] = {{0, 3, 0, 0}, {4, 0, 0, 0}, {2, 2, 3, 3}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Width << "x" << Case.Height);
    TSti Image;
    Load(Image, MakeSti16(Case.Width, Case.Height, std::vector<uint16_t>(static_cast<size_t>(Case.Width * Case.Height), 0xFFFF)));
    Image.Record(0)->Data.resize(Case.Words * 2);
    TBitmap Bitmap;
    ASSERT_EQ(Image.DecodePage(0, Bitmap), 0);
    EXPECT_EQ(Bitmap.Width(), Case.Width);
    EXPECT_EQ(Bitmap.Height(), Case.Height);
    TBytes Want(static_cast<size_t>(Case.Width * Case.Height) * 3, 0);
    std::fill(Want.begin(), Want.begin() + Case.Covered * 3, 248);
    EXPECT_EQ(Pixels(Bitmap), Want);
  }
}
