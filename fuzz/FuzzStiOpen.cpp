// Fuzz target: opening a whole STI file.
//
// Open must give 0 or 7 (the file exists, so never 14). With 0 the page table has as many pages as
// the header describes, each holding exactly DataLength bytes; every page decodes twice to the same
// pixels without changing its record, and the first pages, written as BMP files as the extract
// command writes them, read back to the same pixels; the list report renders one row a page.
#include "FuzzSupport.h"

#include "Sti/Sti.h"
#include "platform/Bitmap.h"

#include <algorithm>
#include <cstring>

namespace {

// A page record may claim up to 32767 × 32767 pixels with only a few bytes of data, and decoding
// it then allocates a 3 GB bitmap. Pages whose bitmap would exceed this are skipped here, so that
// a run stays within libFuzzer's memory limits and fast; the page-decoder target decodes every
// shape below the same cap.
constexpr int64_t MaxDecodedBytes = int64_t{256} << 10;

bool SameBitmap(const TBitmap& A, const TBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.PixelFormat() != B.PixelFormat())
    return false;
  for (int Row = 0; Row < A.Height(); ++Row)
    if (A.RowBytes() != 0 && std::memcmp(A.ScanLine(Row), B.ScanLine(Row), A.RowBytes()) != 0)
      return false;
  return true;
}

void CheckPages(const TSti& Image, size_t FileSize) {
  const int Count = Image.Pages.Count();
  if (Image.IsRgb()) {
    FUZZ_CHECK(Count == 1);
    FUZZ_CHECK(Image.HeaderWidth() >= 0 && Image.HeaderHeight() >= 0);
    const uint64_t Bytes = uint64_t{2} * static_cast<uint64_t>(Image.HeaderWidth()) *
                           static_cast<uint64_t>(Image.HeaderHeight());
    FUZZ_CHECK(Image.Record(0)->Data.size() == Bytes);
    FUZZ_CHECK(HeaderSize + Bytes <= FileSize);
  } else {
    FUZZ_CHECK(Count == std::max<int>(0, Image.HeaderPageCount()));
    FUZZ_CHECK(Count == 0 || PageTableOffset + EntrySize * static_cast<size_t>(Count) <= FileSize);
  }
  for (int I = 0; I < Count; ++I) {
    const TStiRecord* Page = Image.Record(I);
    FUZZ_CHECK(Page != nullptr);
    FUZZ_CHECK(Image.Pages.Strings(I) == PageName(I));
    FUZZ_CHECK(Image.FindPage(PageName(I)) == I);
    if (!Image.IsRgb()) {
      FUZZ_CHECK(Page->Data.size() == Page->DataLength);
      FUZZ_CHECK(Page->DataLength <= FileSize);
    }
  }
}

// Pages of one input written as BMP files and read back; a few suffice.
constexpr int MaxWrittenPages = 4;

void CheckWrittenBmp(const TBitmap& Page) {
  const std::string Path = Fuzz::ScratchPath("page.bmp");
  Page.SaveToFile(Path);
  const uint64_t Stride = (static_cast<uint64_t>(Page.Width()) * 3 + 3) / 4 * 4;
  const uint64_t Expected = Page.Width() > 0 && Page.Height() > 0 ? 54 + Stride * static_cast<uint64_t>(Page.Height()) : 0;
  FUZZ_CHECK(Fuzz::ReadFile(Path).size() == Expected);
  TBitmap Back;
  Back.LoadFromFile(Path);
  if (Expected == 0) {
    // A page without pixels is written as an empty file, which loads as no picture at all.
    FUZZ_CHECK(Back.PixelFormat() != TPixelFormat::pf24bit);
    return;
  }
  FUZZ_CHECK(SameBitmap(Page, Back));
}

void CheckDecoding(const TSti& Image) {
  // One bitmap for all pages, as the extract command uses it: it starts out as wide as a page can
  // be, and each page is decoded into it after the one before.
  TBitmap Shared;
  Shared.SetPixelFormat(TPixelFormat::pf24bit);
  Shared.SetHeight(1);
  Shared.SetWidth(32767);
  std::memset(Shared.ScanLine(0), 0x5A, Shared.RowBytes());
  for (int I = 0; I < Image.Pages.Count(); ++I) {
    const TStiRecord& Page = *Image.Record(I);
    const int64_t Width = std::max<int64_t>(0, Image.IsRgb() ? Image.HeaderWidth() : Page.Width);
    const int64_t Height = std::max<int64_t>(0, Image.IsRgb() ? Image.HeaderHeight() : Page.Height);
    if (Width * Height * 3 > MaxDecodedBytes)
      continue;
    const std::vector<uint8_t> Before = Page.Data;

    TBitmap First;
    FUZZ_CHECK(Image.DecodePage(I, First) == Result::Ok);
    FUZZ_CHECK(First.PixelFormat() == TPixelFormat::pf24bit);
    FUZZ_CHECK(First.Width() == Width && First.Height() == Height);
    // The shared bitmap held other pixels of another size: decoding must not depend on them.
    FUZZ_CHECK(Image.ExtractPage(Image.Pages.Strings(I), Shared) == Result::Ok);
    FUZZ_CHECK(SameBitmap(First, Shared));
    FUZZ_CHECK(Page.Data == Before);

    // The extract command writes the page as a BMP file; reading that file gives the same pixels.
    if (I < MaxWrittenPages)
      CheckWrittenBmp(First);
  }
  TBitmap Untouched;
  FUZZ_CHECK(Image.DecodePage(Image.Pages.Count(), Untouched) == Result::IndexRange);
  FUZZ_CHECK(Image.DecodePage(-1, Untouched) == Result::IndexRange);
  FUZZ_CHECK(Untouched.Width() == 0 && Untouched.Height() == 0);
}

// The list report: the header line, a rule, one row a page beginning with its name padded to 40
// characters, and the rule again.
void CheckListReport(const std::string& Path, const TSti& Image) {
  std::string Out;
  FUZZ_CHECK(Fuzz::RunTool({"l", Path}, Out) == Result::Ok);
  std::vector<std::string> Lines;
  size_t Start = 0;
  for (size_t End; (End = Out.find('\n', Start)) != std::string::npos; Start = End + 1)
    Lines.push_back(Out.substr(Start, End - Start));
  FUZZ_CHECK(Start == Out.size());
  FUZZ_CHECK(Lines.size() == static_cast<size_t>(Image.Pages.Count()) + 3);
  FUZZ_CHECK(Lines.front().compare(0, 4, "Name") == 0);
  FUZZ_CHECK(Lines[1] == std::string(79, '-') && Lines.back() == Lines[1]);
  for (int I = 0; I < Image.Pages.Count(); ++I) {
    std::string Name = Image.Pages.Strings(I);
    Name.resize(std::max<size_t>(Name.size(), 40), ' ');
    FUZZ_CHECK(Lines[static_cast<size_t>(I) + 2].compare(0, Name.size(), Name) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Path = Fuzz::ScratchPath("open.sti");
  Fuzz::WriteFile(Path, Data, Size);

  TSti Image;
  const int Opened = Image.Open(Path, 0);
  FUZZ_CHECK(Opened == Result::Ok || Opened == Result::NotSti);
  FUZZ_CHECK(Image.PaletteCount == 256);
  if (Opened != Result::Ok) {
    FUZZ_CHECK(Image.Pages.Count() == 0);
    return 0;
  }
  FUZZ_CHECK(Size >= HeaderSize && std::memcmp(Data, StiMagic, sizeof StiMagic) == 0);
  FUZZ_CHECK(std::memcmp(Image.Header, Data, HeaderSize) == 0);
  if (!Image.IsRgb())
    FUZZ_CHECK(Size >= PageTableOffset && std::memcmp(Image.Palette, Data + PaletteOffset, PaletteSize) == 0);

  CheckPages(Image, Size);
  CheckDecoding(Image);
  CheckListReport(Path, Image);
  return 0;
}
