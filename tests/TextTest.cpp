#include "platform/Errors.h"
#include "platform/StringList.h"
#include "platform/Text.h"
#include "Sti/StiFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(StrToInt, AcceptedForms) {
  const struct {
    const char* Text;
    int32_t Value;
  } Cases[] = {
      {"12", 12},          {" 12", 12},       {"   -5", -5},        {"+7", 7},
      {"-0", 0},           {"007", 7},        {"$1F", 31},         {"x1f", 31},
      {"X1F", 31},         {"0x1f", 31},      {"0X1f", 31},        {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
      {"$00000000000001", 1}, {"000000000000000000042", 42}, {"0", 0},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(StrToInt(Case.Text), Case.Value) << Case.Text;
}

TEST(StrToInt, RejectedForms) {
  const char* Cases[] = {"2147483648", "-2147483649", "1.5", "-$10", "+$10", "0x", "$", "x", "-", "+",
                         "12 ", "", "\t12", "12a", "$1G", "$100000000", "0x-1", " ", "1 2", "--1"};
  for (const char* Case : Cases)
    EXPECT_THROW(StrToInt(Case), EConvertError) << "'" << Case << "'";
}

TEST(SplitLines, LineEndRules) {
  using TLines = std::vector<std::string>;
  const struct {
    std::string Text;
    TLines Lines;
  } Cases[] = {
      {"a\r\nb", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\n", {"a"}},
      {"a\r", {"a"}},
      {"a\n\r", {"a", ""}},
      {std::string("a\0b", 3), {"a"}},
      {std::string("\0a", 2), {}},
      {" a ", {" a "}},
      {"\ta\t\r\n", {"\ta\t"}},
      {"", {}},
      {"\n", {""}},
      {"\r\n\r\n", {"", ""}},
      {"x\ry\nz", {"x", "y", "z"}},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(SplitLines(Case.Text), Case.Lines) << "text of " << Case.Text.size() << " bytes";
}

TEST(StringList, KeepsOrderDuplicatesAndObjects) {
  TStringList List;
  int Object = 5;
  EXPECT_EQ(List.Add("b"), 0);
  EXPECT_EQ(List.Add("a", &Object), 1);
  EXPECT_EQ(List.Add("b"), 2);
  List.SetObject(0, &Object);
  EXPECT_EQ(List.Objects(0), &Object);
  List.Delete(0);
  ASSERT_EQ(List.Count(), 2);
  EXPECT_EQ(List.Strings(0), "a");
  EXPECT_EQ(List.Objects(0), &Object);
  EXPECT_EQ(List.Strings(1), "b");
  EXPECT_EQ(List.Objects(1), nullptr);
}

TEST(StringList, MissingFileRaises) {
  TStringList List;
  EXPECT_THROW(List.LoadFromFile("no such directory/no such file.txt"), EFileError);
  EXPECT_THROW(List.LoadFromFile(""), EFileError);
}

TEST(ExtractFileName, SeparatorsAreBackslashAndColon) {
  const struct {
    const char* Path;
    const char* Name;
  } Cases[] = {
      {"art\\003.bmp", "003.bmp"}, {"D:003.bmp", "003.bmp"}, {"art/003.bmp", "art/003.bmp"},
      {"C:\\a\\b\\x.bmp", "x.bmp"}, {"x.bmp", "x.bmp"},        {"dir\\", ""},
      {"", ""},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(ExtractFileName(Case.Path), Case.Name) << Case.Path;
}

TEST(SameName, IgnoresLetterCase) {
  EXPECT_TRUE(SameName("005.bmp", "005.BMP"));
  EXPECT_TRUE(SameName("Abc", "aBC"));
  EXPECT_TRUE(SameName("", ""));
  EXPECT_FALSE(SameName("005.bmp", "005.bmp "));
  EXPECT_FALSE(SameName("005.bmp", "05.bmp"));
  EXPECT_FALSE(SameName("005.bmp", ""));
  EXPECT_FALSE(SameName("sub\\000.bmp", "000.bmp"));
  EXPECT_FALSE(SameName("[", "{"));  // not letters: no folding across 0x20
}

TEST(PageName, ThreeDigitsThenPlain) {
  EXPECT_EQ(PageName(0), "000.bmp");
  EXPECT_EQ(PageName(9), "009.bmp");
  EXPECT_EQ(PageName(10), "010.bmp");
  EXPECT_EQ(PageName(99), "099.bmp");
  EXPECT_EQ(PageName(100), "100.bmp");
  EXPECT_EQ(PageName(1000), "1000.bmp");
  EXPECT_EQ(PageName(32766), "32766.bmp");
}
