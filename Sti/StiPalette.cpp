// PENDING: palette building and matching are not built yet.
#include "Sti/Sti.h"

int TSti::AddPaletteColor(uint8_t, uint8_t, uint8_t) { return Result::PaletteFull; }
void TSti::BuildPalette(const TBitmap&, int32_t, int32_t, int32_t) {}
uint8_t TSti::MatchColor(const uint8_t*) const { return 0; }
uint8_t TSti::FindExactColor(const uint8_t*) const { return 0; }
uint8_t TSti::FindNearestColor(const uint8_t*) const { return 0; }
