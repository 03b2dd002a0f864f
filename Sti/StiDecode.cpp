// Decoding an indexed page into a 24-bit bitmap.
#include "Sti/Sti.h"

#include "platform/Bitmap.h"

#include <algorithm>
#include <cstdint>

int TSti::ExtractPage(const std::string& Name, TBitmap& Bitmap) const {
  const int Index = FindPage(Name);
  if (Index < 0)
    return Result::NoSuchPage;
  return DecodePage(Index, Bitmap);
}

int TSti::DecodePage(int Index, TBitmap& Bitmap) const {
  if (Index < 0 || Index >= Pages.Count())
    return Result::IndexRange;
  const TStiRecord* Page = Record(Index);
  if (IsRgb())
    return DecodeRgbPage(Bitmap);

  // Setting the size gives zeroed pixel memory, so pixels the data does not cover are black. A
  // negative Height or Width counts as 0, which leaves the bitmap without pixels.
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(Page->Height);
  Bitmap.SetWidth(Page->Width);
  const int64_t Width = Bitmap.Width();
  const int64_t Height = Bitmap.Height();

  // Never read past DataLength, nor past the bytes the record really holds.
  const uint8_t* Data = Page->Data.data();
  const size_t Size = std::min<size_t>(Page->DataLength, Page->Data.size());

  const uint8_t ClearBlue = Palette[0][2];
  const uint8_t ClearGreen = Palette[0][1];
  const uint8_t ClearRed = Palette[0][0];

  size_t Position = 0;
  int64_t Column = 0;  // 64 bits: runs without a row test may push it far past any width
  int64_t Row = 0;
  if (Row >= Height)
    return Result::Ok;  // no row is ever current, so nothing can be written
  uint8_t* Line = Bitmap.ScanLine(0);

  while (Position < Size) {
    const uint8_t Control = Data[Position++];
    const int64_t Count = Control & 0x7F;
    // Pixels that reach past the end of the row are dropped.
    const int64_t Fit = std::max<int64_t>(0, std::min(Count, Width - Column));
    uint8_t* Out = Line + std::min(Column, Width) * 3;

    if (Control & TransparentRunBase) {
      // Transparent run (0x80 is one of no pixels): palette entry 0, no row test.
      for (int64_t I = 0; I < Fit; ++I, Out += 3) {
        Out[0] = ClearBlue;
        Out[1] = ClearGreen;
        Out[2] = ClearRed;
      }
      Column += Count;
      continue;
    }

    // Literal run; the end-of-row byte is one of count 0. A run cut off by the end of the data
    // writes the indices that are present and ends the decoding.
    const size_t Present = std::min<size_t>(static_cast<size_t>(Count), Size - Position);
    const uint8_t* Index = Data + Position;
    const int64_t Write = std::min<int64_t>(Fit, static_cast<int64_t>(Present));
    for (int64_t I = 0; I < Write; ++I, Out += 3) {
      const uint8_t* Colour = Palette[Index[I]];
      Out[0] = Colour[2];
      Out[1] = Colour[1];
      Out[2] = Colour[0];
    }
    Position += Present;
    if (Present < static_cast<size_t>(Count))
      break;
    Column += Count;

    // Row test: a row is closed by its pixel count; an overshoot is not carried over.
    if (Column >= Width) {
      ++Row;
      Column = 0;
      // Rows only move down: once none is current, nothing further can be written.
      if (Row >= Height)
        break;
      Line = Bitmap.ScanLine(static_cast<int>(Row));
    }
  }
  return Result::Ok;
}
