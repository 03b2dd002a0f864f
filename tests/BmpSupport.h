// BMP files and 24-bit pictures made in memory, for the tests of BMP input and of the commands
// that add pages.
#pragma once

#include "TestSupport.h"

#include "platform/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

struct TRgb {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;
  bool operator==(const TRgb& Other) const { return R == Other.R && G == Other.G && B == Other.B; }
};
std::ostream& operator<<(std::ostream& Out, const TRgb& Color);

// A 24-bit picture: Height rows, top row first, each Width × 3 bytes blue, green, red.
struct TPicture {
  int Width = 0;
  int Height = 0;
  TBytes Pixels;
  bool operator==(const TPicture& Other) const {
    return Width == Other.Width && Height == Other.Height && Pixels == Other.Pixels;
  }
};

// Colours given row by row from the top, Width of them per row.
TPicture PictureOfColors(int Width, const std::vector<TRgb>& Colors);
// A picture in which no two neighbouring pixels share a colour and red always differs from blue,
// so flips, shifts and channel swaps show.
TPicture PatternPicture(int Width, int Height);
// The picture of palette indices: index i takes entry i of a palette of 768 bytes red, green, blue.
TPicture PictureOfIndices(int Width, const TBytes& Indices, const TBytes& Palette);

TBitmap BitmapOf(const TPicture& Picture);
TPicture PictureOf(const TBitmap& Bitmap);
std::ostream& operator<<(std::ostream& Out, const TPicture& Picture);

// How a BMP file is laid out.
struct TBmpLayout {
  uint32_t InfoSize = 40;    // 12 writes an OS/2 core header; 40 or more a Windows header
  uint16_t Planes = 1;
  uint16_t Bits = 24;
  uint32_t Compression = 0;
  bool TopDown = false;      // a negative height, rows top row first
  int64_t RowsOffset = -1;   // the offset field; -1: the end of the headers. Rows are written
                             // there when it lies beyond the headers, else straight after them.
  uint8_t Padding = 0xEE;    // the value of the bytes that pad each row
};

// The headers alone, with the width and height fields given as they are to be stored (the
// height's sign is taken from TopDown). RowBytes is only counted into the file-size field.
TBytes MakeBmpHeaders(int64_t Width, int64_t Height, const TBmpLayout& Layout, size_t RowBytes = 0);
// A whole BMP file of the picture. For other bit depths than 24 the rows hold filler bytes of the
// right length (and an 8-bit or smaller file its colour table), so only the pixel format matters.
TBytes MakeBmp(const TPicture& Picture, const TBmpLayout& Layout = {});
void WriteBmp(const std::string& Path, const TPicture& Picture, const TBmpLayout& Layout = {});
