#include "BmpSupport.h"

#include <cstring>
#include <ostream>

TPicture PictureOfColors(int Width, const std::vector<TRgb>& Colors) {
  TPicture Picture;
  Picture.Width = Width;
  Picture.Height = Width > 0 ? static_cast<int>(Colors.size()) / Width : 0;
  for (const TRgb& Color : Colors) {
    Picture.Pixels.push_back(Color.B);
    Picture.Pixels.push_back(Color.G);
    Picture.Pixels.push_back(Color.R);
  }
  return Picture;
}

TPicture PatternPicture(int Width, int Height) {
  TPicture Picture;
  Picture.Width = Width;
  Picture.Height = Height;
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      Picture.Pixels.push_back(static_cast<uint8_t>(X * 37 + Y * 11 + 5));      // blue
      Picture.Pixels.push_back(static_cast<uint8_t>(X * 3 + Y * 101 + 17));     // green
      Picture.Pixels.push_back(static_cast<uint8_t>(X * 37 + Y * 11 + 130));    // red, never blue
    }
  return Picture;
}

TPicture PictureOfIndices(int Width, const TBytes& Indices, const TBytes& Palette) {
  std::vector<TRgb> Colors;
  for (uint8_t Index : Indices)
    Colors.push_back(TRgb{Palette[Index * 3u], Palette[Index * 3u + 1], Palette[Index * 3u + 2]});
  TPicture Picture = PictureOfColors(Width, Colors);
  if (Width == 0)
    Picture.Height = 0;
  return Picture;
}

TBitmap BitmapOf(const TPicture& Picture) {
  TBitmap Bitmap;
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(Picture.Height);
  Bitmap.SetWidth(Picture.Width);
  const size_t Row = static_cast<size_t>(Picture.Width) * 3;
  for (int Y = 0; Y < Picture.Height && Row != 0; ++Y)
    std::memcpy(Bitmap.ScanLine(Y), Picture.Pixels.data() + Row * static_cast<size_t>(Y), Row);
  return Bitmap;
}

TPicture PictureOf(const TBitmap& Bitmap) {
  TPicture Picture;
  Picture.Width = Bitmap.Width();
  Picture.Height = Bitmap.Height();
  const size_t Row = static_cast<size_t>(Picture.Width) * 3;
  for (int Y = 0; Y < Picture.Height && Row != 0; ++Y) {
    const uint8_t* Line = Bitmap.ScanLine(Y);
    Picture.Pixels.insert(Picture.Pixels.end(), Line, Line + Row);
  }
  return Picture;
}

std::ostream& operator<<(std::ostream& Out, const TRgb& Color) {
  return Out << "(" << int(Color.R) << "," << int(Color.G) << "," << int(Color.B) << ")";
}

std::ostream& operator<<(std::ostream& Out, const TPicture& Picture) {
  Out << Picture.Width << "x" << Picture.Height << " {";
  for (size_t I = 0; I < Picture.Pixels.size() && I < 48; ++I)
    Out << (I ? " " : "") << static_cast<int>(Picture.Pixels[I]);
  return Out << (Picture.Pixels.size() > 48 ? " ...}" : "}");
}

namespace {

size_t ColorTableSize(const TBmpLayout& Layout) {
  if (Layout.Bits > 8)
    return 0;
  return (size_t{1} << Layout.Bits) * (Layout.InfoSize == 12 ? 3 : 4);
}

size_t HeadersSize(const TBmpLayout& Layout) {
  return 14 + Layout.InfoSize + ColorTableSize(Layout);
}

}  // namespace

TBytes MakeBmpHeaders(int64_t Width, int64_t Height, const TBmpLayout& Layout, size_t RowBytes) {
  const size_t Headers = HeadersSize(Layout);
  const size_t RowsAt =
      Layout.RowsOffset > static_cast<int64_t>(Headers) ? static_cast<size_t>(Layout.RowsOffset) : Headers;
  const uint32_t OffsetField =
      Layout.RowsOffset >= 0 ? static_cast<uint32_t>(Layout.RowsOffset) : static_cast<uint32_t>(Headers);
  const int64_t StoredHeight = Layout.TopDown ? -Height : Height;

  TBytes Bytes;
  Bytes.push_back('B');
  Bytes.push_back('M');
  PutLE(Bytes, 2, 4, static_cast<uint32_t>(RowsAt + RowBytes));  // file size
  PutLE(Bytes, 6, 4, 0);                                          // reserved
  PutLE(Bytes, 10, 4, OffsetField);                               // offset of the pixel rows
  PutLE(Bytes, 14, 4, Layout.InfoSize);
  if (Layout.InfoSize == 12) {
    PutLE(Bytes, 18, 2, static_cast<uint32_t>(Width));
    PutLE(Bytes, 20, 2, static_cast<uint32_t>(StoredHeight));
    PutLE(Bytes, 22, 2, Layout.Planes);
    PutLE(Bytes, 24, 2, Layout.Bits);
  } else {
    PutLE(Bytes, 18, 4, static_cast<uint32_t>(Width));
    PutLE(Bytes, 22, 4, static_cast<uint32_t>(StoredHeight));
    PutLE(Bytes, 26, 2, Layout.Planes);
    PutLE(Bytes, 28, 2, Layout.Bits);
    PutLE(Bytes, 30, 4, Layout.Compression);
    PutLE(Bytes, 34, 4, static_cast<uint32_t>(RowBytes));  // size of the pixel rows
    PutLE(Bytes, 38, 4, 2835);                             // resolution, 72 dpi
    PutLE(Bytes, 42, 4, 2835);
    // Colours used, important colours and the fields of longer headers: a recognisable filler.
    for (size_t At = 46; At < 14 + Layout.InfoSize; ++At)
      Bytes.push_back(static_cast<uint8_t>(0x40 + At));
  }
  Bytes.resize(14 + Layout.InfoSize, 0);
  for (size_t I = 0; I < ColorTableSize(Layout); ++I)
    Bytes.push_back(static_cast<uint8_t>(I * 5));
  while (Bytes.size() < RowsAt)
    Bytes.push_back(0xA5);  // a gap before the rows
  return Bytes;
}

TBytes MakeBmp(const TPicture& Picture, const TBmpLayout& Layout) {
  const size_t Stride = (static_cast<size_t>(Picture.Width) * Layout.Bits + 31) / 32 * 4;
  const size_t Height = static_cast<size_t>(Picture.Height);
  TBytes Bytes = MakeBmpHeaders(Picture.Width, Picture.Height, Layout, Stride * Height);
  const size_t Row = static_cast<size_t>(Picture.Width) * 3;
  for (size_t Stored = 0; Stored < Height; ++Stored) {
    if (Layout.Bits != 24) {
      for (size_t I = 0; I < Stride; ++I)
        Bytes.push_back(static_cast<uint8_t>(Stored * 31 + I));
      continue;
    }
    const size_t Y = Layout.TopDown ? Stored : Height - 1 - Stored;
    Bytes.insert(Bytes.end(), Picture.Pixels.begin() + static_cast<std::ptrdiff_t>(Row * Y),
                 Picture.Pixels.begin() + static_cast<std::ptrdiff_t>(Row * (Y + 1)));
    Bytes.insert(Bytes.end(), Stride - Row, Layout.Padding);
  }
  return Bytes;
}

void WriteBmp(const std::string& Path, const TPicture& Picture, const TBmpLayout& Layout) {
  WriteFileBytes(Path, MakeBmp(Picture, Layout));
}
