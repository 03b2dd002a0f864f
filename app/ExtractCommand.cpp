// PENDING: the extract command is not built yet.
#include "app/Commands.h"

int ExtractCommand(TRunContext&) { return Result::Ok; }
