// The bitmap of the platform layer: a picture whose pixel format can be set and tested, with
// direct access to the pixel memory of each row. At 24 bits per pixel a row holds Width × 3
// bytes, blue, green, red for each pixel from the left; rows are counted from the top.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit, pfCustom };

class TBitmap {
public:
  TPixelFormat PixelFormat() const { return Format; }
  // Setting the format gives zeroed pixel memory of the current size.
  void SetPixelFormat(TPixelFormat Value);
  int Width() const { return PixelWidth; }
  int Height() const { return PixelHeight; }
  // Setting a size gives zeroed pixel memory; a negative size counts as 0.
  void SetWidth(int Value);
  void SetHeight(int Value);
  // The pixel memory of row Row (0 is the top row). Raises EBitmapError outside 0 .. Height - 1.
  uint8_t* ScanLine(int Row);
  const uint8_t* ScanLine(int Row) const;
  // Bytes of one row in memory: Width × 3 at 24 bits per pixel.
  size_t RowBytes() const;

  // Loads a BMP file; the pixel format tells afterwards whether it held 24 bits per pixel.
  // A 24-bit file wider or higher than MaxSide pixels is not read further: Oversized() is then
  // true and the bitmap holds no pixels. Raises EFileError or EBitmapError.
  void LoadFromFile(const std::string& Path, int MaxSide = 32767);
  bool Oversized() const { return TooLarge; }
  // Writes the bitmap as an uncompressed 24-bit BMP file; a bitmap without pixels writes an empty
  // file. Raises EFileError.
  void SaveToFile(const std::string& Path) const;

private:
  // Gives the pixel memory the current size now, zeroed.
  void Reallocate();
  // The size or format changed: zeroed pixel memory of the new size is made when a row is first
  // asked for. So a bitmap whose height and width are set one after the other never holds the
  // pixels of the size in between (the old width times the new height), which for a wide picture
  // followed by a high one would be gigabytes.
  void Resize();

  TPixelFormat Format = TPixelFormat::pfDevice;
  int PixelWidth = 0;
  int PixelHeight = 0;
  bool TooLarge = false;
  mutable bool Pending = false;
  mutable std::vector<uint8_t> Pixels;
};
