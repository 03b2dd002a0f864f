// BMP input: which files load as 24-bit pictures, which load as something else, and which the
// platform refuses.
#include "BmpSupport.h"

#include "platform/Errors.h"
#include "platform/Files.h"

#include <filesystem>

namespace {

struct TTakenCase {
  const char* What;
  int Width;
  int Height;
  TBmpLayout Layout;
};

TBmpLayout Layout(uint32_t InfoSize, bool TopDown = false, int64_t RowsOffset = -1) {
  TBmpLayout Result;
  Result.InfoSize = InfoSize;
  Result.TopDown = TopDown;
  Result.RowsOffset = RowsOffset;
  return Result;
}

TBmpLayout Bits(uint16_t Bits, uint32_t Compression = 0, uint32_t InfoSize = 40) {
  TBmpLayout Result;
  Result.Bits = Bits;
  Result.Compression = Compression;
  Result.InfoSize = InfoSize;
  return Result;
}

}  // namespace

TEST_F(TScratchDir, BmpFilesOf24BitsLoadWithTheirPixels) {
  const TTakenCase Cases[] = {
      {"40-byte header, bottom-up, rows padded by 3", 3, 2, Layout(40)},
      {"40-byte header, top-down", 5, 3, Layout(40, true)},
      {"52-byte header, rows without padding", 4, 2, Layout(52)},
      {"56-byte header, one pixel wide", 1, 3, Layout(56)},
      {"64-byte header", 2, 5, Layout(64)},
      {"108-byte header", 2, 2, Layout(108)},
      {"124-byte header, top-down", 6, 4, Layout(124, true)},
      {"12-byte core header", 3, 3, Layout(12)},
      {"rows after a gap that the offset skips", 3, 2, Layout(40, false, 54 + 7)},
      {"124-byte header, rows after a gap", 7, 3, Layout(124, true, 14 + 124 + 30)},
      {"offset inside the headers", 3, 2, Layout(40, false, 20)},
      {"offset 0", 2, 3, Layout(40, false, 0)},
      {"core header, offset inside the headers", 5, 2, Layout(12, false, 14)},
      {"no pixels wide", 0, 3, Layout(40)},
      {"no rows", 4, 0, Layout(40)},
  };
  for (const TTakenCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    const TPicture Picture = PatternPicture(Case.Width, Case.Height);
    WriteBmp("p.bmp", Picture, Case.Layout);
    TBitmap Bitmap;
    Bitmap.LoadFromFile("p.bmp");
    EXPECT_EQ(Bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_FALSE(Bitmap.Oversized());
    EXPECT_EQ(PictureOf(Bitmap), Picture);
  }
}

TEST_F(TScratchDir, BmpFilesOfOtherKindsLoadWithoutPixels) {
  const struct {
    const char* What;
    TBmpLayout Layout;
  } Cases[] = {
      {"1 bit", Bits(1)},
      {"4 bits", Bits(4)},
      {"8 bits", Bits(8)},
      {"16 bits", Bits(16)},
      {"32 bits", Bits(32)},
      {"8 bits, run-length compressed", Bits(8, 1)},
      {"4 bits, run-length compressed", Bits(4, 2)},
      {"24 bits with a compression field", Bits(24, 1)},
      {"24 bits with bit fields", Bits(24, 3)},
      {"8 bits, core header", Bits(8, 0, 12)},
      {"32 bits, 124-byte header", Bits(32, 0, 124)},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.What);
    WriteBmp("p.bmp", PatternPicture(5, 3), Case.Layout);
    TBitmap Bitmap;
    Bitmap.LoadFromFile("p.bmp");
    EXPECT_NE(Bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Bitmap.Width(), 0);
    EXPECT_EQ(Bitmap.Height(), 0);
    EXPECT_FALSE(Bitmap.Oversized());
  }

  WriteFileBytes("empty.bmp", {});
  TBitmap Bitmap;
  Bitmap.LoadFromFile("empty.bmp");
  EXPECT_NE(Bitmap.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(Bitmap.Width(), 0);
  EXPECT_EQ(Bitmap.Height(), 0);
}

TEST_F(TScratchDir, BrokenBmpFilesAreRefusedNamingTheFile) {
  const TBytes Good = MakeBmp(PatternPicture(3, 2));  // 54 bytes of headers, 2 rows of 12 bytes
  auto Changed = [&](size_t At, size_t Width, uint32_t Value) {
    TBytes Bytes = Good;
    PutLE(Bytes, At, Width, Value);
    return Bytes;
  };
  auto Cut = [](TBytes Bytes, size_t Length) {
    Bytes.resize(Length);
    return Bytes;
  };
  TBmpLayout Core = Layout(12);
  const TBytes GoodCore = MakeBmp(PatternPicture(3, 2), Core);
  TBmpLayout Long = Layout(124);
  const TBytes GoodLong = MakeBmp(PatternPicture(3, 2), Long);

  const struct {
    const char* What;
    TBytes Bytes;
  } Cases[] = {
      {"no BM signature", Changed(0, 2, 'B' | 'A' << 8)},
      {"signature the wrong way round", Changed(0, 2, 'M' | 'B' << 8)},
      {"a single byte", Cut(Good, 1)},
      {"file header cut short", Cut(Good, 12)},
      {"information header size cut short", Cut(Good, 16)},
      {"information header cut short", Cut(Good, 40)},
      {"124-byte header cut short", Cut(GoodLong, 14 + 100)},
      {"core header cut short", Cut(GoodCore, 22)},
      {"planes 0", Changed(26, 2, 0)},
      {"planes 2", Changed(26, 2, 2)},
      {"planes 2 in a core header", [&] { TBytes B = GoodCore; PutLE(B, 22, 2, 2); return B; }()},
      {"planes 2 in an 8-bit file", [] { TBytes B = MakeBmp(PatternPicture(3, 2), Bits(8)); PutLE(B, 26, 2, 2); return B; }()},
      {"information header size 0", Changed(14, 4, 0)},
      {"information header size 16", Changed(14, 4, 16)},
      {"information header size 39", Changed(14, 4, 39)},
      {"information header size beyond the file", Changed(14, 4, 0xFFFFFFF0u)},
      {"last row one byte short", Cut(Good, Good.size() - 1)},
      {"no rows at all", Cut(Good, 54)},
      {"rows offset beyond the end of the file", Changed(10, 4, 1000)},
      {"rows offset pushing the rows past the end", Changed(10, 4, 55)},
      {"top-down rows cut short", Cut(MakeBmp(PatternPicture(3, 2), Layout(40, true)), 70)},
      {"negative width", Changed(18, 4, static_cast<uint32_t>(-3))},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.What);
    WriteFileBytes("broken.bmp", Case.Bytes);
    TBitmap Bitmap = BitmapOf(PatternPicture(2, 2));
    try {
      Bitmap.LoadFromFile("broken.bmp");
      ADD_FAILURE() << "loaded as a bitmap of " << Bitmap.Width() << "x" << Bitmap.Height();
    } catch (const EBitmapError& Error) {
      EXPECT_NE(std::string(Error.what()).find("broken.bmp"), std::string::npos) << Error.what();
    }
    // Nothing of the earlier picture is left behind.
    EXPECT_NE(Bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Bitmap.Width(), 0);
    EXPECT_EQ(Bitmap.Height(), 0);
  }
}

TEST_F(TScratchDir, BmpFilesThatCannotBeReadAreRefusedNamingTheFile) {
  std::filesystem::create_directory("folder.bmp");
  WriteBmp("held.bmp", PatternPicture(2, 2));
  // Held open unshared, as the image file is while it is read or written.
  const THandle Held = FileOpenRead("held.bmp");
  ASSERT_NE(Held, InvalidHandle);
  for (const char* Path : {"missing.bmp", "folder.bmp", "held.bmp"}) {
    SCOPED_TRACE(Path);
    TBitmap Bitmap;
    try {
      Bitmap.LoadFromFile(Path);
      ADD_FAILURE() << "loaded";
    } catch (const EFileError& Error) {
      EXPECT_NE(std::string(Error.what()).find(Path), std::string::npos) << Error.what();
    }
  }
  FileClose(Held);
  TBitmap Bitmap;
  Bitmap.LoadFromFile("held.bmp");
  EXPECT_EQ(PictureOf(Bitmap), PatternPicture(2, 2));
}

TEST_F(TScratchDir, BmpPaddingIsNotTakenForPixels) {
  // Widths 1, 2, 3 and 5 leave 1, 2, 3 and 1 bytes of padding; a reader that steps by Width × 3
  // would take them for pixels of the next row.
  for (int Width : {1, 2, 3, 5}) {
    for (bool TopDown : {false, true}) {
      SCOPED_TRACE("width " + std::to_string(Width) + (TopDown ? ", top-down" : ", bottom-up"));
      const TPicture Picture = PatternPicture(Width, 4);
      TBmpLayout Layout;
      Layout.TopDown = TopDown;
      Layout.Padding = 0x99;
      WriteBmp("p.bmp", Picture, Layout);
      TBitmap Bitmap;
      Bitmap.LoadFromFile("p.bmp");
      EXPECT_EQ(PictureOf(Bitmap), Picture);
    }
  }
}

TEST_F(TScratchDir, OversizedBmpFilesAreToldFromTheHeaderAlone) {
  // Only the headers are in these files: the rows that the sizes promise are never looked for.
  const struct {
    const char* What;
    int64_t Width;
    int64_t Height;
    TBmpLayout Layout;
  } Cases[] = {
      {"32768 wide", 32768, 1, Layout(40)},
      {"32768 high", 1, 32768, Layout(40)},
      {"32768 high, top-down", 2, 32768, Layout(40, true)},
      {"40000 square", 40000, 40000, Layout(124)},
      {"widest signed width", 0x7FFFFFFF, 1, Layout(40)},
      {"core header 65535 wide", 65535, 1, Layout(12)},
      {"top-down height -2147483648", 1, 0x80000000LL, Layout(40)},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TBytes Bytes = MakeBmpHeaders(Case.Width, Case.Height, Case.Layout);
    WriteFileBytes("big.bmp", Bytes);
    TBitmap Bitmap;
    Bitmap.LoadFromFile("big.bmp");
    EXPECT_EQ(Bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(Bitmap.Oversized());
    EXPECT_EQ(Bitmap.Width(), 0);
    EXPECT_EQ(Bitmap.Height(), 0);
  }

  // Other bit depths are not 24-bit first of all.
  WriteFileBytes("big8.bmp", MakeBmpHeaders(40000, 1, Bits(8)));
  TBitmap Bitmap;
  Bitmap.LoadFromFile("big8.bmp");
  EXPECT_EQ(Bitmap.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_FALSE(Bitmap.Oversized());

  // The largest side that a page can describe loads; a later file clears the mark again.
  const TPicture Widest = PatternPicture(32767, 1);
  WriteBmp("widest.bmp", Widest);
  Bitmap.LoadFromFile("big.bmp");
  EXPECT_TRUE(Bitmap.Oversized());
  Bitmap.LoadFromFile("widest.bmp");
  EXPECT_FALSE(Bitmap.Oversized());
  EXPECT_EQ(PictureOf(Bitmap), Widest);

  // The limit is the caller's.
  WriteBmp("small.bmp", PatternPicture(5, 4));
  Bitmap.LoadFromFile("small.bmp", 4);
  EXPECT_TRUE(Bitmap.Oversized());
  Bitmap.LoadFromFile("small.bmp", 5);
  EXPECT_FALSE(Bitmap.Oversized());
  EXPECT_EQ(PictureOf(Bitmap), PatternPicture(5, 4));
}
