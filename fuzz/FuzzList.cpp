// Fuzz target: cutting an @list file into names.
//
// No name holds CR, LF or NUL; the names, each followed by the line end that ended it (CR LF, CR or
// LF; none after the last name only at the end of the text), give back the text up to its first
// NUL; every name begins before that end, so a line end at the very end adds no name. The list
// loaded from a file holds the same names.
#include "FuzzSupport.h"

#include "platform/StringList.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const std::string Prefix = Text.substr(0, Text.find('\0'));
  const std::vector<std::string> Names = SplitLines(Text);

  size_t At = 0;
  for (size_t I = 0; I < Names.size(); ++I) {
    const std::string& Name = Names[I];
    FUZZ_CHECK(Name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    FUZZ_CHECK(At < Prefix.size());
    FUZZ_CHECK(Prefix.compare(At, Name.size(), Name) == 0);
    At += Name.size();
    if (At == Prefix.size()) {
      FUZZ_CHECK(I + 1 == Names.size());
      break;
    }
    FUZZ_CHECK(Prefix[At] == '\r' || Prefix[At] == '\n');
    At += Prefix.compare(At, 2, "\r\n") == 0 ? 2 : 1;
  }
  FUZZ_CHECK(At == Prefix.size());

  // The same names through the list object, from memory and from a file.
  TStringList List;
  List.SetText(Text);
  FUZZ_CHECK(List.Count() == static_cast<int>(Names.size()));
  for (int I = 0; I < List.Count(); ++I)
    FUZZ_CHECK(List.Strings(I) == Names[static_cast<size_t>(I)] && List.Objects(I) == nullptr);
  const std::string Path = Fuzz::ScratchPath("names.txt");
  Fuzz::WriteFile(Path, Data, Size);
  TStringList Loaded;
  Loaded.Add("stale");
  Loaded.LoadFromFile(Path);
  FUZZ_CHECK(Loaded.Count() == static_cast<int>(Names.size()));
  for (int I = 0; I < Loaded.Count(); ++I)
    FUZZ_CHECK(Loaded.Strings(I) == Names[static_cast<size_t>(I)]);
  return 0;
}
