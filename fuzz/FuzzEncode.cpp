// Fuzz target: colour matching and the run-length encoder, and decoding its output again.
//
// Input: width (2 bytes, taken modulo 301), height (1 byte, modulo 41), a mode byte, then:
//   mode bit 1 clear: palette indices, repeated to fill the bitmap. Each pixel gets the colour of
//     its index in a palette of 256 distinct colours, so matching must give the index back.
//   mode bit 1 set: a palette seed (2 bytes) and mask (1 byte), then pixel bytes (blue, green, red,
//     repeated to fill the bitmap). The palette is made from the seed with every byte masked, so
//     that a narrow mask gives many equal and equally near entries; each pixel must get the index
//     that the plain search below gives, the lowest of the best entries.
// Mode bit 0 selects nearest-colour matching (adaptation) instead of exact matching.
//
// The encoded page must follow the grammar strictly: every row a sequence of maximal runs (a run
// shorter than 127 pixels is never followed by one of the same kind) adding up to exactly the
// width, then one end-of-row byte; no control byte 0x80; literal runs hold the non-zero indices of
// their pixels. Its length is control bytes + opaque pixels + height, and at most height × 2 ×
// width from two pixels wide on. Decoding it gives every pixel the colour of its index.
#include "FuzzSupport.h"

#include "Sti/Sti.h"
#include "platform/Bitmap.h"

#include <cstring>
#include <memory>
#include <unordered_map>

namespace {

// The plain search over all 256 entries: the first equal entry (else 0), or the first entry at the
// smallest squared distance.
uint8_t Reference(const uint8_t (*Palette)[3], const uint8_t* Pixel, bool Nearest) {
  int Best = 0;
  long BestDistance = -1;
  for (int I = 0; I < 256; ++I) {
    const long Red = Pixel[2] - Palette[I][0];
    const long Green = Pixel[1] - Palette[I][1];
    const long Blue = Pixel[0] - Palette[I][2];
    const long Distance = Red * Red + Green * Green + Blue * Blue;
    if (!Nearest && Distance == 0)
      return static_cast<uint8_t>(I);
    if (Nearest && (BestDistance < 0 || Distance < BestDistance)) {
      Best = I;
      BestDistance = Distance;
    }
  }
  return static_cast<uint8_t>(Nearest ? Best : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 4)
    return 0;
  const int Width = (Data[0] | Data[1] << 8) % 301;
  const int Height = Data[2] % 41;
  const bool Nearest = (Data[3] & 1) != 0;
  const bool FreePalette = (Data[3] & 2) != 0;
  if (FreePalette && Size < 7)
    return 0;
  const uint8_t* Rest = Data + (FreePalette ? 7 : 4);
  const size_t Count = Size - (FreePalette ? 7 : 4);

  TSti Image;
  std::memcpy(Image.Header, StiMagic, sizeof StiMagic);
  if (FreePalette) {
    uint32_t State = (Data[4] | Data[5] << 8) * 2654435761u + 1;
    for (int I = 0; I < 256; ++I)
      for (int C = 0; C < 3; ++C) {
        State = State * 1664525u + 1013904223u;
        Image.Palette[I][C] = static_cast<uint8_t>((State >> 24) & Data[6]);
      }
  } else {
    for (int I = 0; I < 256; ++I) {
      Image.Palette[I][0] = static_cast<uint8_t>(I);
      Image.Palette[I][1] = static_cast<uint8_t>(255 - I);
      Image.Palette[I][2] = static_cast<uint8_t>((I * 7) & 255);
    }
  }
  Image.AdaptPalette = Nearest;

  TBitmap Bitmap;
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(Height);
  Bitmap.SetWidth(Width);
  std::vector<uint8_t> Expected(static_cast<size_t>(Width) * static_cast<size_t>(Height), 0);
  std::unordered_map<uint32_t, uint8_t> Answers;  // of the reference, by colour
  size_t K = 0;
  for (int Row = 0; Row < Height; ++Row)
    for (int X = 0; X < Width; ++X, ++K) {
      uint8_t* Pixel = Bitmap.ScanLine(Row) + 3 * X;
      if (FreePalette) {
        for (int C = 0; C < 3; ++C)
          Pixel[C] = Count == 0 ? 0 : Rest[(3 * K + static_cast<size_t>(C)) % Count];
        const uint32_t Colour = static_cast<uint32_t>(Pixel[0]) | static_cast<uint32_t>(Pixel[1]) << 8 |
                                static_cast<uint32_t>(Pixel[2]) << 16;
        auto Known = Answers.find(Colour);
        if (Known == Answers.end())
          Known = Answers.emplace(Colour, Reference(Image.Palette, Pixel, Nearest)).first;
        Expected[K] = Known->second;
      } else {
        const uint8_t Index = Count == 0 ? 0 : Rest[K % Count];
        Pixel[0] = Image.Palette[Index][2];
        Pixel[1] = Image.Palette[Index][1];
        Pixel[2] = Image.Palette[Index][0];
        Expected[K] = Index;
      }
    }

  int32_t Length = -1;
  std::vector<uint8_t> Encoded = Image.EncodePage(Bitmap, Length);
  FUZZ_CHECK(Length >= 0 && static_cast<size_t>(Length) <= Encoded.size());
  if (Width >= 2)
    FUZZ_CHECK(static_cast<int64_t>(Length) <= int64_t{2} * Width * Height);

  // Walk the grammar.
  const uint8_t* Page = Encoded.data();
  const size_t End = static_cast<size_t>(Length);
  size_t At = 0;
  size_t Runs = 0;
  size_t Opaque = 0;
  for (int Row = 0; Row < Height; ++Row) {
    int X = 0;
    int Previous = 0;  // kind of the previous run in the row: 0 none, 1 transparent, 2 literal
    int PreviousCount = 0;
    while (X < Width) {
      FUZZ_CHECK(At < End);
      const uint8_t Control = Page[At++];
      ++Runs;
      FUZZ_CHECK(Control != 0x80 && Control != EndOfRow);
      const int Run = Control & 0x7F;
      const int Kind = Control > 0x80 ? 1 : 2;
      FUZZ_CHECK(X + Run <= Width);
      // Runs are maximal: the same kind again only after a run cut at 127 pixels.
      FUZZ_CHECK(Kind != Previous || PreviousCount == MaxRunLength);
      for (int I = 0; I < Run; ++I) {
        const uint8_t Want = Expected[static_cast<size_t>(Row) * static_cast<size_t>(Width) + static_cast<size_t>(X + I)];
        if (Kind == 1) {
          FUZZ_CHECK(Want == 0);
        } else {
          FUZZ_CHECK(At < End);
          FUZZ_CHECK(Want != 0 && Page[At++] == Want);
          ++Opaque;
        }
      }
      X += Run;
      Previous = Kind;
      PreviousCount = Run;
    }
    // Exactly one end-of-row byte.
    FUZZ_CHECK(At < End && Page[At++] == EndOfRow);
  }
  FUZZ_CHECK(At == End);

  // The length from the indices alone: a stretch of m pixels of one kind takes ceil(m / 127) runs.
  size_t Stretches = 0;
  size_t Nonzero = 0;
  for (int Row = 0; Row < Height; ++Row) {
    const uint8_t* Line = Expected.data() + static_cast<size_t>(Row) * static_cast<size_t>(Width);
    for (int X = 0; X < Width;) {
      int Y = X;
      while (Y < Width && (Line[Y] == 0) == (Line[X] == 0))
        ++Y;
      Stretches += static_cast<size_t>((Y - X + MaxRunLength - 1) / MaxRunLength);
      if (Line[X] != 0)
        Nonzero += static_cast<size_t>(Y - X);
      X = Y;
    }
  }
  FUZZ_CHECK(Opaque == Nonzero);
  FUZZ_CHECK(Runs == Stretches);
  FUZZ_CHECK(End == Stretches + Nonzero + static_cast<size_t>(Height));

  // Decoding gives every pixel the colour of its index: the bitmap itself for a distinct palette.
  auto Owned = std::make_unique<TStiRecord>();
  Owned->Width = static_cast<int16_t>(Width);
  Owned->Height = static_cast<int16_t>(Height);
  Owned->DataLength = static_cast<uint32_t>(Length);
  Owned->Data.assign(Encoded.begin(), Encoded.begin() + Length);
  Image.Pages.SetObject(Image.Pages.Add(PageName(0)), Owned.release());
  TBitmap Decoded;
  FUZZ_CHECK(Image.DecodePage(0, Decoded) == Result::Ok);
  FUZZ_CHECK(Decoded.Width() == Width && Decoded.Height() == Height);
  K = 0;
  for (int Row = 0; Row < Height; ++Row)
    for (int X = 0; X < Width; ++X, ++K) {
      const uint8_t* Pixel = Decoded.ScanLine(Row) + 3 * X;
      const uint8_t* Entry = Image.Palette[Expected[K]];
      FUZZ_CHECK(Pixel[0] == Entry[2] && Pixel[1] == Entry[1] && Pixel[2] == Entry[0]);
      if (!FreePalette)
        FUZZ_CHECK(std::memcmp(Pixel, Bitmap.ScanLine(Row) + 3 * X, 3) == 0);
    }
  return 0;
}
