// PENDING: the delete command is not built yet.
#include "app/Commands.h"

int DeleteCommand(TRunContext&) { return Result::Ok; }
