// The STI file format.
//
// All numbers are little-endian; positions count from the image's Offset in its file.
//
// Header, 64 bytes (kept verbatim; bytes not listed are carried through unchanged):
//   0   4  magic "STCI"
//   4   4  OriginalSize   unsigned; rewritten on saving when it equals StoredSize
//   8   4  StoredSize     unsigned; total length of all pages' data
//   16  1  Flags (low)    4 marks a 16-bit image, any other value an 8-bit image
//   20  2  Height         signed; picture height of a 16-bit image
//   22  2  Width          signed; picture width of a 16-bit image
//   28  2  PageCount      signed; entries of the page table of an 8-bit image
//
// 8-bit image: header, palette of 256 × (red, green, blue) at 64, page table of PageCount
// 16-byte entries at 832, data area at 832 + 16 × PageCount.
// Page-table entry, 16 bytes:
//   0  4  DataOffset  unsigned, from the start of the data area
//   4  4  DataLength  unsigned
//   8  2  OffsetX     signed display offset
//   10 2  OffsetY     signed display offset
//   12 2  Height      signed
//   14 2  Width       signed
//
// 16-bit image: header, then Width × Height words of RGB 5-6-5 (red in bits 15-11), top row first.
//
// Page data: Height rows, each a sequence of runs adding up to Width pixels, then a byte 0.
//   0x01-0x7F  literal run: that many palette indices follow
//   0x81-0xFF  transparent run of (byte - 0x80) pixels of index 0
//   0x80       empty transparent run; never written, passed over when read
//   0x00       end of row
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t StiMagic[4] = {0x53, 0x54, 0x43, 0x49};  // "STCI"

constexpr size_t HeaderSize = 64;
constexpr size_t PaletteEntries = 256;
constexpr size_t PaletteSize = PaletteEntries * 3;
constexpr size_t EntrySize = 16;
constexpr size_t PaletteOffset = HeaderSize;               // 64
constexpr size_t PageTableOffset = HeaderSize + PaletteSize;  // 832

constexpr size_t OriginalSizeOffset = 4;
constexpr size_t StoredSizeOffset = 8;
constexpr size_t FlagsOffset = 16;
constexpr size_t HeightOffset = 20;
constexpr size_t WidthOffset = 22;
constexpr size_t PageCountOffset = 28;

constexpr uint8_t RgbFlag = 4;  // low byte of Flags for a 16-bit image

constexpr int MaxRunLength = 127;
constexpr uint8_t TransparentRunBase = 0x80;
constexpr uint8_t EndOfRow = 0x00;

constexpr int MaxPages = 32767;  // the largest number of pages PageCount can describe

// Result codes of the image operations; 0 is success.
namespace Result {
constexpr int Ok = 0;
constexpr int PaletteFull = 2;
constexpr int NotSti = 7;
constexpr int CannotOpen = 14;
constexpr int NoSuchPage = 15;
constexpr int CannotCreate = 16;
constexpr int RgbImage = 17;
constexpr int SaveMissing = 18;
constexpr int NotAtStart = 19;
constexpr int IndexRange = 20;
// Of the front end.
constexpr int PlatformFailure = 1;
constexpr int Usage = 100;
constexpr int Not24Bit = 101;
constexpr int TooLarge = 102;
}  // namespace Result


// Page name of page Index as loading gives it: "000.bmp", "001.bmp", … "099.bmp", "100.bmp", …
std::string PageName(int Index);
