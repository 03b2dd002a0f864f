// Fuzz target: loading a whole BMP file, as the add and refresh commands do.
//
// Loading gives a 24-bit bitmap, a bitmap of another format (101 on the command line), an oversized
// 24-bit bitmap without pixels (102), or a platform failure (an EPlatformError); nothing else, and
// never more pixel memory than the file's rows can fill. Whenever loading succeeds, the add command
// on a fresh image must agree with it; and a 24-bit bitmap of at most 256 colours, added without
// adaptation, must decode from the saved image to exactly the pixels that were loaded.
#include "FuzzSupport.h"

#include "Sti/Sti.h"
#include "platform/Bitmap.h"
#include "platform/Errors.h"

#include <cstring>
#include <set>

namespace {

constexpr int MaxSide = 32767;

// The first 832 bytes of an 8-bit image without pages.
Fuzz::TBytes EmptyImage() {
  Fuzz::TBytes Bytes(PageTableOffset, 0);
  std::memcpy(Bytes.data(), StiMagic, sizeof StiMagic);
  for (size_t I = 0; I < PaletteSize; ++I)
    Bytes[PaletteOffset + I] = static_cast<uint8_t>(I * 37 + 11);
  return Bytes;
}

size_t ColourCount(const TBitmap& Bitmap) {
  std::set<uint32_t> Colours;
  for (int Row = 0; Row < Bitmap.Height() && Colours.size() <= 256; ++Row) {
    const uint8_t* Pixel = Bitmap.ScanLine(Row);
    for (int X = 0; X < Bitmap.Width(); ++X, Pixel += 3)
      Colours.insert(static_cast<uint32_t>(Pixel[0]) | static_cast<uint32_t>(Pixel[1]) << 8 |
                     static_cast<uint32_t>(Pixel[2]) << 16);
  }
  return Colours.size();
}

bool SamePixels(const TBitmap& A, const TBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height())
    return false;
  for (int Row = 0; Row < A.Height(); ++Row)
    if (A.RowBytes() != 0 && std::memcmp(A.ScanLine(Row), B.ScanLine(Row), A.RowBytes()) != 0)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Path = Fuzz::ScratchPath("input.bmp");
  Fuzz::WriteFile(Path, Data, Size);

  TBitmap Bitmap;
  try {
    Bitmap.LoadFromFile(Path, MaxSide);
  } catch (const EPlatformError&) {
    // A platform failure: the bitmap keeps no pixels from the file.
    FUZZ_CHECK(Bitmap.Width() == 0 && Bitmap.Height() == 0);
    return 0;
  } catch (...) {
    // Anything else, out of memory included, is a fault.
    FUZZ_CHECK(!"LoadFromFile raised something that is not a platform failure");
  }

  int Expected = Result::Ok;
  if (Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
    Expected = Result::Not24Bit;
    FUZZ_CHECK(Bitmap.Width() == 0 && Bitmap.Height() == 0);
  } else if (Bitmap.Oversized()) {
    Expected = Result::TooLarge;
    FUZZ_CHECK(Bitmap.Width() == 0 && Bitmap.Height() == 0);
  } else {
    FUZZ_CHECK(Bitmap.Width() >= 0 && Bitmap.Width() <= MaxSide);
    FUZZ_CHECK(Bitmap.Height() >= 0 && Bitmap.Height() <= MaxSide);
    // Memory bounded by the input: every pixel came from three bytes of the file.
    FUZZ_CHECK(static_cast<uint64_t>(Bitmap.Width()) * static_cast<uint64_t>(Bitmap.Height()) * 3 <= Size);
  }

  const std::string Image = Fuzz::ScratchPath("image.sti");
  Fuzz::WriteFile(Image, EmptyImage());
  std::string Out;
  const int Status = Fuzz::RunTool({"a", Image, Path, "3", "-4"}, Out);
  FUZZ_CHECK(Status == Expected);
  FUZZ_CHECK(Out.empty());
  if (Status != Result::Ok) {
    FUZZ_CHECK(Fuzz::ReadFile(Image) == EmptyImage());
    return 0;
  }

  TSti Saved;
  FUZZ_CHECK(Saved.Open(Image, 0) == Result::Ok);
  FUZZ_CHECK(Saved.Pages.Count() == 1);
  const TStiRecord& Page = *Saved.Record(0);
  FUZZ_CHECK(Page.Width == Bitmap.Width() && Page.Height == Bitmap.Height());
  FUZZ_CHECK(Page.OffsetX == 3 && Page.OffsetY == -4);
  if (ColourCount(Bitmap) <= 256) {
    TBitmap Decoded;
    FUZZ_CHECK(Saved.DecodePage(0, Decoded) == Result::Ok);
    FUZZ_CHECK(SamePixels(Bitmap, Decoded));
  }
  return 0;
}
