// Fuzz target: reading a numeric argument.
//
// StrToInt must give the same verdict and value as the short reference below, which is written
// differently on purpose: it checks the shape of the text first and compares digit strings with
// the limits instead of accumulating with overflow tests.
#include "FuzzSupport.h"

#include "platform/Errors.h"
#include "platform/Text.h"

#include <cstring>

namespace {

bool AllOf(const std::string& Digits, const char* Allowed) {
  return !Digits.empty() && Digits.find_first_not_of(Allowed) == std::string::npos;
}

// Digits without leading zeros ("0" for zero).
std::string Significant(const std::string& Digits) {
  const size_t First = Digits.find_first_not_of('0');
  return First == std::string::npos ? "0" : Digits.substr(First);
}

// Whether the digit string A (no leading zeros) is at most the digit string B (no leading zeros).
bool AtMost(const std::string& A, const std::string& B) {
  return A.size() != B.size() ? A.size() < B.size() : A <= B;
}

bool Reference(const std::string& Text, int32_t& Value) {
  const size_t Start = Text.find_first_not_of(' ');
  const std::string Rest = Start == std::string::npos ? std::string() : Text.substr(Start);
  std::string Hex;
  bool IsHex = true;
  if (!Rest.empty() && std::strchr("$xX", Rest[0]) != nullptr)
    Hex = Rest.substr(1);
  else if (Rest.size() >= 2 && Rest[0] == '0' && (Rest[1] == 'x' || Rest[1] == 'X'))
    Hex = Rest.substr(2);
  else
    IsHex = false;

  if (IsHex) {
    if (!AllOf(Hex, "0123456789abcdefABCDEF"))
      return false;
    const std::string Digits = Significant(Hex);
    if (Digits.size() > 8)
      return false;
    Value = static_cast<int32_t>(static_cast<uint32_t>(std::stoul(Digits, nullptr, 16)));
    return true;
  }

  const bool Negative = !Rest.empty() && Rest[0] == '-';
  const std::string Unsigned = !Rest.empty() && (Rest[0] == '-' || Rest[0] == '+') ? Rest.substr(1) : Rest;
  if (!AllOf(Unsigned, "0123456789"))
    return false;
  const std::string Digits = Significant(Unsigned);
  if (!AtMost(Digits, Negative ? "2147483648" : "2147483647"))
    return false;
  const long long Magnitude = std::stoll(Digits);
  Value = static_cast<int32_t>(Negative ? -Magnitude : Magnitude);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // An argument ends at its first NUL, as in the argument vector.
  std::string Text(reinterpret_cast<const char*>(Data), Size);
  Text = Text.substr(0, Text.find('\0'));

  int32_t Want = 0;
  const bool Valid = Reference(Text, Want);
  bool Parsed = false;
  int32_t Got = 0;
  try {
    Got = StrToInt(Text);
    Parsed = true;
  } catch (const EConvertError&) {
  }
  FUZZ_CHECK(Parsed == Valid);
  if (Valid)
    FUZZ_CHECK(Got == Want);
  return 0;
}
