// The STI image file object and its page records.
//
// An 8-bit image holds a 256-colour palette and a table of pages, each stored as run-length coded
// palette indices; a 16-bit image holds one picture of RGB 5-6-5 pixels. The whole image is read
// into memory by Open, changed in memory, and written back by Save. The byte layout is described
// in StiFormat.h.
#pragma once

#include "Sti/StiFormat.h"
#include "Sti/StiPageIndex.h"
#include "platform/Files.h"
#include "platform/StringList.h"

#include <cstdint>
#include <string>
#include <vector>

class TBitmap;

// One page: the six fields of its 16-byte page-table entry, then its owned page data.
class TStiRecord {
public:
  uint32_t DataOffset = 0;
  uint32_t DataLength = 0;
  int16_t OffsetX = 0;
  int16_t OffsetY = 0;
  int16_t Height = 0;
  int16_t Width = 0;
  std::vector<uint8_t> Data;
};

class TSti {
public:
  std::string FileName;
  int32_t Offset = 0;
  uint8_t Palette[PaletteEntries][3] = {};
  int32_t PaletteCount = 0;
  THandle Handle = InvalidHandle;
  uint8_t Header[HeaderSize] = {};
  TStringList Pages;
  bool AdaptPalette = false;

  TSti() = default;
  ~TSti();
  TSti(const TSti&) = delete;
  TSti& operator=(const TSti&) = delete;

  // Opening, loading and the page table (StiOpen.cpp).
  int Open(const std::string& Name, int32_t Position);
  // Builds the page table from the image's bytes (Image holds the file from Offset on). Returns 0,
  // or NotSti with an empty table when the bytes cannot back what the header describes.
  int LoadPages(const uint8_t* Image, size_t Size);
  void ClearPages();
  int FindPage(const std::string& Name) const;
  int DeletePage(const std::string& Name);
  int PageCountOf() const { return Pages.Count(); }
  TStiRecord* Record(int Index) const { return static_cast<TStiRecord*>(Pages.Objects(Index)); }

  // Header fields, read and changed in place.
  bool IsRgb() const { return Header[FlagsOffset] == RgbFlag; }
  int16_t HeaderWidth() const;
  int16_t HeaderHeight() const;
  int16_t HeaderPageCount() const;

  // Saving (StiSave.cpp).
  void UpdateOffsets();
  int Save(const std::string& Name);

  // Decoding (StiDecode.cpp, StiRgb.cpp).
  int ExtractPage(const std::string& Name, TBitmap& Bitmap) const;
  int DecodePage(int Index, TBitmap& Bitmap) const;
  int DecodeRgbPage(TBitmap& Bitmap) const;

  // Palette building and colour matching (StiPalette.cpp).
  int AddPaletteColor(uint8_t Red, uint8_t Green, uint8_t Blue);
  void BuildPalette(const TBitmap& Bitmap, int32_t Red, int32_t Green, int32_t Blue);
  uint8_t MatchColor(const uint8_t* Pixel) const;
  uint8_t FindExactColor(const uint8_t* Pixel) const;
  uint8_t FindNearestColor(const uint8_t* Pixel) const;

  // Encoding (StiEncode.cpp) and adding pages (StiAddPage.cpp).
  std::vector<uint8_t> EncodePage(const TBitmap& Bitmap, int32_t& Length) const;
  int AddPage(const TBitmap& Bitmap, const std::string& Name, bool Adapt, int32_t DispX, int32_t DispY,
              int32_t Red, int32_t Green, int32_t Blue);

private:
  // Page names to table positions for FindPage; it follows every change of Pages by itself.
  mutable TPageIndex PageIndex;
};
