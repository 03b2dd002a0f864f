// The commands of the front end. Each runs after the STI file was opened and returns the run's
// result code.
#pragma once

#include "Sti/Sti.h"
#include "platform/Bitmap.h"
#include "platform/StringList.h"

#include <cstdint>

// What the frame of a run prepared for its command.
struct TRunContext {
  TBitmap& Bitmap;
  TStringList& Names;
  TSti& Image;
  int32_t DispX = 0;
  int32_t DispY = 0;
  int32_t Red = -1;
  int32_t Green = -1;
  int32_t Blue = -1;
  bool Refresh = false;
  bool Adapt = false;
};

int ListCommand(TRunContext& Run);
int ExtractCommand(TRunContext& Run);
int DeleteCommand(TRunContext& Run);
int AddCommand(TRunContext& Run);
