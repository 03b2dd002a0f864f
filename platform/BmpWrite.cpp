// Writing a bitmap as an uncompressed 24-bit BMP file.
#include "platform/Bitmap.h"

#include "platform/ByteOrder.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <algorithm>
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
  // The headers and the rows go out in pieces of about 1 MiB, assembled in one buffer that is
  // reused, so that a large picture is never held twice in memory. A bitmap without pixels gives
  // an empty file.
  const bool HasPixels = Format == TPixelFormat::pf24bit && PixelWidth > 0 && PixelHeight > 0;
  const uint64_t Width = HasPixels ? static_cast<uint64_t>(PixelWidth) : 0;
  const uint64_t Height = HasPixels ? static_cast<uint64_t>(PixelHeight) : 0;
  const uint64_t Stored = (Width * 3 + 3) / 4 * 4;  // a row padded to a multiple of 4 bytes
  const uint64_t PixelBytes = Stored * Height;
  const uint64_t Total = PixelOffset + PixelBytes;
  if (HasPixels && (Total > UINT32_MAX || Total > SIZE_MAX))
    WriteFailed(Path, "picture too large for a BMP file");

  // Opening for writing creates the file or empties an existing one.
  std::FILE* File = std::fopen(Path.c_str(), "wb");
  if (File == nullptr)
    WriteFailed(Path, LastErrorText());
  // The pieces are large already: each goes to the system as it is, with no copy through a
  // buffer of the stream's own.
  std::setvbuf(File, nullptr, _IONBF, 0);
  auto Put = [&](const std::vector<uint8_t>& Bytes) {
    if (!Bytes.empty() && std::fwrite(Bytes.data(), 1, Bytes.size(), File) != Bytes.size()) {
      const std::string Reason = LastErrorText();
      std::fclose(File);
      WriteFailed(Path, Reason);
    }
  };

  if (HasPixels) {
    constexpr size_t Piece = size_t{1} << 20;
    const size_t Row = RowBytes();
    const size_t StoredRow = static_cast<size_t>(Stored);
    const size_t RowsPerPiece = std::max<size_t>(1, Piece / StoredRow);
    std::vector<uint8_t> Bytes(PixelOffset + std::min<size_t>(RowsPerPiece, static_cast<size_t>(Height)) * StoredRow, 0);
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

    // The bottom row comes first; the padding bytes stay 0. The first piece follows the headers.
    size_t At = PixelOffset;
    for (int Y = PixelHeight - 1; Y >= 0; --Y) {
      if (At + StoredRow > Bytes.size()) {
        Bytes.resize(At);
        Put(Bytes);
        Bytes.assign(std::min<size_t>(RowsPerPiece, static_cast<size_t>(Y) + 1) * StoredRow, 0);
        At = 0;
      }
      std::memcpy(Bytes.data() + At, ScanLine(Y), Row);
      At += StoredRow;
    }
    Bytes.resize(At);
    Put(Bytes);
  }
  if (std::fclose(File) != 0)
    WriteFailed(Path, LastErrorText());
}
