// Writing a bitmap as an uncompressed 24-bit BMP file.
#include "platform/Bitmap.h"

#include "platform/ByteOrder.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr size_t FileHeaderSize = 14;
constexpr size_t InfoHeaderSize = 40;
constexpr size_t PixelOffset = FileHeaderSize + InfoHeaderSize;  // 54

[[noreturn]] void WriteFailed(const std::string& Path, const std::string& Reason) {
  throw EFileError("cannot write '" + Path + "': " + Reason);
}

}  // namespace

void TBitmap::SaveToFile(const std::string& Path) const {
  // The whole file is built in memory and written in one pass. A bitmap without pixels gives an
  // empty file.
  std::vector<uint8_t> Bytes;
  if (Format == TPixelFormat::pf24bit && PixelWidth > 0 && PixelHeight > 0) {
    const uint64_t Width = static_cast<uint64_t>(PixelWidth);
    const uint64_t Height = static_cast<uint64_t>(PixelHeight);
    const uint64_t Stored = (Width * 3 + 3) / 4 * 4;  // a row padded to a multiple of 4 bytes
    const uint64_t PixelBytes = Stored * Height;
    const uint64_t Total = PixelOffset + PixelBytes;
    if (Total > UINT32_MAX || Total > SIZE_MAX)
      WriteFailed(Path, "picture too large for a BMP file");

    Bytes.assign(static_cast<size_t>(Total), 0);
    uint8_t* Out = Bytes.data();
    const size_t Size = Bytes.size();
    Out[0] = 'B';
    Out[1] = 'M';
    WriteLE(Out, Size, 2, 4, static_cast<uint32_t>(Total));
    WriteLE(Out, Size, 6, 2, 0);
    WriteLE(Out, Size, 8, 2, 0);
    WriteLE(Out, Size, 10, 4, PixelOffset);
    WriteLE(Out, Size, 14, 4, InfoHeaderSize);
    WriteLE(Out, Size, 18, 4, static_cast<uint32_t>(Width));
    WriteLE(Out, Size, 22, 4, static_cast<uint32_t>(Height));  // positive: rows stored bottom-up
    WriteLE(Out, Size, 26, 2, 1);                                // planes
    WriteLE(Out, Size, 28, 2, 24);                               // bits per pixel
    WriteLE(Out, Size, 30, 4, 0);                                // no compression
    WriteLE(Out, Size, 34, 4, static_cast<uint32_t>(PixelBytes));
    WriteLE(Out, Size, 38, 4, 0);  // horizontal resolution
    WriteLE(Out, Size, 42, 4, 0);  // vertical resolution
    WriteLE(Out, Size, 46, 4, 0);  // colours used
    WriteLE(Out, Size, 50, 4, 0);  // important colours

    // The bottom row comes first; the padding bytes stay 0.
    const size_t Row = RowBytes();
    for (int Y = 0; Y < PixelHeight; ++Y) {
      const size_t Target = PixelOffset + static_cast<size_t>(PixelHeight - 1 - Y) * static_cast<size_t>(Stored);
      std::memcpy(Out + Target, ScanLine(Y), Row);
    }
  }

  // Opening for writing creates the file or empties an existing one.
  std::FILE* File = std::fopen(Path.c_str(), "wb");
  if (File == nullptr)
    WriteFailed(Path, LastErrorText());
  if (!Bytes.empty() && std::fwrite(Bytes.data(), 1, Bytes.size(), File) != Bytes.size()) {
    const std::string Reason = LastErrorText();
    std::fclose(File);
    WriteFailed(Path, Reason);
  }
  if (std::fclose(File) != 0)
    WriteFailed(Path, LastErrorText());
}
