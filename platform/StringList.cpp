#include "platform/StringList.h"

#include "platform/Files.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace {

std::atomic<uint64_t> LastStamp{0};

}  // namespace

TStringList::TStringList() : EditStamp(++LastStamp) {}

TStringList::TStringList(const TStringList& Other)
    : Blocks(Other.Blocks), Size(Other.Size), EditStamp(++LastStamp) {}

TStringList& TStringList::operator=(const TStringList& Other) {
  if (this != &Other) {
    Blocks = Other.Blocks;
    Size = Other.Size;
    LastBlock = 0;
    Restamp();
  }
  return *this;
}

void TStringList::Restamp() {
  EditStamp = ++LastStamp;
}

int TStringList::Add(const std::string& Text, void* Object) {
  if (Blocks.empty() || Blocks.back().Entries.size() >= BlockSize) {
    Blocks.push_back(TBlock{Size, {}});
    Blocks.back().Entries.reserve(BlockSize);
  }
  Blocks.back().Entries.push_back(TEntry{Text, Object});
  return Size++;
}

size_t TStringList::BlockOf(int Index) const {
  if (Index < 0 || Index >= Size)
    throw std::out_of_range("string list index " + std::to_string(Index) + " out of range");
  // Walks through the list go block by block, so the last block or the next one usually holds it.
  for (size_t B = LastBlock; B < Blocks.size() && B <= LastBlock + 1; ++B) {
    const TBlock& Block = Blocks[B];
    if (Index >= Block.Start && Index - Block.Start < static_cast<int>(Block.Entries.size()))
      return LastBlock = B;
  }
  // The last block whose start is at or before Index.
  const auto After = std::upper_bound(Blocks.begin(), Blocks.end(), Index,
                                      [](int I, const TBlock& Block) { return I < Block.Start; });
  return LastBlock = static_cast<size_t>(After - Blocks.begin()) - 1;
}

TStringList::TEntry& TStringList::At(int Index) const {
  const size_t B = BlockOf(Index);
  const TBlock& Block = Blocks[B];
  return const_cast<TEntry&>(Block.Entries[static_cast<size_t>(Index - Block.Start)]);
}

void TStringList::Delete(int Index) {
  const size_t B = BlockOf(Index);
  TBlock& Block = Blocks[B];
  Block.Entries.erase(Block.Entries.begin() + (Index - Block.Start));
  for (size_t Later = B + 1; Later < Blocks.size(); ++Later)
    --Blocks[Later].Start;
  if (Block.Entries.empty()) {
    Blocks.erase(Blocks.begin() + static_cast<std::ptrdiff_t>(B));
    LastBlock = 0;
  }
  --Size;
  Restamp();
}

void TStringList::Clear() {
  Blocks.clear();
  Size = 0;
  LastBlock = 0;
  Restamp();
}

void TStringList::LoadFromFile(const std::string& Path) {
  SetText(ReadTextFile(Path));
}

void TStringList::SetText(const std::string& Text) {
  std::vector<std::string> Lines = SplitLines(Text);
  Clear();
  for (std::string& Line : Lines)
    Add(Line);
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
