#include "TestSupport.h"

TEST_F(TScratchDir, SmokeListOfEmptyImage) {
  WriteFileBytes("e.sti", MakeSti8({}));
  const TRunOutcome R = RunTool({"l", "e.sti"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("Name"), std::string::npos);
}
