// PENDING: saving is not built yet.
#include "Sti/Sti.h"

void TSti::UpdateOffsets() {}
int TSti::Save(const std::string&) { return Result::CannotCreate; }
