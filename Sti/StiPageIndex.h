// An index from page names to their positions in the page table, so that FindPage need not
// compare the name with every entry. It gives exactly FindPage's answer: the first entry in table
// order whose name compares equal with SameName.
//
// Each entry the index has seen gets a slot, in table order; the entries are only ever appended
// at the end or removed, so the live slots in slot order are the table in table order, and an
// entry's position is the number of live slots before its slot (a Fenwick tree counts them). For
// each name key the live slots with that key are chained in slot order; the head of the chain is
// the first entry with the name. Where the platform has no key for names (NameKey), every lookup
// compares the names one by one.
#pragma once

#include "platform/StringList.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class TPageIndex {
public:
  // The position of the first entry of List whose text is the same name as Name, or -1. The index
  // brings itself up to date first: entries appended since the last call are added, and after any
  // other change of List it is built anew.
  int Find(const TStringList& List, const std::string& Name);
  // Called right after List.Delete(Position), when List has not changed otherwise since the last
  // Find: removes the entry from the index instead of building it anew.
  void Deleted(const TStringList& List, int Position);

private:
  struct TChain {
    int Head;  // first live slot with the key
    int Tail;  // last live slot with the key
  };
  using TChains = std::unordered_map<std::string, TChain>;

  void Update(const TStringList& List);
  void Append(const std::string& Text);
  int LiveBefore(int Slot) const;
  int SlotAt(int Position) const;

  bool Built = false;
  uint64_t Stamp = 0;  // of the list when the index was last in step with it
  int Live = 0;        // entries in the index; the list's count when in step
  TChains Chains;      // name key -> its live slots
  std::vector<TChains::value_type*> KeyOf;  // per slot: its key's chain (map nodes do not move)
  std::vector<int> NextSame;  // per slot: the next live slot with the same key, or -1
  std::vector<int> Tree;      // Fenwick tree over the slots, 1 for a live slot; node i at Tree[i - 1]
  std::string Key;            // scratch for Append
};
