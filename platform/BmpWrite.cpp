// PENDING: BMP output is not built yet.
#include "platform/Bitmap.h"

void TBitmap::SaveToFile(const std::string&) const {}
