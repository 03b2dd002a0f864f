// The index from page names to table positions; see StiPageIndex.h.
#include "Sti/StiPageIndex.h"

#include "platform/Text.h"

namespace {

int LowBit(int I) {
  return I & -I;
}

// Whether this platform gives names a key at all.
bool NamesHaveKeys() {
  std::string Key;
  return NameKey(std::string(), Key);
}

}  // namespace

int TPageIndex::LiveBefore(int Slot) const {
  int Count = 0;
  for (int I = Slot; I > 0; I -= LowBit(I))
    Count += Tree[static_cast<size_t>(I - 1)];
  return Count;
}

int TPageIndex::SlotAt(int Position) const {
  // The largest count of slots with at most Position live ones among them; the slot right after
  // them is live and has exactly Position live slots before it.
  const int Size = static_cast<int>(Tree.size());
  int Slot = 0;
  int Remaining = Position;
  int Step = 1;
  while (Step * 2 <= Size)
    Step *= 2;
  for (; Step > 0; Step /= 2) {
    const int Next = Slot + Step;
    if (Next <= Size && Tree[static_cast<size_t>(Next - 1)] <= Remaining) {
      Slot = Next;
      Remaining -= Tree[static_cast<size_t>(Next - 1)];
    }
  }
  return Slot;
}

void TPageIndex::Append(const std::string& Text) {
  NameKey(Text, Key);
  const int Slot = static_cast<int>(Tree.size());
  // Node Slot + 1 counts the slots from Slot + 1 - LowBit(Slot + 1) up to Slot, the new one.
  const int Node = Slot + 1;
  Tree.push_back(1 + LiveBefore(Node - 1) - LiveBefore(Node - LowBit(Node)));
  NextSame.push_back(-1);
  auto Found = Chains.find(Key);
  if (Found == Chains.end()) {
    Found = Chains.emplace(Key, TChain{Slot, Slot}).first;
  } else {
    NextSame[static_cast<size_t>(Found->second.Tail)] = Slot;
    Found->second.Tail = Slot;
  }
  KeyOf.push_back(&*Found);
  ++Live;
}

void TPageIndex::Update(const TStringList& List) {
  if (!Built || List.Stamp() != Stamp || List.Count() < Live) {
    Chains.clear();
    KeyOf.clear();
    NextSame.clear();
    Tree.clear();
    Live = 0;
    Built = true;
    Stamp = List.Stamp();
  }
  // Entries appended since the index was last in step.
  while (Live < List.Count())
    Append(List.Strings(Live));
}

int TPageIndex::Find(const TStringList& List, const std::string& Name) {
  std::string Wanted;
  if (NameKey(Name, Wanted)) {
    Update(List);
    const auto Found = Chains.find(Wanted);
    if (Found == Chains.end())
      return -1;
    const int Position = LiveBefore(Found->second.Head);
    if (SameName(List.Strings(Position), Name))
      return Position;
    Built = false;  // cannot happen while the index is in step; the scan below answers then
  }
  // The plain lookup: the first entry in table order whose name compares equal.
  for (int I = 0; I < List.Count(); ++I)
    if (SameName(List.Strings(I), Name))
      return I;
  return -1;
}

void TPageIndex::Deleted(const TStringList& List, int Position) {
  if (!NamesHaveKeys())
    return;
  if (!Built || List.Count() != Live - 1 || Position < 0 || Position >= Live) {
    Built = false;
    return;
  }
  const int Slot = SlotAt(Position);
  for (int I = Slot + 1; I <= static_cast<int>(Tree.size()); I += LowBit(I))
    --Tree[static_cast<size_t>(I - 1)];
  --Live;
  Stamp = List.Stamp();

  // Unchain the slot. DeletePage removes the first entry of a name, so it is usually the head.
  TChains::value_type* Chain = KeyOf[static_cast<size_t>(Slot)];
  KeyOf[static_cast<size_t>(Slot)] = nullptr;
  const int Next = NextSame[static_cast<size_t>(Slot)];
  TChain& Links = Chain->second;
  if (Links.Head == Slot) {
    if (Next < 0)
      Chains.erase(Chains.find(Chain->first));
    else
      Links.Head = Next;
    return;
  }
  int Before = Links.Head;
  while (NextSame[static_cast<size_t>(Before)] != Slot)
    Before = NextSame[static_cast<size_t>(Before)];
  NextSame[static_cast<size_t>(Before)] = Next;
  if (Links.Tail == Slot)
    Links.Tail = Before;
}
