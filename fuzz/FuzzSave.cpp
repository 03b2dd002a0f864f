// Fuzz target: saving a whole STI file and saving it again.
//
// The image is opened, saved to a scratch file, that file opened and saved to a second one: both
// saved files must be identical, and the image read back must hold the same header, palette and
// pages as the image that was saved. A 16-bit image is refused by Save with 17 and nothing written.
#include "FuzzSupport.h"

#include "Sti/Sti.h"

#include <cstring>

namespace {

void CheckSameImage(const TSti& Saved, const TSti& Reopened) {
  FUZZ_CHECK(std::memcmp(Saved.Header, Reopened.Header, HeaderSize) == 0);
  FUZZ_CHECK(std::memcmp(Saved.Palette, Reopened.Palette, PaletteSize) == 0);
  FUZZ_CHECK(Saved.Pages.Count() == Reopened.Pages.Count());
  for (int I = 0; I < Saved.Pages.Count(); ++I) {
    const TStiRecord& A = *Saved.Record(I);
    const TStiRecord& B = *Reopened.Record(I);
    FUZZ_CHECK(A.DataOffset == B.DataOffset && A.DataLength == B.DataLength);
    FUZZ_CHECK(A.OffsetX == B.OffsetX && A.OffsetY == B.OffsetY);
    FUZZ_CHECK(A.Width == B.Width && A.Height == B.Height);
    FUZZ_CHECK(A.Data == B.Data);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Source = Fuzz::ScratchPath("source.sti");
  const std::string First = Fuzz::ScratchPath("first.sti");
  const std::string Second = Fuzz::ScratchPath("second.sti");
  Fuzz::WriteFile(Source, Data, Size);

  TSti Image;
  if (Image.Open(Source, 0) != Result::Ok)
    return 0;

  // Save replaces only files that exist.
  Fuzz::WriteFile(First, nullptr, 0);
  const int Saved = Image.Save(First);
  if (Image.IsRgb()) {
    FUZZ_CHECK(Saved == Result::RgbImage);
    FUZZ_CHECK(Fuzz::ReadFile(First).empty());
    return 0;
  }
  FUZZ_CHECK(Saved == Result::Ok);
  const Fuzz::TBytes FirstBytes = Fuzz::ReadFile(First);

  // The data lie back to back in page-table order, and nothing follows the last page's data.
  uint64_t Total = 0;
  for (int I = 0; I < Image.Pages.Count(); ++I) {
    FUZZ_CHECK(Image.Record(I)->DataOffset == Total);
    Total += Image.Record(I)->DataLength;
  }
  FUZZ_CHECK(FirstBytes.size() == PageTableOffset + EntrySize * static_cast<size_t>(Image.Pages.Count()) + Total);
  FUZZ_CHECK(Image.HeaderPageCount() == Image.Pages.Count());

  // Only PageCount and the two sizes of the header change; OriginalSize follows StoredSize only
  // when the two were equal.
  for (size_t At = 0; At < HeaderSize; ++At)
    if ((At < OriginalSizeOffset || At >= StoredSizeOffset + 4) && (At < PageCountOffset || At >= PageCountOffset + 2))
      FUZZ_CHECK(FirstBytes[At] == Data[At]);
  auto Field = [](const uint8_t* Bytes, size_t At) {
    return static_cast<uint32_t>(Bytes[At]) | static_cast<uint32_t>(Bytes[At + 1]) << 8 |
           static_cast<uint32_t>(Bytes[At + 2]) << 16 | static_cast<uint32_t>(Bytes[At + 3]) << 24;
  };
  const uint32_t OldOriginal = Field(Data, OriginalSizeOffset);
  const uint32_t OldStored = Field(Data, StoredSizeOffset);
  FUZZ_CHECK(Field(FirstBytes.data(), StoredSizeOffset) == Total);
  FUZZ_CHECK(Field(FirstBytes.data(), OriginalSizeOffset) == (OldOriginal == OldStored ? Total : OldOriginal));
  FUZZ_CHECK(std::memcmp(FirstBytes.data() + PaletteOffset, Data + PaletteOffset, PaletteSize) == 0);

  TSti Reopened;
  FUZZ_CHECK(Reopened.Open(First, 0) == Result::Ok);
  CheckSameImage(Image, Reopened);

  Fuzz::WriteFile(Second, nullptr, 0);
  FUZZ_CHECK(Reopened.Save(Second) == Result::Ok);
  FUZZ_CHECK(Fuzz::ReadFile(Second) == FirstBytes);
  return 0;
}
