// Little-endian fields in byte buffers. Every multi-byte field of a file goes through these
// helpers, which know how many bytes the buffer holds and refuse to run past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Reads an unsigned field of Width bytes (1 to 4) at Offset of a buffer of Size bytes.
// Returns false, leaving Value alone, when the field does not lie wholly inside the buffer.
inline bool ReadLE(const uint8_t* Data, size_t Size, size_t Offset, size_t Width, uint32_t& Value) {
  if (Width < 1 || Width > 4 || Offset > Size || Size - Offset < Width)
    return false;
  uint32_t Result = 0;
  for (size_t I = 0; I < Width; ++I)
    Result |= static_cast<uint32_t>(Data[Offset + I]) << (8 * I);
  Value = Result;
  return true;
}

// Writes the low Width bytes (1 to 4) of Value at Offset; false when they do not fit.
inline bool WriteLE(uint8_t* Data, size_t Size, size_t Offset, size_t Width, uint32_t Value) {
  if (Width < 1 || Width > 4 || Offset > Size || Size - Offset < Width)
    return false;
  for (size_t I = 0; I < Width; ++I)
    Data[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
  return true;
}

// A cursor over a byte buffer. A read that would pass the end fails, returns 0 and marks the
// reader as failed; later reads keep failing, so a sequence of reads can be checked once.
class TByteReader {
public:
  TByteReader(const uint8_t* Data, size_t Size) : Data(Data), Size(Size) {}

  uint32_t U8() { return Field(1); }
  uint32_t U16() { return Field(2); }
  uint32_t U32() { return Field(4); }
  int16_t S16() { return static_cast<int16_t>(static_cast<uint16_t>(Field(2))); }
  int32_t S32() { return static_cast<int32_t>(Field(4)); }

  // Copies Count bytes to Target; fails without copying when fewer remain.
  bool Bytes(void* Target, size_t Count) {
    if (!Ok || Count > Remaining()) {
      Ok = false;
      return false;
    }
    if (Count != 0)
      std::memcpy(Target, Data + Position, Count);
    Position += Count;
    return true;
  }
  bool Skip(size_t Count) {
    if (!Ok || Count > Remaining()) {
      Ok = false;
      return false;
    }
    Position += Count;
    return true;
  }
  bool Seek(size_t At) {
    if (!Ok || At > Size) {
      Ok = false;
      return false;
    }
    Position = At;
    return true;
  }

  size_t Tell() const { return Position; }
  size_t Remaining() const { return Size - Position; }
  bool Good() const { return Ok; }
  const uint8_t* Here() const { return Data + Position; }

private:
  uint32_t Field(size_t Width) {
    uint32_t Value = 0;
    if (!Ok || !ReadLE(Data, Size, Position, Width, Value)) {
      Ok = false;
      return 0;
    }
    Position += Width;
    return Value;
  }

  const uint8_t* Data;
  size_t Size;
  size_t Position = 0;
  bool Ok = true;
};
