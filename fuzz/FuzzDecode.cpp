// Fuzz target: the page decoder, indexed pages and the picture of a 16-bit image.
//
// Input: width (2 bytes, signed), height (2 bytes, signed), a mode byte, a palette seed byte, then
// the page data. Mode bit 0 makes a 16-bit image; bit 1 lets the record's DataLength claim only
// half of the data it holds (the rest is poisoned, so reading it is reported); bit 2 lets it claim
// more than it holds. The page data are exactly as long as the buffer that holds them, so a read
// past them is reported too, and so is a write outside the bitmap's pixel memory.
//
// The pixels must equal those of the small reference decoder below, for zero and negative sizes
// too, and decoding again into a bitmap that held other pixels must give the same bitmap.
#include "FuzzSupport.h"

#include "Sti/Sti.h"
#include "platform/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// A page may claim up to 32767 × 32767 pixels with a few bytes of data; the bitmap of such a page
// takes 3 GB. Pages whose bitmap would exceed this are skipped, which keeps a run within
// libFuzzer's -malloc_limit_mb and fast; every shape below it is decoded: the widest and the
// highest rows a record can give (32767 × 2, 1 × 32767), empty and negative sizes.
constexpr int64_t MaxDecodedBytes = int64_t{256} << 10;

// Reference: what the page-data grammar says, with the decoder's handling of broken data: pixels
// past the end of a row are dropped, nothing is written once the last row is closed, and a literal
// run cut off by the end of the data writes the indices present and ends the decoding.
Fuzz::TBytes ReferenceIndexed(int64_t Width, int64_t Height, const uint8_t (*Palette)[3], const uint8_t* Data,
                              size_t Size) {
  Fuzz::TBytes Pixels(static_cast<size_t>(Width * Height * 3), 0);
  int64_t Row = 0;
  int64_t Column = 0;
  auto Put = [&](int64_t At, uint8_t Index) {
    if (Row < Height && At < Width) {
      uint8_t* Out = &Pixels[static_cast<size_t>((Row * Width + At) * 3)];
      Out[0] = Palette[Index][2];
      Out[1] = Palette[Index][1];
      Out[2] = Palette[Index][0];
    }
  };
  size_t Position = 0;
  while (Position < Size && Row < Height) {
    const uint8_t Control = Data[Position++];
    const int64_t Count = Control & 0x7F;
    if (Control >= 0x80) {
      for (int64_t I = 0; I < Count; ++I)
        Put(Column + I, 0);
      Column += Count;
      continue;
    }
    int64_t I = 0;
    for (; I < Count && Position < Size; ++I)
      Put(Column + I, Data[Position++]);
    if (I < Count)
      break;
    Column += Count;
    if (Column >= Width) {
      ++Row;
      Column = 0;
    }
  }
  return Pixels;
}

// Reference for a 16-bit picture: word k of the data is pixel k, rows from the top; red is bits
// 15-11, green bits 10-6 and blue bits 4-0, each times 8. Pixels without a word stay black.
Fuzz::TBytes ReferenceRgb(int64_t Width, int64_t Height, const std::vector<uint8_t>& Data) {
  Fuzz::TBytes Pixels(static_cast<size_t>(Width * Height * 3), 0);
  const size_t Words = std::min(Data.size() / 2, Pixels.size() / 3);
  for (size_t K = 0; K < Words; ++K) {
    const unsigned Word = Data[2 * K] | static_cast<unsigned>(Data[2 * K + 1]) << 8;
    Pixels[3 * K] = static_cast<uint8_t>((Word & 31) * 8);
    Pixels[3 * K + 1] = static_cast<uint8_t>(((Word >> 6) & 31) * 8);
    Pixels[3 * K + 2] = static_cast<uint8_t>((Word >> 11) * 8);
  }
  return Pixels;
}

Fuzz::TBytes PixelsOf(const TBitmap& Bitmap) {
  Fuzz::TBytes Pixels;
  for (int Row = 0; Row < Bitmap.Height(); ++Row)
    Pixels.insert(Pixels.end(), Bitmap.ScanLine(Row), Bitmap.ScanLine(Row) + Bitmap.RowBytes());
  return Pixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 6)
    return 0;
  const int16_t Width = static_cast<int16_t>(Data[0] | Data[1] << 8);
  const int16_t Height = static_cast<int16_t>(Data[2] | Data[3] << 8);
  const uint8_t Mode = Data[4];
  const uint8_t Seed = Data[5];
  const bool Rgb = (Mode & 1) != 0;
  const int64_t PixelWidth = std::max<int16_t>(Width, 0);
  const int64_t PixelHeight = std::max<int16_t>(Height, 0);
  if (PixelWidth * PixelHeight * 3 > MaxDecodedBytes)
    return 0;

  TSti Image;
  std::memcpy(Image.Header, StiMagic, sizeof StiMagic);
  if (Rgb) {
    Image.Header[FlagsOffset] = RgbFlag;
    Image.Header[WidthOffset] = Data[0];
    Image.Header[WidthOffset + 1] = Data[1];
    Image.Header[HeightOffset] = Data[2];
    Image.Header[HeightOffset + 1] = Data[3];
  }
  // Every entry different in each of its bytes, so a wrong index or byte order shows.
  for (int I = 0; I < 256; ++I) {
    Image.Palette[I][0] = static_cast<uint8_t>(I);
    Image.Palette[I][1] = static_cast<uint8_t>(I ^ Seed);
    Image.Palette[I][2] = static_cast<uint8_t>(255 - I);
  }

  auto Owned = std::make_unique<TStiRecord>();
  TStiRecord& Page = *Owned;
  // A fresh buffer of exactly the data's length.
  Page.Data.assign(Data + 6, Data + Size);
  Page.Width = Width;
  Page.Height = Height;
  Page.OffsetX = static_cast<int16_t>(Seed);
  const size_t Held = Page.Data.size();
  size_t Claimed = Held;
  if (Mode & 2)
    Claimed = Held / 2;
  else if (Mode & 4)
    Claimed = Held + 1000;
  Page.DataLength = static_cast<uint32_t>(Claimed);
  Image.Pages.SetObject(Image.Pages.Add(PageName(0)), Owned.release());
  const Fuzz::TBytes Before = Page.Data;

  // Indexed pages must not look past DataLength; a 16-bit picture has no DataLength of its own.
  const size_t Hidden = Rgb ? 0 : Held - std::min(Claimed, Held);
  Fuzz::Poison(Page.Data.data() + (Held - Hidden), Hidden);

  TBitmap First;
  const int Decoded = Image.DecodePage(0, First);

  Fuzz::Unpoison(Page.Data.data() + (Held - Hidden), Hidden);
  FUZZ_CHECK(Decoded == Result::Ok);
  FUZZ_CHECK(First.PixelFormat() == TPixelFormat::pf24bit);
  FUZZ_CHECK(First.Width() == PixelWidth && First.Height() == PixelHeight);
  const Fuzz::TBytes Expected =
      Rgb ? ReferenceRgb(PixelWidth, PixelHeight, Page.Data)
          : ReferenceIndexed(PixelWidth, PixelHeight, Image.Palette, Page.Data.data(), std::min(Claimed, Held));
  FUZZ_CHECK(PixelsOf(First) == Expected);
  FUZZ_CHECK(Page.Data == Before && Page.DataLength == Claimed && Page.Width == Width && Page.Height == Height);

  // A bitmap that held other pixels of another size and format gives the same result. It is as wide
  // as a page can be, so that setting the new height before the new width must not allocate the
  // size in between (32767 × 32767 pixels for a page one pixel wide and 32767 high).
  TBitmap Second;
  Second.SetPixelFormat(TPixelFormat::pf24bit);
  Second.SetHeight(1);
  Second.SetWidth(32767);
  std::memset(Second.ScanLine(0), 0xA5, Second.RowBytes());
  Second.SetPixelFormat(TPixelFormat::pf8bit);
  FUZZ_CHECK(Image.DecodePage(0, Second) == Result::Ok);
  FUZZ_CHECK(Second.Width() == PixelWidth && Second.Height() == PixelHeight);
  FUZZ_CHECK(PixelsOf(Second) == Expected);

  FUZZ_CHECK(Image.DecodePage(1, Second) == Result::IndexRange);
  FUZZ_CHECK(PixelsOf(Second) == Expected);
  return 0;
}
