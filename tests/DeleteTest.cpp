// The delete command, run whole: which pages go, and that a failing name writes nothing.
#include "SavedImage.h"

#include <algorithm>
#include <filesystem>

namespace {

// Pages whose data lie out of order in the file, so that a save always changes it.
std::vector<TTestPage> ScatteredPages(int Count) {
  std::vector<TTestPage> Pages;
  uint32_t Offset = 0;
  for (int I = Count - 1; I >= 0; --I) {
    TTestPage Page = DistinctPage(I + 1, static_cast<size_t>(5 + 3 * I));
    Page.DataOffset = Offset;
    Offset += static_cast<uint32_t>(Page.Data.size()) + 2;  // with a gap after each
    Pages.insert(Pages.begin(), Page);
  }
  return Pages;
}

}  // namespace

TEST_F(TScratchDir, DeleteRemovesTheNamedPagesAndSaves) {
  struct TCase {
    const char* What;
    std::vector<std::string> Arguments;  // after "d four.sti"
    std::string NamesFile;               // the contents of names.txt
    std::vector<int> Kept;               // the pages of the source left, in order
  };
  const TCase Cases[] = {
      {"names keep meaning the pages opened under them", {"@names.txt"}, "001.bmp\r\n002.bmp", {0, 3}},
      {"list given in reverse order", {"@names.txt"}, "002.bmp\n001.bmp\n", {0, 3}},
      {"letter case ignored", {"001.BMP"}, "", {0, 2, 3}},
      {"every page", {"@names.txt"}, "003.bmp\n000.bmp\n002.bmp\n001.bmp", {}},
      {"empty name list still saves", {"@names.txt"}, "", {0, 1, 2, 3}},
      {"no name argument still saves", {}, "", {0, 1, 2, 3}},
  };
  const std::vector<TTestPage> Pages = ScatteredPages(4);
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    WriteFileBytes("four.sti", MakeSti8(Pages));
    WriteFileBytes("names.txt", TBytes(Case.NamesFile.begin(), Case.NamesFile.end()));
    std::vector<std::string> Arguments = {"d", "four.sti"};
    Arguments.insert(Arguments.end(), Case.Arguments.begin(), Case.Arguments.end());

    const TRunOutcome R = RunTool(Arguments);
    EXPECT_EQ(R.Status, 0);
    EXPECT_EQ(R.Out, "");
    EXPECT_EQ(R.Err, "");
    const TBytes Saved = ReadFileBytes("four.sti");
    const std::vector<TSavedPage> Back = SavedPages(Saved);
    ASSERT_EQ(Back.size(), Case.Kept.size());
    for (size_t I = 0; I < Back.size(); ++I)
      ExpectSamePage(Back[I], Pages[static_cast<size_t>(Case.Kept[I])], "saved page " + std::to_string(I));
    if (Case.Kept.empty()) {
      EXPECT_EQ(Saved.size(), 832u);
    }
  }
}

TEST_F(TScratchDir, DeleteWritesNothingWhenANameFails) {
  struct TCase {
    const char* What;
    TBytes Image;
    std::string Names;  // the lines of names.txt
    int Status;
  };
  const TBytes Rgb = MakeSti16(3, 2, {0xF800, 0x07E0, 0x001F, 0x1234, 0xFFFF, 0x0001});
  const TCase Cases[] = {
      {"second name matches no page", MakeSti8(ScatteredPages(5)), "001.bmp\n009.bmp", 15},
      {"name given twice", MakeSti8(ScatteredPages(5)), "001.bmp\n001.bmp", 15},
      {"failure stops before later names", MakeSti8(ScatteredPages(5)), "007.bmp\n000.bmp", 15},
      {"page of a 16-bit image", Rgb, "000.bmp", 17},
      {"16-bit image with an empty name list", Rgb, "", 17},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    WriteFileBytes("img.sti", Case.Image);
    WriteFileBytes("names.txt", TBytes(Case.Names.begin(), Case.Names.end()));
    const TRunOutcome R = RunTool({"d", "img.sti", "@names.txt"});
    EXPECT_EQ(R.Status, Case.Status);
    EXPECT_EQ(R.Out, "");
    EXPECT_EQ(R.Err, "");
    EXPECT_EQ(ReadFileBytes("img.sti"), Case.Image);
    std::vector<std::string> Entries;
    for (const auto& Entry : std::filesystem::directory_iterator("."))
      Entries.push_back(Entry.path().filename().string());
    std::sort(Entries.begin(), Entries.end());
    EXPECT_EQ(Entries, (std::vector<std::string>{"img.sti", "names.txt"}));
  }
}

TEST_F(TScratchDir, DeleteExitStatusReachesTheSystem) {
  WriteFileBytes("four.sti", MakeSti8(ScatteredPages(4)));
  EXPECT_EQ(RunBinary("d four.sti 002.bmp"), 0);
  EXPECT_EQ(SavedPages(ReadFileBytes("four.sti")).size(), 3u);
  EXPECT_EQ(RunBinary("D four.sti 003.bmp"), 15);
}
