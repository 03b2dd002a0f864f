// PENDING: the indexed decoder is not built yet.
#include "Sti/Sti.h"

int TSti::ExtractPage(const std::string&, TBitmap&) const { return Result::NoSuchPage; }
int TSti::DecodePage(int, TBitmap&) const { return Result::IndexRange; }
