// PENDING: the add and refresh commands are not built yet.
#include "app/Commands.h"

int AddCommand(TRunContext&) { return Result::Ok; }
