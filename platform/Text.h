// Text functions of the platform layer: numbers, page names and paths.
#pragma once

#include <cstdint>
#include <string>

// Parses a signed 32-bit number. Accepted: leading blanks (character 32 only), then either a
// decimal number (optional + or -, one or more digits, within the signed 32-bit range) or a
// hexadecimal number ($, x, X, 0x or 0X, then one or more hex digits, at most 0xFFFFFFFF, taken as
// two's complement). Nothing may follow the digits. Raises EConvertError on anything else.
int32_t StrToInt(const std::string& Text);

// Decimal text of a number.
std::string IntToStr(long long Value);

// The file-name part of a path: the text after the last backslash or colon, or the whole path.
// A forward slash is not a separator.
std::string ExtractFileName(const std::string& Path);

// True when two page names compare equal ignoring letter case: through the system's comparison
// under the user's default locale on Windows, by folding ASCII letters elsewhere.
bool SameName(const std::string& A, const std::string& B);

// A key for looking page names up by hashing: where it returns true, SameName(A, B) holds exactly
// when the keys of A and B are equal (ASCII letters folded to lower case). Where the comparison is
// the system's locale-aware one, whose equal texts no simple key can capture, it returns false and
// names must be compared one by one with SameName.
bool NameKey(const std::string& Name, std::string& Key);
