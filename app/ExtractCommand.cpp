// The extract command: each named page is written as a 24-bit BMP file.
#include "app/Commands.h"

int ExtractCommand(TRunContext& Run) {
  // Every name is tried, whatever happened to the one before; the last name gives the result.
  // The file is written under the name exactly as given, relative to the current directory.
  int Outcome = Result::Ok;
  for (int I = 0; I < Run.Names.Count(); ++I) {
    const std::string& Name = Run.Names.Strings(I);
    Outcome = Run.Image.ExtractPage(Name, Run.Bitmap);
    if (Outcome == Result::Ok)
      Run.Bitmap.SaveToFile(Name);
  }
  return Outcome;
}
