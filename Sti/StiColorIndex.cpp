// Palette indexes for matching whole bitmaps; see StiColorIndex.h for what each one answers.
#include "Sti/StiColorIndex.h"

#include <algorithm>
#include <cstring>

namespace {

// Fibonacci hashing into 1024 slots: the top bits of the product spread neighbouring colours.
static_assert(ColorSlotCount == 1024, "Slot gives 10 bits");
constexpr size_t SlotMask = ColorSlotCount - 1;
size_t Slot(uint32_t Color) {
  return static_cast<size_t>((Color * 2654435769u) >> 22);
}

constexpr int32_t FarAway = 0x1000000;  // the plain loop's starting best distance

}  // namespace

// ---------------------------------------------------------------------------------------------

bool TColorSet::Contains(uint32_t Color) const {
  for (size_t I = Slot(Color);; I = (I + 1) & SlotMask) {
    if (Slots[I] == 0)
      return false;
    if (Slots[I] == Color + 1)
      return true;
  }
}

void TColorSet::Insert(uint32_t Color) {
  for (size_t I = Slot(Color);; I = (I + 1) & SlotMask) {
    if (Slots[I] == Color + 1)
      return;
    if (Slots[I] == 0) {
      Slots[I] = Color + 1;
      return;
    }
  }
}

// ---------------------------------------------------------------------------------------------

TExactIndex::TExactIndex(const TPaletteEntries& Palette) {
  // Entries go in in index order and an equal colour already present is kept, so each colour
  // keeps its lowest index, as the loop from entry 0 upwards finds it.
  for (size_t Entry = 0; Entry < PaletteEntries; ++Entry) {
    const uint32_t Color = EntryColor(Palette[Entry]);
    for (size_t I = Slot(Color);; I = (I + 1) & SlotMask) {
      if (Slots[I] == Color + 1)
        break;
      if (Slots[I] == 0) {
        Slots[I] = Color + 1;
        Indices[I] = static_cast<uint8_t>(Entry);
        break;
      }
    }
  }
}

uint8_t TExactIndex::Find(const uint8_t* Pixel) const {
  const uint32_t Color = PixelColor(Pixel);
  for (size_t I = Slot(Color);; I = (I + 1) & SlotMask) {
    if (Slots[I] == Color + 1)
      return Indices[I];
    if (Slots[I] == 0)
      return 0;  // equal to no entry: transparent
  }
}

// ---------------------------------------------------------------------------------------------

TNearestIndex::TNearestIndex(const TPaletteEntries& Palette)
    : Blocks(BlockCount), BlockBuilt(BlockCount, false), Cells(CellCount, 0) {
  TColorSet Seen;
  for (size_t Entry = 0; Entry < PaletteEntries; ++Entry) {
    Red[Entry] = Palette[Entry][0];
    Green[Entry] = Palette[Entry][1];
    Blue[Entry] = Palette[Entry][2];
    const uint32_t Color = EntryColor(Palette[Entry]);
    if (!Seen.Contains(Color))
      Distinct.push_back(static_cast<uint8_t>(Entry));
    Seen.Insert(Color);
  }
  // Room for the answers of every cell, so that the table is never moved; only the part written
  // is ever touched. The first 512 places stay unused, so that no built cell is 0 in Cells.
  Answers.reserve(static_cast<size_t>(CellCount + 1) * CellColors);
  Answers.resize(CellColors);
}

void TNearestIndex::Narrow(int32_t LowRed, int32_t LowGreen, int32_t LowBlue, int32_t Side,
                           const std::vector<uint8_t>& From, std::vector<uint8_t>& Out) const {
  // Least and greatest distance along one channel between a value and the levels Low to High.
  const auto Least = [](int32_t Value, int32_t Low, int32_t High) {
    const int32_t D = Value < Low ? Low - Value : Value > High ? Value - High : 0;
    return D * D;
  };
  const auto Greatest = [](int32_t Value, int32_t Low, int32_t High) {
    const int32_t D = std::max(Value - Low, High - Value);
    return D * D;
  };
  const int32_t HighRed = LowRed + Side - 1, HighGreen = LowGreen + Side - 1, HighBlue = LowBlue + Side - 1;
  int32_t Bound = FarAway;
  for (const uint8_t E : From)
    Bound = std::min(Bound, Greatest(Red[E], LowRed, HighRed) + Greatest(Green[E], LowGreen, HighGreen) +
                                Greatest(Blue[E], LowBlue, HighBlue));
  Out.clear();
  for (const uint8_t E : From)
    if (Least(Red[E], LowRed, HighRed) + Least(Green[E], LowGreen, HighGreen) + Least(Blue[E], LowBlue, HighBlue) <=
        Bound)
      Out.push_back(E);
}

const std::vector<uint8_t>& TNearestIndex::BlockCandidates(uint32_t Cell) {
  // A block is 4 cells along each channel: the top 3 bits of each channel's 5 cell bits.
  const uint32_t Block = (Cell >> 12) << 6 | ((Cell >> 7) & 7) << 3 | ((Cell >> 2) & 7);
  if (!BlockBuilt[Block]) {
    constexpr int32_t Side = 1 << BlockBits;
    Narrow(static_cast<int32_t>(Block >> 6) * Side, static_cast<int32_t>((Block >> 3) & 7) * Side,
           static_cast<int32_t>(Block & 7) * Side, Side, Distinct, Blocks[Block]);
    BlockBuilt[Block] = true;
  }
  return Blocks[Block];
}

std::vector<uint8_t> TNearestIndex::Candidates(uint32_t Color) {
  const uint32_t Cell = ((Color >> 19) & 31) << 10 | ((Color >> 11) & 31) << 5 | ((Color >> 3) & 31);
  std::vector<uint8_t> Out;
  Narrow(static_cast<int32_t>(Cell >> 10) * CellSide, static_cast<int32_t>((Cell >> 5) & 31) * CellSide,
         static_cast<int32_t>(Cell & 31) * CellSide, CellSide, BlockCandidates(Cell), Out);
  return Out;
}

uint32_t TNearestIndex::BuildCell(uint32_t Cell) {
  const int32_t LowRed = static_cast<int32_t>(Cell >> 10) * CellSide;
  const int32_t LowGreen = static_cast<int32_t>((Cell >> 5) & 31) * CellSide;
  const int32_t LowBlue = static_cast<int32_t>(Cell & 31) * CellSide;
  Narrow(LowRed, LowGreen, LowBlue, CellSide, BlockCandidates(Cell), Scratch);
  const size_t First = Answers.size();
  Answers.resize(First + CellColors);
  Cells[Cell] = static_cast<uint32_t>(First);
  uint8_t* Answer = Answers.data() + First;
  // Distinct is never empty, so neither is any list narrowed from it.
  if (Scratch.size() == 1) {
    std::fill(Answer, Answer + CellColors, Scratch[0]);
    return static_cast<uint32_t>(First);
  }

  // The plain loop for the 512 colours at once, over the candidates in index order. A distance
  // is the sum of three squares, one per channel, each taking one of 8 values within the cell.
  int32_t Best[CellColors];
  int32_t BestIndex[CellColors];
  std::fill(Best, Best + CellColors, FarAway);
  std::fill(BestIndex, BestIndex + CellColors, 0);
  for (const uint8_t E : Scratch) {
    int32_t SquareRed[CellSide], SquareGreen[CellSide], SquareBlue[CellSide];
    for (int32_t L = 0; L < CellSide; ++L) {
      SquareRed[L] = (LowRed + L - Red[E]) * (LowRed + L - Red[E]);
      SquareGreen[L] = (LowGreen + L - Green[E]) * (LowGreen + L - Green[E]);
      SquareBlue[L] = (LowBlue + L - Blue[E]) * (LowBlue + L - Blue[E]);
    }
    const int32_t Index = E;
    for (int32_t R = 0; R < CellSide; ++R)
      for (int32_t G = 0; G < CellSide; ++G) {
        const int32_t Base = SquareRed[R] + SquareGreen[G];
        int32_t* BestRow = Best + (R * CellSide + G) * CellSide;
        int32_t* IndexRow = BestIndex + (R * CellSide + G) * CellSide;
        for (int32_t B = 0; B < CellSide; ++B) {
          const int32_t Distance = Base + SquareBlue[B];
          const bool Nearer = Distance < BestRow[B];
          BestRow[B] = Nearer ? Distance : BestRow[B];
          IndexRow[B] = Nearer ? Index : IndexRow[B];
        }
      }
  }
  for (int32_t K = 0; K < CellColors; ++K)
    Answer[K] = static_cast<uint8_t>(BestIndex[K]);
  return static_cast<uint32_t>(First);
}

// ---------------------------------------------------------------------------------------------

TColorMatcher::TColorMatcher(const TPaletteEntries& Palette, bool Adapt) : Adapt(Adapt), Exact(Palette) {
  if (Adapt)
    Nearest.emplace_back(Palette);
}

void TColorMatcher::MapRow(const uint8_t* Pixels, size_t Width, uint8_t* Indices) {
  if (Width == 0)
    return;
  TNearestIndex* Near = Adapt ? &Nearest.front() : nullptr;
  uint8_t Last = Near ? Near->Find(Pixels) : Exact.Find(Pixels);
  Indices[0] = Last;
  for (size_t X = 1; X < Width; ++X) {
    const uint8_t* Pixel = Pixels + 3 * X;
    if (std::memcmp(Pixel, Pixel - 3, 3) != 0)
      Last = Near ? Near->Find(Pixel) : Exact.Find(Pixel);
    Indices[X] = Last;
  }
}
