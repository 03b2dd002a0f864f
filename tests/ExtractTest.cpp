// The extract command and the BMP files it writes.
#include "TestSupport.h"

#include "platform/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

// Five pages: 3 × 2, 4 × 1, 0 wide, 0 high and of negative width.
TBytes FivePages() {
  return MakeSti8({
      {3, 2, 0, 0, {0x03, 0x01, 0x02, 0x03, 0x00, 0x01, 0x04, 0x81, 0x01, 0x05, 0x00}},
      {4, 1, 0, 0, {0x04, 0x06, 0x07, 0x08, 0x09, 0x00}},
      {0, 3, 0, 0, {0x00, 0x00, 0x00}},
      {3, 0, 0, 0, {}},
      {-2, 2, 0, 0, {0x82, 0x00, 0x82, 0x00}},
  });
}

// The bytes blue, green, red of entry P of the distinct palette.
TBytes Bgr(int P) {
  return {static_cast<uint8_t>((P * 7) & 255), static_cast<uint8_t>(255 - P), static_cast<uint8_t>(P)};
}

TBytes Concat(const std::vector<TBytes>& Parts) {
  TBytes All;
  for (const TBytes& Part : Parts)
    All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

// Checks the two headers of a 24-bit BMP file of Width × Height pixels with rows of Stored bytes.
void ExpectHeaders(const TBytes& File, uint32_t Width, uint32_t Height, uint32_t Stored) {
  ASSERT_GE(File.size(), 54u);
  EXPECT_EQ(File[0], 'B');
  EXPECT_EQ(File[1], 'M');
  const struct {
    size_t At, Size;
    uint32_t Value;
  } Fields[] = {
      {2, 4, 54 + Stored * Height}, {6, 2, 0}, {8, 2, 0}, {10, 4, 54}, {14, 4, 40}, {18, 4, Width},
      {22, 4, Height}, {26, 2, 1}, {28, 2, 24}, {30, 4, 0}, {34, 4, Stored * Height}, {38, 4, 0},
      {42, 4, 0}, {46, 4, 0}, {50, 4, 0},
  };
  for (const auto& Field : Fields)
    EXPECT_EQ(GetLE(File, Field.At, Field.Size), Field.Value) << "field at " << Field.At;
}

// The files of the current directory other than the inputs, with their sizes.
std::map<std::string, size_t> Written() {
  std::map<std::string, size_t> Files;
  for (const auto& Entry : std::filesystem::directory_iterator(".")) {
    const std::string Name = Entry.path().filename().string();
    if (Name != "a.sti" && Name != "names.txt")
      Files[Name] = Entry.is_regular_file() ? ReadFileBytes(Name).size() : 0;
  }
  return Files;
}

}  // namespace

TEST_F(TScratchDir, ExtractNameListRules) {
  const struct {
    const char* What;
    std::vector<std::string> Names;  // argument 3 onwards, or nothing
    const char* List;                // contents of names.txt, used when Names is {"@names.txt"}
    int Status;
    std::map<std::string, size_t> Files;
  } Cases[] = {
      {"one name", {"000.bmp"}, "", 0, {{"000.bmp", 78}}},
      {"no argument 3", {}, "", 0, {}},
      {"empty list file", {"@names.txt"}, "", 0, {}},
      {"found, then missing", {"@names.txt"}, "000.bmp\nzzz", 15, {{"000.bmp", 78}}},
      {"missing, then found", {"@names.txt"}, "zzz\r\n001.bmp", 0, {{"001.bmp", 66}}},
      {"letter case kept in the file name", {"000.BMP"}, "", 0, {{"000.BMP", 78}}},
      {"same name twice", {"@names.txt"}, "001.bmp\n001.bmp", 0, {{"001.bmp", 66}}},
      {"empty line is an empty name", {"@names.txt"}, "000.bmp\n\n", 15, {{"000.bmp", 78}}},
      {"directory part", {"sub\\000.bmp"}, "", 15, {}},
      {"only a missing name", {"zzz"}, "", 15, {}},
  };
  WriteFileBytes("a.sti", FivePages());
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.What);
    for (const auto& Entry : Written())
      std::filesystem::remove(Entry.first);
    WriteFileBytes("names.txt", TBytes(Case.List, Case.List + std::strlen(Case.List)));
    std::vector<std::string> Arguments = {"e", "a.sti"};
    Arguments.insert(Arguments.end(), Case.Names.begin(), Case.Names.end());
    const TRunOutcome R = RunTool(Arguments);
    EXPECT_EQ(R.Status, Case.Status);
    EXPECT_EQ(R.Out, "");
    EXPECT_EQ(R.Err, "");
    EXPECT_EQ(Written(), Case.Files);
  }
  EXPECT_EQ(ReadFileBytes("a.sti"), FivePages());
}

TEST_F(TScratchDir, ExtractWritesBottomUpPaddedRows) {
  WriteFileBytes("a.sti", FivePages());
  WriteFileBytes("000.bmp", TBytes(200, 0xEE));  // replaced, not appended to
  const std::string List = "000.bmp\n001.bmp\n002.bmp\n003.bmp\n004.bmp";
  WriteFileBytes("names.txt", TBytes(List.begin(), List.end()));
  const TRunOutcome R = RunTool({"e", "a.sti", "@names.txt"});
  ASSERT_EQ(R.Status, 0);

  const TBytes Pad = {0, 0, 0};
  const TBytes Three = ReadFileBytes("000.bmp");
  ASSERT_EQ(Three.size(), 78u);
  ExpectHeaders(Three, 3, 2, 12);
  // Rows of 9 pixel bytes and 3 of padding; the bottom row comes first.
  const TBytes ThreeRows = Concat({Bgr(4), Bgr(0), Bgr(5), Pad, Bgr(1), Bgr(2), Bgr(3), Pad});
  EXPECT_EQ(TBytes(Three.begin() + 54, Three.end()), ThreeRows);

  const TBytes Four = ReadFileBytes("001.bmp");
  ASSERT_EQ(Four.size(), 66u);
  ExpectHeaders(Four, 4, 1, 12);
  EXPECT_EQ(TBytes(Four.begin() + 54, Four.end()), Concat({Bgr(6), Bgr(7), Bgr(8), Bgr(9)}));

  // Pages without pixels: 0 wide, 0 high, negative width.
  for (const char* Empty : {"002.bmp", "003.bmp", "004.bmp"}) {
    SCOPED_TRACE(Empty);
    EXPECT_TRUE(PathExists(Empty));
    EXPECT_EQ(ReadFileBytes(Empty).size(), 0u);
  }
}

TEST_F(TScratchDir, ExtractOfRgbImage) {
  std::vector<uint16_t> Words(100 * 50, 0);
  Words[0] = 0xF800;        // top left: red
  Words[99] = 0x07E0;       // top right: green
  Words[49 * 100] = 0x001F;  // bottom left: blue
  WriteFileBytes("a.sti", MakeSti16(100, 50, Words));
  const TRunOutcome R = RunTool({"e", "a.sti", "000.BMP"});
  ASSERT_EQ(R.Status, 0);
  const TBytes File = ReadFileBytes("000.BMP");
  ASSERT_EQ(File.size(), 15054u);
  ExpectHeaders(File, 100, 50, 300);
  const size_t Top = 54 + 49 * 300;
  EXPECT_EQ(TBytes(File.begin() + 54, File.begin() + 57), (TBytes{248, 0, 0}));
  EXPECT_EQ(TBytes(File.begin() + Top, File.begin() + Top + 3), (TBytes{0, 0, 248}));
  EXPECT_EQ(TBytes(File.begin() + Top + 297, File.begin() + Top + 300), (TBytes{0, 248, 0}));
}

TEST_F(TScratchDir, ExtractStopsWhenABmpCannotBeCreated) {
  WriteFileBytes("a.sti", FivePages());
  std::filesystem::create_directory("001.bmp");  // cannot be opened as a file, even by root
#ifdef _WIN32
  const std::string After = "004.bmp";  // names that differ only in case are one file here
#else
  const std::string After = "000.BMP";
#endif
  const std::string List = "000.bmp\n001.bmp\n" + After;
  WriteFileBytes("names.txt", TBytes(List.begin(), List.end()));
  const TRunOutcome R = RunTool({"e", "a.sti", "@names.txt"});
  EXPECT_EQ(R.Status, 1);
  EXPECT_EQ(R.Out, "");
  EXPECT_EQ(R.Err.rfind("kelpix: cannot write '001.bmp': ", 0), 0u) << R.Err;
  EXPECT_EQ(std::count(R.Err.begin(), R.Err.end(), '\n'), 1);
  EXPECT_EQ(R.Err.back(), '\n');
  EXPECT_EQ(ReadFileBytes("000.bmp").size(), 78u);  // written before the failure, kept
  EXPECT_FALSE(PathExists(After));                 // after the failure, not processed
}

TEST_F(TScratchDir, BitmapWithoutPixelsWritesAnEmptyFile) {
  const struct {
    TPixelFormat Format;
    int Width, Height;
  } Cases[] = {{TPixelFormat::pf8bit, 3, 2}, {TPixelFormat::pf24bit, 0, 2}, {TPixelFormat::pf24bit, 2, 0}};
  for (const auto& Case : Cases) {
    WriteFileBytes("x.bmp", TBytes(10, 0xEE));
    TBitmap Bitmap;
    Bitmap.SetPixelFormat(Case.Format);
    Bitmap.SetHeight(Case.Height);
    Bitmap.SetWidth(Case.Width);
    Bitmap.SaveToFile("x.bmp");
    EXPECT_TRUE(PathExists("x.bmp"));
    EXPECT_EQ(ReadFileBytes("x.bmp").size(), 0u);
  }
}
