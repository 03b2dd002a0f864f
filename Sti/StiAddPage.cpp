// Adding and replacing pages: the palette is prepared, the bitmap encoded, and the new record put
// in place of the named page or appended to the page table.
#include "Sti/Sti.h"

#include "platform/Bitmap.h"

#include <memory>

namespace {

// The low 16 bits of a value, as the signed 16-bit field of a page record holds them.
int16_t Low16(int32_t Value) {
  int32_t Bits = Value & 0xFFFF;
  if (Bits >= 0x8000)
    Bits -= 0x10000;
  return static_cast<int16_t>(Bits);
}

}  // namespace

int TSti::AddPage(const TBitmap& Bitmap, const std::string& Name, bool Adapt, int32_t DispX, int32_t DispY,
                  int32_t Red, int32_t Green, int32_t Blue) {
  if (IsRgb())
    return Result::RgbImage;

  // The page to replace is looked up first: a full table refuses a new page before anything
  // changes, since the header's page count cannot describe more than MaxPages.
  const int Replaced = Name.empty() ? -1 : FindPage(Name);
  if (Replaced < 0 && Pages.Count() >= MaxPages)
    return Result::IndexRange;

  // The palette is prepared and the bitmap encoded while the page being replaced still counts.
  AdaptPalette = Adapt;
  if (!Adapt)
    BuildPalette(Bitmap, Red, Green, Blue);
  int32_t Length = 0;
  auto Page = std::make_unique<TStiRecord>();
  Page->Data = EncodePage(Bitmap, Length);
  Page->DataLength = static_cast<uint32_t>(Length);
  Page->OffsetX = Low16(DispX);
  Page->OffsetY = Low16(DispY);
  Page->Height = Low16(Bitmap.Height());
  Page->Width = Low16(Bitmap.Width());

  // A replaced page keeps its place and its name; a new page goes last, with the empty name.
  if (Replaced >= 0) {
    delete Record(Replaced);
    Pages.SetObject(Replaced, Page.release());
  } else {
    const int Added = Pages.Add(std::string());
    Pages.SetObject(Added, Page.release());
  }
  return Result::Ok;
}
