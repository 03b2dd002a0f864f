// Writes the seed inputs of every fuzz target: make_corpus <directory> fills <directory>/<target>/.
// The seeds are small files made by kelpix's own code (the encoder, the saver and the BMP writer)
// or laid out here by hand, one for each shape an input path must handle: well-formed files of
// both kinds of image, odd layouts, broken page data, every BMP header and pixel format, and the
// texts of the name list and number rules.
#include "Sti/Sti.h"
#include "platform/Bitmap.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path Root;

void Put(const std::string& Target, const std::string& Name, const TBytes& Bytes) {
  const fs::path Dir = Root / Target;
  fs::create_directories(Dir);
  std::ofstream Out(Dir / Name, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  if (!Out) {
    std::fprintf(stderr, "make_corpus: cannot write %s\n", (Dir / Name).string().c_str());
    std::exit(1);
  }
}

void Put(const std::string& Target, const std::string& Name, const std::string& Text) {
  Put(Target, Name, TBytes(Text.begin(), Text.end()));
}

TBytes ReadAll(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void SetLE(TBytes& Bytes, size_t At, size_t Width, uint32_t Value) {
  if (Bytes.size() < At + Width)
    Bytes.resize(At + Width, 0);
  for (size_t I = 0; I < Width; ++I)
    Bytes[At + I] = static_cast<uint8_t>(Value >> (8 * I));
}

// A 24-bit bitmap whose pixel (x, y) gets Colour(x, y) as 0xRRGGBB.
template <typename TColour>
void Paint(TBitmap& Bitmap, int Width, int Height, TColour Colour) {
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(Height);
  Bitmap.SetWidth(Width);
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      const uint32_t C = Colour(X, Y);
      uint8_t* Pixel = Bitmap.ScanLine(Y) + 3 * X;
      Pixel[0] = static_cast<uint8_t>(C);
      Pixel[1] = static_cast<uint8_t>(C >> 8);
      Pixel[2] = static_cast<uint8_t>(C >> 16);
    }
}

// A sprite 5 wide and 3 high: a magenta background (the top-left pixel, so it becomes transparent)
// around red, blue and green pixels that differ in red and blue.
void Sprite(TBitmap& Bitmap) {
  Paint(Bitmap, 5, 3, [](int X, int Y) -> uint32_t {
    if (Y == 1 && X >= 1 && X <= 3)
      return X == 1 ? 0xE01000 : X == 2 ? 0x1000E0 : 0x20C040;
    return 0xFF00FF;
  });
}

TBytes EncodedSprite() {
  TSti Image;
  std::memcpy(Image.Header, StiMagic, sizeof StiMagic);
  TBitmap Bitmap;
  Sprite(Bitmap);
  Image.PaletteCount = 0;
  Image.BuildPalette(Bitmap, -1, -1, -1);
  int32_t Length = 0;
  TBytes Data = Image.EncodePage(Bitmap, Length);
  Data.resize(static_cast<size_t>(Length));
  return Data;
}

// An 8-bit image of four pages made the way the add command makes them, saved by Save: the
// sprite, one opaque pixel, a row of 130 opaque pixels (two literal runs) and a page 0 pixels wide.
TBytes SavedImage() {
  const fs::path Path = Root / "scratch.sti";
  TBytes Empty(PageTableOffset, 0);
  std::memcpy(Empty.data(), StiMagic, sizeof StiMagic);
  {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Empty.data()), static_cast<std::streamsize>(Empty.size()));
  }
  TSti Image;
  if (Image.Open(Path.string(), 0) != Result::Ok) {
    std::fprintf(stderr, "make_corpus: cannot open %s\n", Path.string().c_str());
    std::exit(1);
  }
  TBitmap Bitmap;
  Sprite(Bitmap);
  Image.AddPage(Bitmap, "", false, -3, 7, -1, -1, -1);
  Paint(Bitmap, 1, 1, [](int, int) -> uint32_t { return 0xE01000; });
  Image.AddPage(Bitmap, "", false, 0, 0, -1, -1, -1);
  Paint(Bitmap, 130, 1, [](int X, int) -> uint32_t { return X % 2 ? 0x1000E0 : 0x20C040; });
  Image.AddPage(Bitmap, "", false, 1, -1, -1, -1, -1);
  Paint(Bitmap, 0, 2, [](int, int) -> uint32_t { return 0; });
  Image.AddPage(Bitmap, "", false, 0, 0, -1, -1, -1);
  if (Image.Save("") != Result::Ok) {
    std::fprintf(stderr, "make_corpus: cannot save %s\n", Path.string().c_str());
    std::exit(1);
  }
  TBytes Bytes = ReadAll(Path);
  fs::remove(Path);
  return Bytes;
}

// An 8-bit image laid out by hand: header, a palette, the given entries and data area.
struct TEntry {
  uint32_t DataOffset;
  uint32_t DataLength;
  int16_t Height;
  int16_t Width;
};
TBytes HandImage(const std::vector<TEntry>& Entries, const TBytes& DataArea, int16_t Count) {
  TBytes Bytes(PageTableOffset, 0);
  std::memcpy(Bytes.data(), StiMagic, sizeof StiMagic);
  for (size_t I = 0; I < PaletteSize; ++I)
    Bytes[PaletteOffset + I] = static_cast<uint8_t>(I * 5 + 1);
  SetLE(Bytes, OriginalSizeOffset, 4, 5000);
  SetLE(Bytes, StoredSizeOffset, 4, static_cast<uint32_t>(DataArea.size()));
  SetLE(Bytes, PageCountOffset, 2, static_cast<uint16_t>(Count));
  Bytes[40] = 0x24;  // a byte the tool does not interpret, carried through
  for (size_t I = 0; I < Entries.size(); ++I) {
    const size_t At = PageTableOffset + EntrySize * I;
    SetLE(Bytes, At, 4, Entries[I].DataOffset);
    SetLE(Bytes, At + 4, 4, Entries[I].DataLength);
    SetLE(Bytes, At + 8, 2, static_cast<uint16_t>(static_cast<int16_t>(I) - 2));
    SetLE(Bytes, At + 10, 2, 3);
    SetLE(Bytes, At + 12, 2, static_cast<uint16_t>(Entries[I].Height));
    SetLE(Bytes, At + 14, 2, static_cast<uint16_t>(Entries[I].Width));
  }
  Bytes.insert(Bytes.end(), DataArea.begin(), DataArea.end());
  return Bytes;
}

TBytes RgbImage(int16_t Width, int16_t Height) {
  TBytes Bytes(HeaderSize, 0);
  std::memcpy(Bytes.data(), StiMagic, sizeof StiMagic);
  Bytes[FlagsOffset] = RgbFlag;
  SetLE(Bytes, HeightOffset, 2, static_cast<uint16_t>(Height));
  SetLE(Bytes, WidthOffset, 2, static_cast<uint16_t>(Width));
  const uint16_t Words[] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0020, 0x7BEF};
  for (int I = 0; I < Width * Height; ++I) {
    Bytes.push_back(static_cast<uint8_t>(Words[I % 6]));
    Bytes.push_back(static_cast<uint8_t>(Words[I % 6] >> 8));
  }
  return Bytes;
}

void StiSeeds(const std::string& Target) {
  const TBytes Saved = SavedImage();
  Put(Target, "saved-four-pages.sti", Saved);
  Put(Target, "no-pages.sti", HandImage({}, {}, 0));
  Put(Target, "negative-count.sti", HandImage({}, {}, -1));
  // Data out of order, shared by two entries, with a gap and bytes after the last page's data.
  const TBytes Area = {0x81, 0x02, 0x05, 0x07, 0x00, 0xEE, 0x02, 0x04, 0x04, 0x00, 0x82, 0x00, 0x99};
  Put(Target, "odd-layout.sti",
      HandImage({{6, 6, 2, 2}, {0, 5, 1, 3}, {6, 6, 2, 2}, {5, 0, 0, 0}}, Area, 4));
  // Runs that overshoot their row, an empty transparent run, a literal run cut off by the end of
  // the data, a negative width and a page with more rows than data.
  const TBytes Broken = {0x85, 0x03, 0x01, 0x02, 0x03, 0x80, 0x00, 0x7F, 0x09, 0x81, 0x00, 0x05, 0x01, 0x02};
  Put(Target, "broken-data.sti",
      HandImage({{0, 14, 3, 2}, {0, 7, 1, -4}, {7, 7, 9, 1}, {0, 0, -2, 5}}, Broken, 4));
  // A page that claims the largest size a record can hold, with two bytes of data.
  Put(Target, "huge-page.sti", HandImage({{0, 2, 32767, 32767}}, {0x81, 0x00}, 1));
  // A data offset past the end of the file.
  Put(Target, "offset-past-end.sti", HandImage({{100, 4, 1, 1}}, {0x01, 0x05, 0x00, 0x00}, 1));
  Put(Target, "rgb-3x2.sti", RgbImage(3, 2));
  Put(Target, "rgb-empty.sti", RgbImage(0, 0));
  TBytes Short = RgbImage(4, 4);
  Short.resize(Short.size() - 3);
  Put(Target, "rgb-short.sti", Short);
  TBytes Wrong = HandImage({}, {}, 0);
  Wrong[3] = 'X';
  Put(Target, "wrong-magic.sti", Wrong);
  Put(Target, "header-only.sti", TBytes(Saved.begin(), Saved.begin() + 70));
}

// Page-decoder input: width, height, mode, palette seed, data.
TBytes DecoderInput(int16_t Width, int16_t Height, uint8_t Mode, const TBytes& Data) {
  TBytes Bytes;
  SetLE(Bytes, 0, 2, static_cast<uint16_t>(Width));
  SetLE(Bytes, 2, 2, static_cast<uint16_t>(Height));
  Bytes.push_back(Mode);
  Bytes.push_back(0x3C);
  Bytes.insert(Bytes.end(), Data.begin(), Data.end());
  return Bytes;
}

void DecoderSeeds() {
  const TBytes Sprite = EncodedSprite();
  Put("decode", "sprite", DecoderInput(5, 3, 0, Sprite));
  Put("decode", "sprite-half-claimed", DecoderInput(5, 3, 2, Sprite));
  Put("decode", "sprite-over-claimed", DecoderInput(5, 3, 4, Sprite));
  Put("decode", "sprite-too-narrow", DecoderInput(3, 3, 0, Sprite));
  Put("decode", "sprite-negative-width", DecoderInput(-5, 3, 0, Sprite));
  Put("decode", "sprite-no-rows", DecoderInput(5, 0, 0, Sprite));
  Put("decode", "broken", DecoderInput(4, 2, 0, {0x85, 0x03, 0x01, 0x02, 0x03, 0x80, 0x00, 0x7F, 0x09}));
  Put("decode", "long-runs", DecoderInput(300, 2, 0, {0xFF, 0xFF, 0xAE, 0x00, 0x7F, 0x01, 0x02, 0x00}));
  Put("decode", "rgb", DecoderInput(3, 2, 1, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF, 0x20, 0x00, 0xEF, 0x7B}));
  Put("decode", "rgb-short", DecoderInput(4, 4, 1, {0x00, 0xF8, 0xE0}));
}

TBytes WrittenBmp(const TBitmap& Bitmap) {
  const fs::path Path = Root / "scratch.bmp";
  Bitmap.SaveToFile(Path.string());
  TBytes Bytes = ReadAll(Path);
  fs::remove(Path);
  return Bytes;
}

// A BMP file laid out by hand: file header, an information header of HeaderSize bytes (12 for the
// OS/2 core header), Extra bytes (a colour table), then the rows.
TBytes HandBmp(uint32_t HeaderSize, int32_t Width, int32_t Height, uint16_t Bits, uint32_t Compression,
               const TBytes& Extra, const TBytes& Rows, uint16_t Planes = 1) {
  TBytes Bytes(14 + HeaderSize, 0);
  Bytes[0] = 'B';
  Bytes[1] = 'M';
  SetLE(Bytes, 10, 4, static_cast<uint32_t>(14 + HeaderSize + Extra.size()));
  SetLE(Bytes, 14, 4, HeaderSize);
  if (HeaderSize == 12) {
    SetLE(Bytes, 18, 2, static_cast<uint16_t>(Width));
    SetLE(Bytes, 20, 2, static_cast<uint16_t>(Height));
    SetLE(Bytes, 22, 2, Planes);
    SetLE(Bytes, 24, 2, Bits);
  } else {
    SetLE(Bytes, 18, 4, static_cast<uint32_t>(Width));
    SetLE(Bytes, 22, 4, static_cast<uint32_t>(Height));
    SetLE(Bytes, 26, 2, Planes);
    SetLE(Bytes, 28, 2, Bits);
    SetLE(Bytes, 30, 4, Compression);
  }
  Bytes.insert(Bytes.end(), Extra.begin(), Extra.end());
  Bytes.insert(Bytes.end(), Rows.begin(), Rows.end());
  SetLE(Bytes, 2, 4, static_cast<uint32_t>(Bytes.size()));
  return Bytes;
}

// Rows of a 24-bit picture W × H with padding, in the order given.
TBytes Rows24(int Width, int Height) {
  TBytes Rows;
  const int Stride = (Width * 3 + 3) / 4 * 4;
  for (int Y = 0; Y < Height; ++Y)
    for (int B = 0; B < Stride; ++B)
      Rows.push_back(B < Width * 3 ? static_cast<uint8_t>(Y * 40 + B * 17) : 0);
  return Rows;
}

void BmpSeeds() {
  TBitmap Bitmap;
  Sprite(Bitmap);
  Put("bmp", "written-5x3.bmp", WrittenBmp(Bitmap));
  Paint(Bitmap, 20, 15, [](int X, int Y) -> uint32_t { return static_cast<uint32_t>(X * 12 + Y * 4000 + 1); });
  Put("bmp", "written-300-colours.bmp", WrittenBmp(Bitmap));
  Put("bmp", "top-down.bmp", HandBmp(40, 3, -2, 24, 0, {}, Rows24(3, 2)));
  Put("bmp", "core-header.bmp", HandBmp(12, 3, 2, 24, 0, {}, Rows24(3, 2)));
  Put("bmp", "v4-header.bmp", HandBmp(108, 2, 2, 24, 0, {}, Rows24(2, 2)));
  Put("bmp", "v5-header.bmp", HandBmp(124, 1, 3, 24, 0, {}, Rows24(1, 3)));
  TBytes Table;
  for (int I = 0; I < 4; ++I) {
    Table.push_back(static_cast<uint8_t>(I * 60));  // blue
    Table.push_back(0x10);
    Table.push_back(static_cast<uint8_t>(255 - I * 60));  // red
    Table.push_back(0);
  }
  Put("bmp", "8-bit.bmp", HandBmp(40, 2, 2, 8, 0, Table, {0, 1, 0, 0, 2, 3, 0, 0}));
  Put("bmp", "rle8.bmp", HandBmp(40, 2, 2, 8, 1, Table, {2, 1, 0, 0, 2, 3, 0, 1}));
  Put("bmp", "32-bit.bmp", HandBmp(40, 2, 1, 32, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}));
  Put("bmp", "empty.bmp", TBytes{});
  Put("bmp", "oversized.bmp", HandBmp(40, 40000, 1, 24, 0, {}, Rows24(1, 1)));
  Put("bmp", "negative-width.bmp", HandBmp(40, -3, 2, 24, 0, {}, Rows24(3, 2)));
  Put("bmp", "two-planes.bmp", HandBmp(40, 3, 2, 24, 0, {}, Rows24(3, 2), 2));
  TBytes Cut = HandBmp(40, 3, 2, 24, 0, {}, Rows24(3, 2));
  Cut.resize(Cut.size() - 5);
  Put("bmp", "rows-cut-short.bmp", Cut);
  Put("bmp", "no-signature.bmp", std::string("MB not a bitmap"));
  Put("bmp", "header-cut-short.bmp", TBytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0});
}

// Encoder input: width (2 bytes), height, mode, indices.
TBytes EncoderInput(int Width, int Height, uint8_t Mode, const TBytes& Indices) {
  TBytes Bytes;
  SetLE(Bytes, 0, 2, static_cast<uint16_t>(Width));
  Bytes.push_back(static_cast<uint8_t>(Height));
  Bytes.push_back(Mode);
  Bytes.insert(Bytes.end(), Indices.begin(), Indices.end());
  return Bytes;
}

void EncoderSeeds() {
  Put("encode", "row-0-0-3-4-0", EncoderInput(5, 1, 0, {0, 0, 3, 4, 0}));
  Put("encode", "transparent-10x3", EncoderInput(10, 3, 0, {0}));
  Put("encode", "opaque-300x2", EncoderInput(300, 2, 0, {5}));
  Put("encode", "transparent-200", EncoderInput(200, 1, 0, {0}));
  Put("encode", "one-wide", EncoderInput(1, 4, 0, {7, 0}));
  Put("encode", "zero-wide", EncoderInput(0, 5, 0, {}));
  Put("encode", "alternating-nearest", EncoderInput(9, 3, 1, {0, 255, 0, 1}));
  Put("encode", "runs-128", EncoderInput(256, 1, 0, TBytes(128, 0)));
  // Palettes with many equal and equally near entries (seed, mask), pixels of any colour.
  TBytes Pixels = {0x12, 0x34, 0x56, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x80, 0x7F, 0x81, 0x20, 0x20, 0x20};
  TBytes Coarse = {0x39, 0x05, 0xC0};
  Coarse.insert(Coarse.end(), Pixels.begin(), Pixels.end());
  Put("encode", "coarse-palette-exact", EncoderInput(7, 3, 2, Coarse));
  Put("encode", "coarse-palette-nearest", EncoderInput(7, 3, 3, Coarse));
  TBytes Fine = {0x02, 0x71, 0xFF};
  Fine.insert(Fine.end(), Pixels.begin(), Pixels.end());
  Put("encode", "full-palette-nearest", EncoderInput(40, 20, 3, Fine));
}

void ListSeeds() {
  const char* Texts[][2] = {
      {"crlf", "a\r\nb"},     {"lf-lf", "a\n\nb"},         {"trailing-lf", "a\n"},
      {"trailing-cr", "a\r"}, {"lf-cr", "a\n\r"},          {"blanks", " a \tb"},
      {"empty", ""},          {"names", "000.bmp\r\n001.BMP\r\nart\\002.bmp\n"}, {"only-ends", "\r\n\r\n\n\r"},
  };
  for (const auto& Text : Texts)
    Put("list", Text[0], std::string(Text[1]));
  Put("list", "nul", std::string("a\0b\nc", 5));
}

// Page-table operations: the number of pages, then lines of an operation letter and a name.
void NameSeeds() {
  const struct {
    const char* Name;
    int Pages;
    const char* Lines;
  } Seeds[] = {
      {"delete-two", 4, "d001.bmp\nd002.bmp\nf003.bmp\nf001.bmp"},
      {"delete-twice", 5, "d001.BMP\nd001.bmp\nf000.bmp"},
      {"refresh-and-append", 3, "m002.bmp\nm099.bmp\nm099.bmp\nf\nd\nf\na\nf"},
      {"empty-names", 2, "a\na\nd\nd\nd\nm000.bmp"},
      {"many-pages", 200, "d150.bmp\nd015.bmp\nf199.bmp\nm100.BMP\nd100.bmp\nf101.bmp"},
      {"no-pages", 0, "f000.bmp\nd000.bmp\nm000.bmp\nf"},
  };
  for (const auto& Seed : Seeds) {
    TBytes Bytes = {static_cast<uint8_t>(Seed.Pages)};
    Bytes.insert(Bytes.end(), Seed.Lines, Seed.Lines + std::strlen(Seed.Lines));
    Put("names", Seed.Name, Bytes);
  }
}

void NumberSeeds() {
  const char* Texts[][2] = {
      {"decimal", "12"},          {"blank", " 12"},          {"plus", "+7"},           {"minus-zero", "-0"},
      {"zeros", "007"},           {"dollar", "$1F"},         {"x", "x1f"},             {"0X", "0X1f"},
      {"all-ones", "$FFFFFFFF"},  {"max", "2147483647"},     {"min", "-2147483648"},   {"above-max", "2147483648"},
      {"below-min", "-2147483649"}, {"point", "1.5"},        {"signed-hex", "-$10"},   {"bare-0x", "0x"},
      {"bare-dollar", "$"},       {"bare-minus", "-"},       {"trailing-blank", "12 "}, {"empty", ""},
      {"tab", "\t12"},            {"hex-too-big", "0x100000000"}, {"hex-zeros", "$00000000FF"},
  };
  for (const auto& Text : Texts)
    Put("numbers", Text[0], std::string(Text[1]));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus <directory>\n");
    return 2;
  }
  Root = argv[1];
  fs::create_directories(Root);
  StiSeeds("sti_open");
  StiSeeds("save");
  DecoderSeeds();
  BmpSeeds();
  EncoderSeeds();
  ListSeeds();
  NumberSeeds();
  NameSeeds();
  return 0;
}
