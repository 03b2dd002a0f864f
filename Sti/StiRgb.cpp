// Converting the picture of a 16-bit image into a 24-bit bitmap.
#include "Sti/Sti.h"

#include "platform/Bitmap.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <vector>

int TSti::DecodeRgbPage(TBitmap& Bitmap) const {
  // The picture is always that of the first page, whatever page was asked for.
  const TStiRecord* Page = Pages.Count() > 0 ? Record(0) : nullptr;

  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(HeaderHeight());
  Bitmap.SetWidth(HeaderWidth());
  // A negative header size leaves the bitmap without pixels.
  const size_t Width = static_cast<size_t>(Bitmap.Width());
  const size_t Height = static_cast<size_t>(Bitmap.Height());

  // One entry per pixel word, already in the bitmap's byte order blue, green, red. Green takes
  // bits 10 to 6 only, so every output byte is a 5-bit field times 8.
  std::vector<uint8_t> Table(65536 * 3);
  for (uint32_t Word = 0; Word < 65536; ++Word) {
    uint8_t* Entry = &Table[Word * 3];
    Entry[0] = static_cast<uint8_t>((Word & 31) * 8);
    Entry[1] = static_cast<uint8_t>(((Word >> 6) & 31) * 8);
    Entry[2] = static_cast<uint8_t>((Word >> 11) * 8);
  }

  // Loading guarantees Width × Height words; a shorter buffer converts only the words it holds.
  const uint8_t* Data = Page != nullptr ? Page->Data.data() : nullptr;
  const size_t Bytes = Page != nullptr ? Page->Data.size() : 0;
  const size_t Words = Bytes / 2;
  for (size_t Row = 0; Row < Height; ++Row) {
    const size_t First = Row * Width;
    if (First >= Words)
      break;
    const size_t Count = std::min(Width, Words - First);
    uint8_t* Line = Bitmap.ScanLine(static_cast<int>(Row));
    for (size_t X = 0; X < Count; ++X) {
      uint32_t Word = 0;
      ReadLE(Data, Bytes, (First + X) * 2, 2, Word);
      std::memcpy(Line + X * 3, &Table[Word * 3], 3);
    }
  }
  return Result::Ok;
}
