#include "TestSupport.h"

#include <filesystem>

namespace {

const char Usage[] =
    "Usage: kelpix.exe options stifile < file | @list > [ dispX dispY [ R G B ] ]\n"
    "l          view STI file\n"
    "e          extract pages in current dir\n"
    "d          delete pages\n"
    "a[a]       add pages\n"
    "m[a]       refresh pages\n"
    " [a]       adapt palette for added pages\n";

const char Header[] = "Name                                    Size     Width Height DispX DispY\n";
const char Rule[] = "-------------------------------------------------------------------------------\n";

TTestPage Page(int16_t Width, int16_t Height, int16_t X, int16_t Y) {
  TTestPage P;
  P.Width = Width;
  P.Height = Height;
  P.OffsetX = X;
  P.OffsetY = Y;
  return P;
}

}  // namespace

using RunTest = TScratchDir;

TEST_F(RunTest, UsageWithTooFewArguments) {
  WriteFileBytes("x.sti", MakeSti8({}));
  for (const std::vector<std::string>& Arguments : {std::vector<std::string>{}, {"l"}}) {
    const TRunOutcome R = RunTool(Arguments);
    EXPECT_EQ(R.Status, 100);
    const size_t Banner = R.Out.find('\n');
    ASSERT_NE(Banner, std::string::npos);
    EXPECT_GT(Banner, 0u) << "a one-line banner comes first";
    EXPECT_EQ(R.Out.substr(Banner + 1), Usage);
    EXPECT_TRUE(R.Err.empty());
  }
}

TEST_F(RunTest, ListReportColumnsAndSignedFields) {
  WriteFileBytes("p.sti", MakeSti8({Page(10, 5, -3, 7), Page(-1, 1, 0, 0), Page(-20, 1, 32767, -32768),
                                    Page(300, 200, 12345, -1)}));
  const TRunOutcome R = RunTool({"l", "p.sti"});
  EXPECT_EQ(R.Status, 0);
  const std::string Expected = std::string(Header) + Rule +
                               "000.bmp" + std::string(33, ' ') + "204       10    5     -3    7     \n" +
                               "001.bmp" + std::string(33, ' ') + "51        -1    1     0     0     \n" +
                               "002.bmp" + std::string(33, ' ') + "4294967290-20   1     32767 -32768\n" +
                               "003.bmp" + std::string(33, ' ') + "180054    300   200   12345 -1    \n" + Rule;
  EXPECT_EQ(R.Out, Expected);
  EXPECT_EQ(std::string(Header).size(), 74u);
  EXPECT_EQ(std::string(Header).find("Width"), 49u);
  EXPECT_EQ(std::string(Header).find("DispY"), 68u);
}

TEST_F(RunTest, ListOfImageWithoutPagesAndOfSixteenBitImage) {
  WriteFileBytes("empty.sti", MakeSti8({}));
  EXPECT_EQ(RunTool({"L", "empty.sti"}).Out, std::string(Header) + Rule + Rule);

  WriteFileBytes("rgb.sti", MakeSti16(100, 50, std::vector<uint16_t>(5000, 0x1234)));
  const TRunOutcome R = RunTool({"list", "rgb.sti"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_EQ(R.Out, std::string(Header) + Rule + "000.bmp" + std::string(33, ' ') +
                       "15054     100   50    0     0     \n" + Rule);
}

TEST_F(RunTest, CommandLettersAndOpenFailures) {
  WriteFileBytes("ok.sti", MakeSti8({Page(1, 1, 0, 0)}));
  WriteFileBytes("text.sti", {'n', 'o', 't', ' ', 's', 't', 'i'});
  const struct {
    std::vector<std::string> Arguments;
    int Status;
    bool Report;
  } Cases[] = {
      {{"x", "ok.sti"}, 0, false},         {{"-l", "ok.sti"}, 0, false},
      {{"/l", "ok.sti"}, 0, false},        {{"", "ok.sti"}, 0, false},
      {{"x", "missing.sti"}, 14, false},   {{"x", "text.sti"}, 7, false},
      {{"l", "missing.sti"}, 14, false},   {{"l", "text.sti"}, 7, false},
      {{"l", "."}, 14, false},             {{"l", "ok.sti", "x", "5", "6", "7", "8"}, 0, true},
      {{"l", "ok.sti", "x", "abc"}, 100, false},
      {{"l", "ok.sti", "x", "1", "2", "3", "4", "oops"}, 100, false},
      {{"l", "ok.sti", "x", "1", "2", "3", "oops"}, 0, true},  // 6 and 7 without 8 are not parsed
      {{"l", "ok.sti", "x", "1", "oops"}, 100, false},
      {{"l", "missing.sti", "x", "abc"}, 100, false},  // the numbers are read even after a failed open
      {{"l", "ok.sti", "x", "1", "2", "3", "4", "5", "junk", "junk"}, 0, true},
  };
  for (const auto& Case : Cases) {
    const TRunOutcome R = RunTool(Case.Arguments);
    std::string Text;
    for (const std::string& A : Case.Arguments)
      Text += "'" + A + "' ";
    EXPECT_EQ(R.Status, Case.Status) << Text;
    EXPECT_EQ(!R.Out.empty(), Case.Report) << Text;
    EXPECT_TRUE(R.Err.empty()) << Text;
  }
}

TEST_F(RunTest, ListFileIsReadForEveryCommand) {
  WriteFileBytes("ok.sti", MakeSti8({}));
  WriteFileBytes("names.txt", {'0', '0', '0', '.', 'b', 'm', 'p', '\n'});
  EXPECT_EQ(RunTool({"l", "ok.sti", "@names.txt"}).Status, 0);

  // A list file that cannot be read is a failure of the platform: one line on standard error, status 1.
  for (const std::string& Names : {std::string("@missing.txt"), std::string("@")}) {
    for (const char* Options : {"l", "x"}) {
      const TRunOutcome R = RunTool({Options, "ok.sti", Names});
      EXPECT_EQ(R.Status, 1) << Names;
      EXPECT_TRUE(R.Out.empty()) << Names;
      ASSERT_FALSE(R.Err.empty()) << Names;
      EXPECT_EQ(R.Err.find('\n'), R.Err.size() - 1) << "one line: " << R.Err;
      EXPECT_NE(R.Err.find("'" + Names.substr(1) + "'"), std::string::npos) << R.Err;
    }
  }
}

TEST_F(RunTest, BinaryReportsTheExitStatus) {
  WriteFileBytes("ok.sti", MakeSti8({}));
  WriteFileBytes("text.sti", {'t', 'e', 'x', 't'});
  EXPECT_EQ(RunBinary(""), 100);
  EXPECT_EQ(RunBinary("l ok.sti"), 0);
  EXPECT_EQ(RunBinary("l text.sti"), 7);
  EXPECT_EQ(RunBinary("l missing.sti"), 14);
  EXPECT_EQ(RunBinary("l ok.sti @missing.txt"), 1);
  EXPECT_EQ(RunBinary("l ok.sti x 1.5"), 100);
}
