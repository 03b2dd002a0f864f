// An ordered, unsorted list of texts that allows equal texts and carries one object pointer per
// entry. The list never owns or frees the objects.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class TStringList {
public:
  // Appends an entry and returns its position.
  int Add(const std::string& Text, void* Object = nullptr);
  int Count() const { return static_cast<int>(Entries.size()); }
  const std::string& Strings(int Index) const { return Entries.at(static_cast<size_t>(Index)).Text; }
  void* Objects(int Index) const { return Entries.at(static_cast<size_t>(Index)).Object; }
  void SetObject(int Index, void* Object) { Entries.at(static_cast<size_t>(Index)).Object = Object; }
  // Removes the entry at Index; the entries behind it move up one place.
  void Delete(int Index);
  // Removes every entry; the objects are left alone.
  void Clear() { Entries.clear(); }
  // Replaces the contents with the lines of a text file (see SplitLines). Raises EFileError.
  void LoadFromFile(const std::string& Path);
  // Replaces the contents with the lines of Text (see SplitLines).
  void SetText(const std::string& Text);

private:
  struct TEntry {
    std::string Text;
    void* Object;
  };
  std::vector<TEntry> Entries;
};

// Cuts a text into lines: a line ends at CR, at LF, or at the pair CR LF (LF CR is two line ends).
// The text after the last line end is a line too; a line end at the very end adds none. Nothing is
// trimmed. A byte 0 ends the text. An empty text gives no lines.
std::vector<std::string> SplitLines(const std::string& Text);
