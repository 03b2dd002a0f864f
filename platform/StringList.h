// An ordered, unsorted list of texts that allows equal texts and carries one object pointer per
// entry. The list never owns or frees the objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TStringList {
public:
  TStringList();
  TStringList(const TStringList& Other);
  TStringList& operator=(const TStringList& Other);

  // Appends an entry and returns its position.
  int Add(const std::string& Text, void* Object = nullptr);
  int Count() const { return Size; }
  // The entry at a position. Raises std::out_of_range outside 0 .. Count() - 1.
  const std::string& Strings(int Index) const { return At(Index).Text; }
  void* Objects(int Index) const { return At(Index).Object; }
  void SetObject(int Index, void* Object) { At(Index).Object = Object; }
  // Removes the entry at Index; the entries behind it move up one place.
  void Delete(int Index);
  // Removes every entry; the objects are left alone.
  void Clear();
  // Replaces the contents with the lines of a text file (see SplitLines). Raises EFileError.
  void LoadFromFile(const std::string& Path);
  // Replaces the contents with the lines of Text (see SplitLines).
  void SetText(const std::string& Text);

  // A stamp that changes whenever entries are removed or the texts replaced (Delete, Clear,
  // SetText, LoadFromFile, assignment) and is never the same for two such states; appending
  // entries and setting objects leave it alone. So an index over the texts that recorded the stamp
  // and the count knows, by comparing both, whether the list has only grown since.
  uint64_t Stamp() const { return EditStamp; }

private:
  struct TEntry {
    std::string Text;
    void* Object;
  };
  // The entries lie in blocks of at most BlockSize in list order, so that removing an entry moves
  // only the entries behind it in its block and the starts of the later blocks, not the whole list.
  static constexpr size_t BlockSize = 256;
  struct TBlock {
    int Start;  // position of the block's first entry
    std::vector<TEntry> Entries;
  };

  TEntry& At(int Index) const;
  size_t BlockOf(int Index) const;
  void Restamp();

  std::vector<TBlock> Blocks;
  int Size = 0;
  uint64_t EditStamp;
  mutable size_t LastBlock = 0;  // where the last lookup ended, so that walks through the list are cheap
};

// Cuts a text into lines: a line ends at CR, at LF, or at the pair CR LF (LF CR is two line ends).
// The text after the last line end is a line too; a line end at the very end adds none. Nothing is
// trimmed. A byte 0 ends the text. An empty text gives no lines.
std::vector<std::string> SplitLines(const std::string& Text);
