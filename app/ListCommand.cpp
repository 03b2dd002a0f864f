// The list command: one row per page with its size and display offsets.
#include "app/Commands.h"

#include <cstdio>

int ListCommand(TRunContext& Run) {
  const TSti& Image = Run.Image;
  static const char Rule[] = "-------------------------------------------------------------------------------\n";
  std::printf("Name                                    Size     Width Height DispX DispY\n");
  std::fputs(Rule, stdout);
  for (int I = 0; I < Image.Pages.Count(); ++I) {
    const TStiRecord& Page = *Image.Record(I);
    const int Width = Image.IsRgb() ? Image.HeaderWidth() : Page.Width;
    const int Height = Image.IsRgb() ? Image.HeaderHeight() : Page.Height;
    // The size of a BMP file of the page without row padding, modulo 2^32.
    const unsigned Size = static_cast<unsigned>(static_cast<uint32_t>(static_cast<int64_t>(Width) * Height * 3 + 54));
    std::printf("%-40s%-10u%-6d%-6d%-6d%-6d\n", Image.Pages.Strings(I).c_str(), Size, Width, Height,
                static_cast<int>(Page.OffsetX), static_cast<int>(Page.OffsetY));
  }
  std::fputs(Rule, stdout);
  return Result::Ok;
}
