#include "platform/Bitmap.h"

#include "platform/Errors.h"

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  Format = Value;
  Resize();
}

void TBitmap::SetWidth(int Value) {
  PixelWidth = Value < 0 ? 0 : Value;
  Resize();
}

void TBitmap::SetHeight(int Value) {
  PixelHeight = Value < 0 ? 0 : Value;
  Resize();
}

size_t TBitmap::RowBytes() const {
  return Format == TPixelFormat::pf24bit ? static_cast<size_t>(PixelWidth) * 3 : 0;
}

void TBitmap::Reallocate() {
  TooLarge = false;
  Pending = false;
  Pixels.assign(RowBytes() * static_cast<size_t>(PixelHeight), 0);
}

void TBitmap::Resize() {
  TooLarge = false;
  Pending = true;
  Pixels.clear();
}

uint8_t* TBitmap::ScanLine(int Row) {
  return const_cast<uint8_t*>(static_cast<const TBitmap*>(this)->ScanLine(Row));
}

const uint8_t* TBitmap::ScanLine(int Row) const {
  if (Row < 0 || Row >= PixelHeight || Format != TPixelFormat::pf24bit)
    throw EBitmapError("scan line " + std::to_string(Row) + " out of range");
  if (Pending) {
    Pixels.assign(RowBytes() * static_cast<size_t>(PixelHeight), 0);
    Pending = false;
  }
  return Pixels.data() + RowBytes() * static_cast<size_t>(Row);
}
