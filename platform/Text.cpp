#include "platform/Text.h"

#include "platform/Errors.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int HexDigit(char C) {
  if (C >= '0' && C <= '9')
    return C - '0';
  if (C >= 'a' && C <= 'f')
    return C - 'a' + 10;
  if (C >= 'A' && C <= 'F')
    return C - 'A' + 10;
  return -1;
}

[[noreturn]] void NotANumber(const std::string& Text) {
  throw EConvertError("'" + Text + "' is not a valid integer value");
}

}  // namespace

int32_t StrToInt(const std::string& Text) {
  size_t At = 0;
  while (At < Text.size() && Text[At] == ' ')
    ++At;

  size_t HexStart = std::string::npos;
  if (At < Text.size() && (Text[At] == '$' || Text[At] == 'x' || Text[At] == 'X'))
    HexStart = At + 1;
  else if (At + 1 < Text.size() && Text[At] == '0' && (Text[At + 1] == 'x' || Text[At + 1] == 'X'))
    HexStart = At + 2;

  if (HexStart != std::string::npos) {
    if (HexStart >= Text.size())
      NotANumber(Text);
    uint64_t Value = 0;
    for (size_t I = HexStart; I < Text.size(); ++I) {
      const int Digit = HexDigit(Text[I]);
      if (Digit < 0)
        NotANumber(Text);
      Value = Value * 16 + static_cast<uint64_t>(Digit);
      if (Value > 0xFFFFFFFFu)
        NotANumber(Text);
    }
    return static_cast<int32_t>(static_cast<uint32_t>(Value));
  }

  bool Negative = false;
  if (At < Text.size() && (Text[At] == '+' || Text[At] == '-')) {
    Negative = Text[At] == '-';
    ++At;
  }
  if (At >= Text.size())
    NotANumber(Text);
  const uint64_t Limit = Negative ? 2147483648u : 2147483647u;
  uint64_t Value = 0;
  for (size_t I = At; I < Text.size(); ++I) {
    if (Text[I] < '0' || Text[I] > '9')
      NotANumber(Text);
    Value = Value * 10 + static_cast<uint64_t>(Text[I] - '0');
    if (Value > Limit)
      NotANumber(Text);
  }
  return Negative ? static_cast<int32_t>(-static_cast<int64_t>(Value)) : static_cast<int32_t>(Value);
}

std::string IntToStr(long long Value) {
  return std::to_string(Value);
}

std::string ExtractFileName(const std::string& Path) {
  const size_t Last = Path.find_last_of("\\:");
  return Last == std::string::npos ? Path : Path.substr(Last + 1);
}

bool SameName(const std::string& A, const std::string& B) {
#ifdef _WIN32
  // The lengths are passed explicitly, so both texts are compared whole, embedded bytes included.
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A.data(), static_cast<int>(A.size()),
                        B.data(), static_cast<int>(B.size())) == CSTR_EQUAL;
#else
  if (A.size() != B.size())
    return false;
  for (size_t I = 0; I < A.size(); ++I) {
    char X = A[I];
    char Y = B[I];
    if (X >= 'A' && X <= 'Z')
      X = static_cast<char>(X - 'A' + 'a');
    if (Y >= 'A' && Y <= 'Z')
      Y = static_cast<char>(Y - 'A' + 'a');
    if (X != Y)
      return false;
  }
  return true;
#endif
}

bool NameKey(const std::string& Name, std::string& Key) {
#ifdef _WIN32
  (void)Name;
  (void)Key;
  return false;
#else
  Key = Name;
  for (char& C : Key)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return true;
#endif
}
