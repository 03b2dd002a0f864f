// Fuzz target: names from the command line against the page table, as the delete, extract and
// refresh commands use them.
//
// Input: the number of pages (1 byte), then lines (cut as an @list file is cut), each an operation
// on the page table of an 8-bit image followed by a name: 'd' deletes the page of that name, 'm'
// refreshes it (AddPage with the name: replaced in place, or appended with the empty name when no
// page has it), 'a' appends a page with the empty name, anything else only looks the name up.
// After every operation the table must equal a plain model of it, and FindPage must give, for the
// name of the line and for every name in the table, the first entry whose name compares equal,
// found by comparing the names one by one.
#include "FuzzSupport.h"

#include "Sti/Sti.h"
#include "platform/Bitmap.h"
#include "platform/StringList.h"
#include "platform/Text.h"

#include <cstring>

namespace {

// The plain lookup: the first entry, in table order, whose name is the same name.
int FirstSame(const std::vector<std::string>& Model, const std::string& Name) {
  for (size_t I = 0; I < Model.size(); ++I)
    if (SameName(Model[I], Name))
      return static_cast<int>(I);
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1)
    return 0;
  // Each page's record remembers which page it was, in its OffsetX, so that a wrong record in the
  // right place shows.
  int16_t Serial = 0;
  TSti Image;
  std::memcpy(Image.Header, StiMagic, sizeof StiMagic);
  std::vector<std::string> Model;
  std::vector<int16_t> Serials;
  for (int I = 0; I < Data[0]; ++I) {
    auto Page = new TStiRecord;
    Page->OffsetX = Serial;
    Image.Pages.SetObject(Image.Pages.Add(PageName(I)), Page);
    Model.push_back(PageName(I));
    Serials.push_back(Serial++);
  }

  TBitmap Bitmap;
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(1);
  Bitmap.SetWidth(1);

  const std::string Text(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  const std::vector<std::string> Lines = SplitLines(Text);
  for (const std::string& Line : Lines) {
    const char Operation = Line.empty() ? '?' : Line[0];
    const std::string Name = Line.empty() ? Line : Line.substr(1);
    const int Found = FirstSame(Model, Name);
    FUZZ_CHECK(Image.FindPage(Name) == Found);
    if (Operation == 'd') {
      FUZZ_CHECK(Image.DeletePage(Name) == (Found < 0 ? Result::NoSuchPage : Result::Ok));
      if (Found >= 0) {
        Model.erase(Model.begin() + Found);
        Serials.erase(Serials.begin() + Found);
      }
    } else if (Operation == 'm' || Operation == 'a') {
      const std::string PageName = Operation == 'm' ? Name : std::string();
      // Exact matching, and the palette of an image with pages is left alone: only the table changes.
      FUZZ_CHECK(Image.AddPage(Bitmap, PageName, false, Serial, 0, -1, -1, -1) == Result::Ok);
      const int Replaced = PageName.empty() ? -1 : Found;
      if (Replaced >= 0) {
        Serials[static_cast<size_t>(Replaced)] = Serial;
      } else {
        Model.push_back(std::string());
        Serials.push_back(Serial);
      }
      ++Serial;
    }

    FUZZ_CHECK(Image.Pages.Count() == static_cast<int>(Model.size()));
    for (int I = 0; I < Image.Pages.Count(); ++I) {
      FUZZ_CHECK(Image.Pages.Strings(I) == Model[static_cast<size_t>(I)]);
      FUZZ_CHECK(Image.Record(I)->OffsetX == Serials[static_cast<size_t>(I)]);
    }
    FUZZ_CHECK(Image.FindPage(Name) == FirstSame(Model, Name));
    if (!Model.empty()) {
      FUZZ_CHECK(Image.FindPage(Model.back()) == FirstSame(Model, Model.back()));
      FUZZ_CHECK(Image.FindPage(Model.front()) == 0);
    }
  }
  for (const std::string& Name : Model)
    FUZZ_CHECK(Image.FindPage(Name) == FirstSame(Model, Name));
  return 0;
}
