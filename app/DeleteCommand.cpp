// The delete command: removes the named pages in memory, then rewrites the file once.
#include "app/Commands.h"

int DeleteCommand(TRunContext& Run) {
  // The first name that fails stops the command before anything is written, so either every
  // deletion reaches the file or none does.
  for (int I = 0; I < Run.Names.Count(); ++I) {
    const int Outcome = Run.Image.DeletePage(Run.Names.Strings(I));
    if (Outcome != Result::Ok)
      return Outcome;
  }
  return Run.Image.Save("");
}
