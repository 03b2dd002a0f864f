// The run-length page encoder.
#include "BmpSupport.h"

#include "Sti/Sti.h"

#include <cstring>
#include <sstream>

namespace {

TBytes Hex(const std::string& Text) {
  std::istringstream In(Text);
  TBytes Bytes;
  unsigned Byte = 0;
  while (In >> std::hex >> Byte)
    Bytes.push_back(static_cast<uint8_t>(Byte));
  return Bytes;
}

TBytes Repeat(size_t Count, uint8_t Value) {
  return TBytes(Count, Value);
}

TBytes Join(std::initializer_list<TBytes> Parts) {
  TBytes All;
  for (const TBytes& Part : Parts)
    All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

// An image whose 256 palette entries are distinct, so exact matching gives every index back.
class TEncoder {
public:
  TEncoder() {
    const TBytes Palette = DistinctPalette();
    std::memcpy(Image.Palette, Palette.data(), Palette.size());
    Image.PaletteCount = 256;
  }

  // Encodes the picture of the indices, Width a row; checks that the length is the buffer's size.
  TBytes Encode(int Width, const TBytes& Indices) const { return EncodeBitmap(BitmapOf(Picture(Width, Indices))); }

  TBytes EncodeBitmap(const TBitmap& Bitmap) const {
    int32_t Length = -1;
    const TBytes Data = Image.EncodePage(Bitmap, Length);
    EXPECT_EQ(Length, static_cast<int32_t>(Data.size()));
    return Data;
  }

  TPicture Picture(int Width, const TBytes& Indices) const { return PictureOfIndices(Width, Indices, DistinctPalette()); }

  TSti Image;
};

// What a well-formed page of Width × Height holds, read back by the grammar, and how it was cut.
struct TParsed {
  std::string Fault;  // empty when the data is well formed and cut as the encoder must cut it
  TBytes Indices;
  size_t Controls = 0;
};

TParsed Parse(const TBytes& Data, int Width, int Height) {
  TParsed Out;
  size_t At = 0;
  auto Fail = [&](const std::string& Why) {
    if (Out.Fault.empty())
      Out.Fault = Why + " at byte " + std::to_string(At);
  };
  for (int Row = 0; Row < Height && Out.Fault.empty(); ++Row) {
    int Column = 0;
    int LastKind = -1;  // 0 transparent, 1 literal
    int LastCount = 0;
    for (;;) {
      if (At >= Data.size()) {
        Fail("data ends inside row " + std::to_string(Row));
        break;
      }
      const uint8_t Control = Data[At++];
      if (Control == EndOfRow) {
        if (Column != Width)
          Fail("end of row after " + std::to_string(Column) + " pixels");
        break;
      }
      if (Control == 0x80)
        Fail("empty transparent run");
      const int Kind = Control > 0x80 ? 0 : 1;
      const int Count = Control & 0x7F;
      if (Kind == LastKind && LastCount != MaxRunLength)
        Fail("a run that could have gone on was cut");
      if (Column + Count > Width)
        Fail("run past the end of the row");
      ++Out.Controls;
      for (int I = 0; I < Count; ++I) {
        if (Kind == 0) {
          Out.Indices.push_back(0);
          continue;
        }
        if (At >= Data.size()) {
          Fail("literal run cut off");
          break;
        }
        if (Data[At] == 0)
          Fail("index 0 inside a literal run");
        Out.Indices.push_back(Data[At++]);
      }
      Column += Count;
      LastKind = Kind;
      LastCount = Count;
    }
  }
  if (Out.Fault.empty() && At != Data.size())
    Fail("bytes after the last row");
  return Out;
}

}  // namespace

TEST(Encode, RowsAreCodedAsTheirLongestRuns) {
  const struct {
    const char* What;
    TBytes Indices;
    TBytes Expected;
  } Cases[] = {
      {"0 0 3 4 0", Hex("0 0 3 4 0"), Hex("82 02 03 04 81 00")},
      {"ten times 0", Repeat(10, 0), Hex("8A 00")},
      {"1, one pixel wide", Hex("1"), Hex("01 01 00")},
      {"0, one pixel wide", Hex("0"), Hex("81 00")},
      {"2 2 2", Hex("2 2 2"), Hex("03 02 02 02 00")},
      {"0 0 5 7 0 0", Hex("0 0 5 7 0 0"), Hex("82 02 05 07 82 00")},
      {"0 9 9", Hex("0 9 9"), Hex("81 02 09 09 00")},
      {"127 times 0", Repeat(127, 0), Hex("FF 00")},
      {"128 times 0", Repeat(128, 0), Hex("FF 81 00")},
      {"200 times 0", Repeat(200, 0), Hex("FF C9 00")},
      {"254 times 0", Repeat(254, 0), Hex("FF FF 00")},
      {"127 times 6", Repeat(127, 6), Join({Hex("7F"), Repeat(127, 6), Hex("00")})},
      {"128 times 6", Repeat(128, 6), Join({Hex("7F"), Repeat(127, 6), Hex("01 06 00")})},
      {"254 times 6", Repeat(254, 6), Join({Hex("7F"), Repeat(127, 6), Hex("7F"), Repeat(127, 6), Hex("00")})},
      {"300 times 5", Repeat(300, 5),
       Join({Hex("7F"), Repeat(127, 5), Hex("7F"), Repeat(127, 5), Hex("2E"), Repeat(46, 5), Hex("00")})},
      {"127 times 6, then 0", Join({Repeat(127, 6), Hex("0")}), Join({Hex("7F"), Repeat(127, 6), Hex("81 00")})},
      {"128 times 0, then 8", Join({Repeat(128, 0), Hex("8")}), Hex("FF 81 01 08 00")},
      {"alternating", Hex("1 0 2 0 3"), Hex("01 01 81 01 02 81 01 03 00")},
      {"indices up to 255", Hex("FF 80 7F 0 81"), Hex("03 FF 80 7F 81 01 81 00")},
  };
  const TEncoder Encoder;
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.What);
    EXPECT_EQ(Encoder.Encode(static_cast<int>(Case.Indices.size()), Case.Indices), Case.Expected);
  }
}

TEST(Encode, EveryRowEndsWithOneZeroByte) {
  const TEncoder Encoder;
  EXPECT_EQ(Encoder.Encode(10, Repeat(30, 0)), Hex("8A 00 8A 00 8A 00"));
  EXPECT_EQ(Encoder.Encode(2, Hex("4 4 0 0")), Hex("02 04 04 00 82 00"));
  // Rows never run into each other, however the pixels line up.
  EXPECT_EQ(Encoder.Encode(3, Hex("0 0 0 0 0 0 7 7 7 7 7 7")), Hex("83 00 83 00 03 07 07 07 00 03 07 07 07 00"));
  // One pixel wide: three bytes for a row that is not transparent, more than 2 × width.
  EXPECT_EQ(Encoder.Encode(1, Hex("3 0 4 5")), Hex("01 03 00 81 00 01 04 00 01 05 00"));
}

TEST(Encode, PagesWithoutPixels) {
  const TEncoder Encoder;
  // No rows: nothing at all.
  EXPECT_EQ(Encoder.EncodeBitmap(BitmapOf(TPicture{5, 0, {}})), TBytes());
  EXPECT_EQ(Encoder.EncodeBitmap(BitmapOf(TPicture{0, 0, {}})), TBytes());
  // No pixels wide: one end-of-row byte a row.
  EXPECT_EQ(Encoder.EncodeBitmap(BitmapOf(TPicture{0, 4, {}})), Hex("00 00 00 00"));
}

TEST(Encode, PixelsAreMatchedAsThePaletteFlagSays) {
  TEncoder Encoder;
  const TBytes Palette = DistinctPalette();
  // Entry 9 and a colour one step of red away from it, which no entry holds.
  const TRgb Entry9{Palette[27], Palette[28], Palette[29]};
  const TRgb Off{static_cast<uint8_t>(Entry9.R + 1), Entry9.G, Entry9.B};
  const TBitmap Bitmap = BitmapOf(PictureOfColors(3, {Entry9, Off, Entry9}));
  Encoder.Image.AdaptPalette = false;
  EXPECT_EQ(Encoder.EncodeBitmap(Bitmap), Hex("01 09 81 01 09 00"));  // unknown colour: transparent
  Encoder.Image.AdaptPalette = true;
  EXPECT_EQ(Encoder.EncodeBitmap(Bitmap), Hex("03 09 09 09 00"));  // nearest: entry 9 itself
}

TEST(Encode, AnyPageIsCodedByTheGrammarWithinTwoBytesAPixel) {
  // Pseudo-random rows with long and short stretches of both kinds, and the worst case of single
  // pixels alternating; every output must read back as the indices, cut as the encoder cuts.
  const TEncoder Encoder;
  uint32_t Seed = 12345;
  auto Next = [&Seed] {
    Seed = Seed * 1103515245u + 12345u;
    return Seed >> 16;
  };
  for (int Width : {1, 2, 3, 126, 127, 128, 129, 254, 255, 256, 300}) {
    for (int Pattern = 0; Pattern < 4; ++Pattern) {
      const int Height = 1 + Pattern % 3;
      TBytes Indices;
      for (int I = 0; I < Width * Height; ++I) {
        switch (Pattern) {
          case 0: Indices.push_back(I % 2 ? 0 : static_cast<uint8_t>(1 + I % 255)); break;
          case 1: Indices.push_back(I % 2 ? static_cast<uint8_t>(1 + I % 255) : 0); break;
          case 2: Indices.push_back(Next() % 3 == 0 ? 0 : static_cast<uint8_t>(Next() % 256)); break;
          default: Indices.push_back((I / 100) % 2 ? 0 : static_cast<uint8_t>(200 + I % 50)); break;
        }
      }
      SCOPED_TRACE("width " + std::to_string(Width) + ", pattern " + std::to_string(Pattern));
      const TBytes Data = Encoder.Encode(Width, Indices);
      const TParsed Parsed = Parse(Data, Width, Height);
      ASSERT_EQ(Parsed.Fault, "");
      EXPECT_EQ(Parsed.Indices, Indices);
      size_t Opaque = 0;
      for (uint8_t Index : Indices)
        Opaque += Index != 0;
      EXPECT_EQ(Data.size(), Parsed.Controls + Opaque + static_cast<size_t>(Height));
      if (Width >= 2) {
        EXPECT_LE(Data.size(), static_cast<size_t>(Height) * 2 * static_cast<size_t>(Width));
      }
    }
  }
}
