#include "platform/StringList.h"

#include "platform/Files.h"

int TStringList::Add(const std::string& Text, void* Object) {
  Entries.push_back(TEntry{Text, Object});
  return Count() - 1;
}

void TStringList::Delete(int Index) {
  Entries.erase(Entries.begin() + static_cast<std::ptrdiff_t>(Index));
}

void TStringList::LoadFromFile(const std::string& Path) {
  SetText(ReadTextFile(Path));
}

void TStringList::SetText(const std::string& Text) {
  Entries.clear();
  for (std::string& Line : SplitLines(Text))
    Entries.push_back(TEntry{std::move(Line), nullptr});
}

std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> Lines;
  const size_t End = Text.find('\0') == std::string::npos ? Text.size() : Text.find('\0');
  size_t Start = 0;
  size_t At = 0;
  while (At < End) {
    const char C = Text[At];
    if (C != '\r' && C != '\n') {
      ++At;
      continue;
    }
    Lines.push_back(Text.substr(Start, At - Start));
    ++At;
    if (C == '\r' && At < End && Text[At] == '\n')
      ++At;
    Start = At;
  }
  if (Start < End)
    Lines.push_back(Text.substr(Start, End - Start));
  return Lines;
}
