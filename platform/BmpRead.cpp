// BMP input. The whole file is read into memory once and parsed from there, so no field or row is
// ever read past the bytes that the file really holds.
//
// File header, 14 bytes:
//   0   2  signature "BM"
//   2   4  file size               not trusted, not read
//   6   4  reserved
//   10  4  offset of the pixel rows
// Windows information header, 40 bytes (longer successors append fields, which are skipped):
//   14  4  header size             40, 52, 56, 108, 124, ... (any size of 40 or more)
//   18  4  width                   signed; must not be negative
//   22  4  height                  signed; negative means the rows are stored top-down
//   26  2  planes                  must be 1
//   28  2  bits per pixel
//   30  4  compression             0 means none
// OS/2 core header, 12 bytes:
//   14  4  header size             12
//   18  2  width                   unsigned
//   20  2  height                  unsigned; rows always bottom-up
//   22  2  planes                  must be 1
//   24  2  bits per pixel
// Pixel rows (24 bits per pixel): blue, green, red per pixel, each row padded to a multiple of 4.
#include "platform/Bitmap.h"

#include "platform/ByteOrder.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <cstring>

namespace {

constexpr uint32_t CoreHeaderSize = 12;
constexpr uint32_t InfoHeaderSize = 40;
constexpr uint32_t NoCompression = 0;

[[noreturn]] void Refuse(const std::string& Path, const std::string& Reason) {
  throw EBitmapError("cannot load '" + Path + "': " + Reason);
}

// The pixel format a file of that many bits per pixel loads as; only 24 bits gives pixels here.
TPixelFormat FormatOfBits(uint32_t Bits) {
  switch (Bits) {
    case 1: return TPixelFormat::pf1bit;
    case 4: return TPixelFormat::pf4bit;
    case 8: return TPixelFormat::pf8bit;
    case 16: return TPixelFormat::pf16bit;
    case 24: return TPixelFormat::pf24bit;
    case 32: return TPixelFormat::pf32bit;
    default: return TPixelFormat::pfCustom;
  }
}

}  // namespace

void TBitmap::LoadFromFile(const std::string& Path, int MaxSide) {
  // Whatever happens below, the bitmap holds nothing of what it held before.
  Format = TPixelFormat::pfDevice;
  PixelWidth = 0;
  PixelHeight = 0;
  TooLarge = false;
  Pixels.clear();

  const std::string File = ReadTextFile(Path);
  const uint8_t* Bytes = reinterpret_cast<const uint8_t*>(File.data());
  const size_t Size = File.size();

  // An empty file is no picture at all; it loads as a bitmap without a pixel format.
  if (Size == 0)
    return;
  if (Bytes[0] != 'B' || (Size >= 2 && Bytes[1] != 'M'))
    Refuse(Path, "not a BMP file (no BM signature)");

  TByteReader Reader(Bytes, Size);
  Reader.Skip(10);
  const uint32_t RowsOffset = Reader.U32();
  const uint32_t HeaderSize = Reader.U32();
  if (!Reader.Good())
    Refuse(Path, "BMP headers cut short");

  int64_t Width = 0;
  int64_t Height = 0;
  uint32_t Planes = 0;
  uint32_t Bits = 0;
  uint32_t Compression = NoCompression;
  if (HeaderSize == CoreHeaderSize) {
    Width = Reader.U16();
    Height = Reader.U16();
    Planes = Reader.U16();
    Bits = Reader.U16();
  } else if (HeaderSize >= InfoHeaderSize) {
    Width = Reader.S32();
    Height = Reader.S32();
    Planes = Reader.U16();
    Bits = Reader.U16();
    Compression = Reader.U32();
    // The 20 bytes read so far (size to compression) are followed by fields that play no part:
    // resolution and colour counts, and the masks and colour space of the longer headers.
    Reader.Skip(HeaderSize - 20);
  } else {
    Refuse(Path, "unsupported BMP information header size " + std::to_string(HeaderSize));
  }
  if (!Reader.Good())
    Refuse(Path, "BMP headers cut short");
  if (Planes != 1)
    Refuse(Path, "BMP planes count is " + std::to_string(Planes) + ", not 1");

  if (Bits != 24 || Compression != NoCompression) {
    Format = Compression != NoCompression ? TPixelFormat::pfCustom : FormatOfBits(Bits);
    return;
  }

  if (Width < 0)
    Refuse(Path, "negative BMP width " + std::to_string(Width));
  const bool TopDown = Height < 0;
  if (TopDown)
    Height = -Height;
  // Decided from the header alone: nothing of the rows is looked at or allocated.
  if (Width > MaxSide || Height > MaxSide) {
    Format = TPixelFormat::pf24bit;
    TooLarge = true;
    return;
  }

  // Rows start at the given offset; one that points into the headers means straight after them.
  const size_t HeadersEnd = Reader.Tell();
  const size_t Start = RowsOffset < HeadersEnd ? HeadersEnd : RowsOffset;
  const uint64_t Stride = (static_cast<uint64_t>(Width) * 3 + 3) / 4 * 4;
  const uint64_t Available = Start <= Size ? Size - Start : 0;
  if (Start > Size || (Height > 0 && Stride > Available / static_cast<uint64_t>(Height)))
    Refuse(Path, "BMP pixel rows cut short");

  Format = TPixelFormat::pf24bit;
  PixelWidth = static_cast<int>(Width);
  PixelHeight = static_cast<int>(Height);
  Reallocate();
  const size_t RowLength = RowBytes();
  for (int64_t Stored = 0; Stored < Height; ++Stored) {
    const int64_t Row = TopDown ? Stored : Height - 1 - Stored;
    if (RowLength != 0)
      std::memcpy(Pixels.data() + RowLength * static_cast<size_t>(Row),
                  Bytes + Start + Stride * static_cast<uint64_t>(Stored), RowLength);
  }
}
