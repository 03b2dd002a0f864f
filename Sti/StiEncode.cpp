// The run-length page encoder: a 24-bit bitmap becomes page data in the grammar of StiFormat.h.
//
// Each row is written as maximal runs, cut at 127 pixels: pixels that match index 0 as transparent
// runs (0x80 + count), all others as literal runs (count, then the indices). Every row ends with
// exactly one byte 0; a row that ends in a transparent run gets it as the count of an empty literal
// run, which is why that count is written into a kept place.
#include "Sti/Sti.h"

#include "Sti/StiColorIndex.h"
#include "platform/Bitmap.h"

#include <algorithm>

namespace {

// Room for one row of Width pixels. A row takes c + n + 1 bytes: c control bytes, one index for
// each of its n non-transparent pixels, and the end-of-row byte. Every run covers a pixel, so
// c <= Width. With a transparent pixel in the row, n <= Width - 1 and the row takes at most
// 2 × Width bytes. Without one, the literal runs are cut only at 127 pixels, so the row takes
// Width + ceil(Width / 127) + 1 bytes: Width + 2 up to 127 pixels, at most 2 × Width beyond.
// So max(2 × Width, Width + 2) always suffices: 2 × Width from 2 pixels on, and also 2 bytes
// for a row of no pixels (which takes 1) and 3 for a row of one pixel (which takes up to 3).
size_t RowCapacity(size_t Width) {
  return std::max(2 * Width, Width + 2);
}

}  // namespace

std::vector<uint8_t> TSti::EncodePage(const TBitmap& Bitmap, int32_t& Length) const {
  const int Width = Bitmap.Width();
  const int Height = Bitmap.Height();
  const size_t RowWidth = static_cast<size_t>(Width);

  // Allocated once, before the first row, and never moved: the room is reserved at once, and
  // before each row the buffer is only lengthened within it to cover what that row can take, so
  // that memory is touched only where bytes are written.
  std::vector<uint8_t> Buffer;
  Buffer.reserve(RowCapacity(RowWidth) * static_cast<size_t>(Height));
  // The palette index of each pixel of the current row, so that every pixel is matched once.
  std::vector<uint8_t> Indices(RowWidth);
  // Gives each pixel the index that MatchColor gives it (FindExactColor, or FindNearestColor when
  // AdaptPalette is set), through an index over the palette instead of a scan of its entries.
  TColorMatcher Matcher(Palette, AdaptPalette);
  size_t Written = 0;

  for (int Row = 0; Row < Height; ++Row) {
    Buffer.resize(Written + RowCapacity(RowWidth));
    uint8_t* Out = Buffer.data();
    if (Width > 0)
      Matcher.MapRow(Bitmap.ScanLine(Row), RowWidth, Indices.data());

    size_t X = 0;
    for (;;) {
      // A transparent run from X on.
      int Count = 0;
      while (X < RowWidth && Count < MaxRunLength && Indices[X] == 0) {
        ++X;
        ++Count;
      }
      if (Count > 0) {
        Out[Written++] = static_cast<uint8_t>(TransparentRunBase + Count);
        continue;
      }

      // Otherwise a literal run, whose count goes into the kept place in front of its indices.
      const size_t CountAt = Written++;
      while (X < RowWidth && Count < MaxRunLength && Indices[X] != 0) {
        Out[Written++] = Indices[X++];
        ++Count;
      }
      Out[CountAt] = static_cast<uint8_t>(Count);

      if (X >= RowWidth) {
        // An empty literal run is itself the end-of-row byte.
        if (Count != 0)
          Out[Written++] = EndOfRow;
        break;
      }
    }
  }

  // The length of a page no bigger than 32767 × 32767 pixels stays below 2^31.
  Buffer.resize(Written);
  Length = static_cast<int32_t>(Written);
  return Buffer;
}
