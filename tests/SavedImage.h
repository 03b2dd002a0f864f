// Reading back an 8-bit image in the layout that saving writes, for the tests of saving and of
// the commands that save.
#pragma once

#include "TestSupport.h"

#include <cstring>

// One page as found in a saved file.
struct TSavedPage {
  uint32_t DataOffset = 0;
  int16_t OffsetX = 0;
  int16_t OffsetY = 0;
  int16_t Height = 0;
  int16_t Width = 0;
  TBytes Data;
};

// The pages of a saved 8-bit image. Adds a test failure unless the file is laid out as saving
// lays it out: the entries after the palette, the pages' data back to back in table order from
// DataOffset 0, StoredSize their total, and nothing after the last page's data.
inline std::vector<TSavedPage> SavedPages(const TBytes& File) {
  std::vector<TSavedPage> Pages;
  if (File.size() < 832) {
    ADD_FAILURE() << "saved file of " << File.size() << " bytes is shorter than header and palette";
    return Pages;
  }
  const int16_t Count = static_cast<int16_t>(GetLE(File, 28, 2));
  const size_t DataArea = 832 + 16 * static_cast<size_t>(Count < 0 ? 0 : Count);
  uint32_t Running = 0;
  for (int I = 0; I < Count; ++I) {
    const size_t Entry = 832 + 16 * static_cast<size_t>(I);
    TSavedPage Page;
    Page.DataOffset = GetLE(File, Entry, 4);
    const uint32_t Length = GetLE(File, Entry + 4, 4);
    Page.OffsetX = static_cast<int16_t>(GetLE(File, Entry + 8, 2));
    Page.OffsetY = static_cast<int16_t>(GetLE(File, Entry + 10, 2));
    Page.Height = static_cast<int16_t>(GetLE(File, Entry + 12, 2));
    Page.Width = static_cast<int16_t>(GetLE(File, Entry + 14, 2));
    EXPECT_EQ(Page.DataOffset, Running) << "page " << I << " is not back to back with the one before";
    const size_t Start = DataArea + Page.DataOffset;
    if (Start > File.size() || Length > File.size() - Start) {
      ADD_FAILURE() << "data of page " << I << " lies beyond the end of the file";
      return Pages;
    }
    Page.Data.assign(File.begin() + static_cast<std::ptrdiff_t>(Start),
                     File.begin() + static_cast<std::ptrdiff_t>(Start + Length));
    Running += Length;
    Pages.push_back(Page);
  }
  EXPECT_EQ(GetLE(File, 8, 4), Running) << "StoredSize";
  EXPECT_EQ(File.size(), DataArea + Running) << "the file does not end with the last page's data";
  return Pages;
}

// Expects a saved page to carry the table fields and data of a page the test wrote.
inline void ExpectSamePage(const TSavedPage& Saved, const TTestPage& Page, const std::string& What) {
  EXPECT_EQ(Saved.OffsetX, Page.OffsetX) << What;
  EXPECT_EQ(Saved.OffsetY, Page.OffsetY) << What;
  EXPECT_EQ(Saved.Height, Page.Height) << What;
  EXPECT_EQ(Saved.Width, Page.Width) << What;
  EXPECT_EQ(Saved.Data, Page.Data) << What;
}

// A page whose fields and data all differ from those of any other page of the same Seed.
inline TTestPage DistinctPage(int Seed, size_t Length) {
  TTestPage Page;
  Page.Width = static_cast<int16_t>(3 + Seed);
  Page.Height = static_cast<int16_t>(7 + 2 * Seed);
  Page.OffsetX = static_cast<int16_t>(-5 - Seed);
  Page.OffsetY = static_cast<int16_t>(11 * Seed + 1);
  for (size_t I = 0; I < Length; ++I)
    Page.Data.push_back(static_cast<uint8_t>(Seed * 37 + static_cast<int>(I) * 3 + 1));
  return Page;
}
