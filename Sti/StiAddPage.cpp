// PENDING: adding pages is not built yet.
#include "Sti/Sti.h"

int TSti::AddPage(const TBitmap&, const std::string&, bool, int32_t, int32_t, int32_t, int32_t, int32_t) {
  return Result::RgbImage;
}
