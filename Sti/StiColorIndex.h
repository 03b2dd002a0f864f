// Indexes over the palette for matching whole bitmaps. Each one gives exactly the answers of the
// plain loop in StiPalette.cpp that it stands in for; the plain loops stay there as the reference.
//
// - TExactIndex answers FindExactColor: the lowest of the 256 entries equal to the pixel, else 0.
// - TNearestIndex answers FindNearestColor: the entry at the smallest squared distance, the lowest
//   index of equally near entries (the loop replaces its best only on a strictly smaller distance).
// - TColorSet is the set of colours in use that BuildPalette tests each pixel against.
// - TColorMatcher maps rows of pixels as MatchColor maps single pixels.
//
// The answers depend only on the colour and the palette, so an index built for a palette may be
// used for any number of pixels; it must be built anew when the palette changes.
#pragma once

#include "Sti/StiFormat.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using TPaletteEntries = uint8_t[PaletteEntries][3];

// A colour as one number: red in bits 23-16, green 15-8, blue 7-0. A pixel is blue, green, red;
// a palette entry red, green, blue.
inline uint32_t PixelColor(const uint8_t* Pixel) {
  return static_cast<uint32_t>(Pixel[2]) << 16 | static_cast<uint32_t>(Pixel[1]) << 8 | Pixel[0];
}
inline uint32_t EntryColor(const uint8_t* Entry) {
  return static_cast<uint32_t>(Entry[0]) << 16 | static_cast<uint32_t>(Entry[1]) << 8 | Entry[2];
}

// Slots of the two hash tables below: at most a quarter of them is ever used.
constexpr size_t ColorSlotCount = 1024;

// A set of colours, by open addressing. Sized for at most 256 members, as a palette holds.
class TColorSet {
public:
  bool Contains(uint32_t Color) const;
  // Adds Color; nothing happens when it is a member already.
  void Insert(uint32_t Color);

private:
  // Each slot holds a colour plus 1, or 0 when empty.
  uint32_t Slots[ColorSlotCount] = {};
};

class TExactIndex {
public:
  explicit TExactIndex(const TPaletteEntries& Palette);
  uint8_t Find(const uint8_t* Pixel) const;

private:
  uint32_t Slots[ColorSlotCount] = {};  // colour plus 1, or 0 when empty
  uint8_t Indices[ColorSlotCount] = {};
};

// The colour cube is cut into cells of 8 x 8 x 8 colours, grouped in blocks of 4 x 4 x 4 cells.
// The first pixel that falls into a cell gives the cell its candidates, the entries that can be
// nearest to some colour of the cell, and the answers for all 512 colours of the cell, computed by
// the plain loop over the candidates alone.
//
// Why the candidates suffice: take any set of entries S holding every entry that can be nearest
// somewhere in a box of colours, and let Bound be the smallest of the greatest distances from the
// box to an entry of S. An entry whose least distance to the box is above Bound is strictly
// farther from every colour of the box than the entry giving Bound, so it can neither win nor tie,
// and the entries of S at or below Bound again hold every entry that can be nearest in the box.
// Applied to a block with S all entries, and then to a cell with S the candidates of its block,
// this gives each cell a short list; the plain loop run over that list in index order (start at a
// distance above any, index 0; take an entry only when strictly nearer) ends with the same index as
// over all 256 entries, since every entry left out is strictly farther than the best. An entry
// with the colour of an earlier entry is left out too: it is always exactly as far as that one,
// which the loop meets first, so it never replaces it.
class TNearestIndex {
public:
  explicit TNearestIndex(const TPaletteEntries& Palette);
  uint8_t Find(const uint8_t* Pixel) {
    const uint32_t Red = Pixel[2], Green = Pixel[1], Blue = Pixel[0];
    const uint32_t Cell = (Red >> CellBits) << 10 | (Green >> CellBits) << 5 | (Blue >> CellBits);
    uint32_t First = Cells[Cell];
    if (First == 0)
      First = BuildCell(Cell);
    const uint32_t Mask = CellSide - 1;
    return Answers[First + ((Red & Mask) << (2 * CellBits) | (Green & Mask) << CellBits | (Blue & Mask))];
  }

  static constexpr int CellBits = 3;
  static constexpr int CellSide = 1 << CellBits;                     // 8 levels of each channel
  static constexpr int CellColors = CellSide * CellSide * CellSide;  // 512
  static constexpr int CellCount = 1 << (3 * (8 - CellBits));        // 32768
  static constexpr int BlockBits = 5;
  static constexpr int BlockCount = 1 << (3 * (8 - BlockBits));      // 512

  // The candidates of the cell that holds Color (PixelColor's layout), in index order.
  std::vector<uint8_t> Candidates(uint32_t Color);

private:
  // Keeps the entries of From whose least distance to the box of Side levels from the given
  // corner is at most the smallest greatest distance, in their order.
  void Narrow(int32_t LowRed, int32_t LowGreen, int32_t LowBlue, int32_t Side, const std::vector<uint8_t>& From,
              std::vector<uint8_t>& Out) const;
  const std::vector<uint8_t>& BlockCandidates(uint32_t Cell);
  uint32_t BuildCell(uint32_t Cell);

  int32_t Red[PaletteEntries];
  int32_t Green[PaletteEntries];
  int32_t Blue[PaletteEntries];
  std::vector<uint8_t> Distinct;  // the entries whose colour no earlier entry has
  std::vector<std::vector<uint8_t>> Blocks;  // candidates of each block once asked for
  std::vector<bool> BlockBuilt;
  // Per cell: 0 until built, then the place of its 512 answers in Answers (red major, blue minor).
  std::vector<uint32_t> Cells;
  std::vector<uint8_t> Answers;
  std::vector<uint8_t> Scratch;
};

// MatchColor over whole rows: exact matching, or nearest matching when Adapt is set. A pixel
// equal to the one before it takes the answer given to that one.
class TColorMatcher {
public:
  TColorMatcher(const TPaletteEntries& Palette, bool Adapt);
  void MapRow(const uint8_t* Pixels, size_t Width, uint8_t* Indices);

private:
  bool Adapt;
  TExactIndex Exact;
  std::vector<TNearestIndex> Nearest;  // one when Adapt is set
};
