// PENDING: the 16-bit conversion is not built yet.
#include "Sti/Sti.h"

int TSti::DecodeRgbPage(TBitmap&) const { return Result::Ok; }
