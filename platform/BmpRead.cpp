// PENDING: BMP input is not built yet.
#include "platform/Bitmap.h"

void TBitmap::LoadFromFile(const std::string&, int) {}
