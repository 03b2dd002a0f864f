#include "Sti/StiFormat.h"

#include "Sti/Sti.h"
#include "platform/ByteOrder.h"

std::string PageName(int Index) {
  std::string Digits = std::to_string(Index);
  if (Digits.size() < 3)
    Digits.insert(0, 3 - Digits.size(), '0');
  return Digits + ".bmp";
}

int16_t TSti::HeaderWidth() const {
  uint32_t Value = 0;
  ReadLE(Header, HeaderSize, WidthOffset, 2, Value);
  return static_cast<int16_t>(static_cast<uint16_t>(Value));
}

int16_t TSti::HeaderHeight() const {
  uint32_t Value = 0;
  ReadLE(Header, HeaderSize, HeightOffset, 2, Value);
  return static_cast<int16_t>(static_cast<uint16_t>(Value));
}

int16_t TSti::HeaderPageCount() const {
  uint32_t Value = 0;
  ReadLE(Header, HeaderSize, PageCountOffset, 2, Value);
  return static_cast<int16_t>(static_cast<uint16_t>(Value));
}
