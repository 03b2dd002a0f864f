// Palette building and colour matching.
//
// Palette entries are red, green, blue; bitmap pixels are blue, green, red. Entry 0 is the
// transparent index: every pixel that maps to it is stored as transparent.
#include "Sti/Sti.h"

#include "Sti/StiColorIndex.h"
#include "platform/Bitmap.h"

namespace {

bool SameColor(const uint8_t Entry[3], const uint8_t* Pixel) {
  return Entry[0] == Pixel[2] && Entry[1] == Pixel[1] && Entry[2] == Pixel[0];
}

}  // namespace

int TSti::AddPaletteColor(uint8_t Red, uint8_t Green, uint8_t Blue) {
  // A count outside 0 .. 255 leaves no free entry to write.
  if (PaletteCount < 0 || PaletteCount >= static_cast<int32_t>(PaletteEntries))
    return Result::PaletteFull;
  Palette[PaletteCount][0] = Red;
  Palette[PaletteCount][1] = Green;
  Palette[PaletteCount][2] = Blue;
  ++PaletteCount;
  return Result::Ok;
}

void TSti::BuildPalette(const TBitmap& Bitmap, int32_t Red, int32_t Green, int32_t Blue) {
  // Only an image without pages starts afresh; the entries beyond the count are left as they are.
  if (Pages.Count() == 0) {
    PaletteCount = 0;
    if (Red != -1 && Green != -1 && Blue != -1)
      AddPaletteColor(static_cast<uint8_t>(Red), static_cast<uint8_t>(Green), static_cast<uint8_t>(Blue));
  }

  // The count is tested before each row only: once the palette fills up inside a row, the new
  // colours of the rest of that row are refused by AddPaletteColor and the scan ends after it.
  if (PaletteCount >= static_cast<int32_t>(PaletteEntries))
    return;
  // Each pixel is compared with the entries 0 .. PaletteCount - 1 and appended when none equals
  // it. The set holds the colours of exactly those entries, so asking it gives the same answer as
  // that loop; it gains a colour only when AddPaletteColor took it. A pixel equal to the one
  // before it in the row has just been asked about (and appended if it was new), so it is passed
  // over.
  TColorSet InUse;
  for (int32_t Entry = 0; Entry < PaletteCount; ++Entry)
    InUse.Insert(EntryColor(Palette[Entry]));
  const int Width = Bitmap.Width();
  for (int Row = 0; Row < Bitmap.Height() && PaletteCount < static_cast<int32_t>(PaletteEntries); ++Row) {
    const uint8_t* Pixel = Bitmap.ScanLine(Row);
    for (int X = 0; X < Width; ++X, Pixel += 3) {
      if (X > 0 && Pixel[0] == Pixel[-3] && Pixel[1] == Pixel[-2] && Pixel[2] == Pixel[-1])
        continue;
      const uint32_t Color = PixelColor(Pixel);
      if (!InUse.Contains(Color) && AddPaletteColor(Pixel[2], Pixel[1], Pixel[0]) == Result::Ok)
        InUse.Insert(Color);
    }
  }
}

uint8_t TSti::MatchColor(const uint8_t* Pixel) const {
  return AdaptPalette ? FindNearestColor(Pixel) : FindExactColor(Pixel);
}

// All 256 entries are searched, whatever PaletteCount says; a colour found nowhere is transparent.
uint8_t TSti::FindExactColor(const uint8_t* Pixel) const {
  for (size_t Entry = 0; Entry < PaletteEntries; ++Entry)
    if (SameColor(Palette[Entry], Pixel))
      return static_cast<uint8_t>(Entry);
  return 0;
}

// Squared distance over all 256 entries; only a strictly smaller distance wins, so of equally
// near entries the lowest index is taken.
uint8_t TSti::FindNearestColor(const uint8_t* Pixel) const {
  int32_t BestDistance = 0x1000000;  // above the largest possible distance, 3 × 255²
  uint8_t BestIndex = 0;
  for (size_t Entry = 0; Entry < PaletteEntries; ++Entry) {
    const int32_t Red = static_cast<int32_t>(Pixel[2]) - Palette[Entry][0];
    const int32_t Green = static_cast<int32_t>(Pixel[1]) - Palette[Entry][1];
    const int32_t Blue = static_cast<int32_t>(Pixel[0]) - Palette[Entry][2];
    const int32_t Distance = Red * Red + Green * Green + Blue * Blue;
    if (Distance < BestDistance) {
      BestDistance = Distance;
      BestIndex = static_cast<uint8_t>(Entry);
    }
  }
  return BestIndex;
}
