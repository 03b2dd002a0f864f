// The add and refresh commands: each BMP file of the name list becomes a page, appended (add) or
// put in place of the page named like the file (refresh); the image is saved only when every file
// was taken.
#include "app/Commands.h"

#include "platform/Text.h"

#include <string>

namespace {

// Width and Height of a page record are signed 16-bit.
constexpr int MaxPageSide = 32767;

}  // namespace

int AddCommand(TRunContext& Run) {
  for (int I = 0; I < Run.Names.Count(); ++I) {
    const std::string& Path = Run.Names.Strings(I);
    Run.Bitmap.LoadFromFile(Path, MaxPageSide);
    // The 24-bit test comes first, so a file that is not 24-bit gives 101 on any image.
    if (Run.Bitmap.PixelFormat() != TPixelFormat::pf24bit)
      return Result::Not24Bit;
    if (Run.Bitmap.Oversized())
      return Result::TooLarge;
    const std::string PageName = Run.Refresh ? ExtractFileName(Path) : std::string();
    const int Code = Run.Image.AddPage(Run.Bitmap, PageName, Run.Adapt, Run.DispX, Run.DispY, Run.Red,
                                       Run.Green, Run.Blue);
    if (Code != Result::Ok)
      return Code;
  }
  return Run.Image.Save(std::string());
}
