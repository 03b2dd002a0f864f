// PENDING: the encoder is not built yet.
#include "Sti/Sti.h"

std::vector<uint8_t> TSti::EncodePage(const TBitmap&, int32_t& Length) const { Length = 0; return {}; }
