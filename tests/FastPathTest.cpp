// The fast paths held to the plain loops they stand in for: the palette indexes for exact and
// nearest matching and for palette building, the encoder that uses them, the page-name index
// behind FindPage and DeletePage, and the block list under the page table; then whole commands,
// whose output files must be byte for byte those that the plain loops give.
//
// The plain loops are written out here as the reference, step by step as documented, so that a
// change in the code under test cannot change the reference with it.
#include "BmpSupport.h"

#include "Sti/Sti.h"
#include "Sti/StiColorIndex.h"
#include "Sti/StiPageIndex.h"
#include "platform/StringList.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using TPalette = uint8_t[256][3];
using TRandom = std::mt19937;

int Below(TRandom& Random, int Limit) {
  return static_cast<int>(Random() % static_cast<uint32_t>(Limit));
}

// ---------------------------------------------------------------------------------------------
// The reference loops.

// FindExactColor: the first of all 256 entries equal to the pixel (blue, green, red), else 0.
uint8_t PlainExact(const TPalette& Palette, const uint8_t* Pixel) {
  for (int E = 0; E < 256; ++E)
    if (Palette[E][0] == Pixel[2] && Palette[E][1] == Pixel[1] && Palette[E][2] == Pixel[0])
      return static_cast<uint8_t>(E);
  return 0;
}

// FindNearestColor: best distance 16777216 and index 0 to start; over all 256 entries, an entry
// becomes the best only when its squared distance is strictly smaller.
uint8_t PlainNearest(const TPalette& Palette, const uint8_t* Pixel) {
  int Best = 16777216;
  int Index = 0;
  for (int E = 0; E < 256; ++E) {
    const int R = Pixel[2] - Palette[E][0], G = Pixel[1] - Palette[E][1], B = Pixel[0] - Palette[E][2];
    const int D = R * R + G * G + B * B;
    if (D < Best) {
      Best = D;
      Index = E;
    }
  }
  return static_cast<uint8_t>(Index);
}

struct TPlainPalette {
  TPalette Entries{};
  int32_t Count = 0;

  // AddPaletteColor.
  void Add(uint8_t R, uint8_t G, uint8_t B) {
    if (Count < 0 || Count >= 256)
      return;
    Entries[Count][0] = R;
    Entries[Count][1] = G;
    Entries[Count][2] = B;
    ++Count;
  }

  // BuildPalette: start afresh only without pages; test the count before each row; compare each
  // pixel with the entries 0 .. Count - 1, the count read afresh for every pixel.
  void Build(const TPicture& Picture, bool HasPages, int32_t R, int32_t G, int32_t B) {
    if (!HasPages) {
      Count = 0;
      if (R != -1 && G != -1 && B != -1)
        Add(static_cast<uint8_t>(R), static_cast<uint8_t>(G), static_cast<uint8_t>(B));
    }
    for (int Y = 0; Y < Picture.Height && Count < 256; ++Y)
      for (int X = 0; X < Picture.Width; ++X) {
        const uint8_t* P = &Picture.Pixels[(static_cast<size_t>(Y) * Picture.Width + X) * 3];
        bool Known = false;
        for (int E = 0; E < Count && !Known; ++E)
          Known = Entries[E][0] == P[2] && Entries[E][1] == P[1] && Entries[E][2] == P[0];
        if (!Known)
          Add(P[2], P[1], P[0]);
      }
  }
};

// EncodePage step by step: transparent runs while MatchColor gives 0, literal runs otherwise,
// both cut at 127, a kept place for the literal count, one 0 byte at the end of every row.
TBytes PlainEncode(const TPicture& Picture, const TPalette& Palette, bool Adapt) {
  TBytes Out;
  for (int Y = 0; Y < Picture.Height; ++Y) {
    auto Match = [&](int X) {
      const uint8_t* P = &Picture.Pixels[(static_cast<size_t>(Y) * Picture.Width + X) * 3];
      return Adapt ? PlainNearest(Palette, P) : PlainExact(Palette, P);
    };
    int X = 0;
    for (;;) {
      int Count = 0;
      while (X < Picture.Width && Match(X) == 0 && Count < 127) {
        ++X;
        ++Count;
      }
      if (Count > 0) {
        Out.push_back(static_cast<uint8_t>(128 + Count));
        continue;
      }
      const size_t Kept = Out.size();
      Out.push_back(0);
      while (X < Picture.Width && Match(X) != 0 && Count < 127) {
        Out.push_back(Match(X));
        ++X;
        ++Count;
      }
      Out[Kept] = static_cast<uint8_t>(Count);
      if (X >= Picture.Width) {
        if (Count != 0)
          Out.push_back(0);
        break;
      }
    }
  }
  return Out;
}

// FindPage: the first name in table order that SameName finds equal.
int PlainFind(const std::vector<std::string>& Names, const std::string& Name) {
  for (size_t I = 0; I < Names.size(); ++I)
    if (SameName(Names[I], Name))
      return static_cast<int>(I);
  return -1;
}

// ---------------------------------------------------------------------------------------------
// Palettes and pixels that put the fast paths to the test.

enum class TKind { Random, Duplicates, Partial, Lattice, Ties, Uniform, Corners };

void MakePalette(TKind Kind, TRandom& Random, TPalette& Palette) {
  auto Set = [&](int E, int R, int G, int B) {
    Palette[E][0] = static_cast<uint8_t>(R);
    Palette[E][1] = static_cast<uint8_t>(G);
    Palette[E][2] = static_cast<uint8_t>(B);
  };
  for (int E = 0; E < 256; ++E)
    Set(E, Below(Random, 256), Below(Random, 256), Below(Random, 256));
  switch (Kind) {
    case TKind::Random:
      break;
    case TKind::Duplicates:
      // A pool of 12 colours spread over all entries: each colour at several indices.
      for (int E = 0; E < 256; ++E) {
        const int From = Below(Random, 12);
        std::memcpy(Palette[E], Palette[From], 3);
      }
      break;
    case TKind::Partial: {
      // A palette built from a bitmap: some entries in use, the rest black or left from before.
      const int Used = 1 + Below(Random, 60);
      for (int E = Used; E < 256; ++E)
        if (Below(Random, 4) != 0)
          Set(E, 0, 0, 0);
      break;
    }
    case TKind::Lattice: {
      // Levels 40 apart: every colour midway between two levels is at equal distance from both.
      std::vector<int> Order(216);
      for (int I = 0; I < 216; ++I)
        Order[I] = I;
      std::shuffle(Order.begin(), Order.end(), Random);
      for (int I = 0; I < 216; ++I)
        Set(Order[I], 40 * (I / 36), 40 * (I / 6 % 6), 40 * (I % 6));
      break;
    }
    case TKind::Ties:
      // Pairs mirrored about a centre, in either index order, so that the centre is equally near
      // to both and the lower index must win.
      for (int E = 0; E + 1 < 256; E += 2) {
        const int C[3] = {20 + Below(Random, 216), 20 + Below(Random, 216), 20 + Below(Random, 216)};
        const int D[3] = {Below(Random, 21) - 10, Below(Random, 21) - 10, Below(Random, 21) - 10};
        Set(E, C[0] + D[0], C[1] + D[1], C[2] + D[2]);
        Set(E + 1, C[0] - D[0], C[1] - D[1], C[2] - D[2]);
      }
      break;
    case TKind::Uniform:
      for (int E = 0; E < 256; ++E)
        Set(E, 77, 5, 200);
      break;
    case TKind::Corners:
      for (int E = 0; E < 256; ++E)
        Set(E, (E & 1) * 255, (E >> 1 & 1) * 255, (E >> 2 & 1) * 255);
      break;
  }
}

const TKind AllKinds[] = {TKind::Random,  TKind::Duplicates, TKind::Partial, TKind::Lattice,
                          TKind::Ties,    TKind::Uniform,    TKind::Corners};

// Pixels (blue, green, red) that matter for a palette: random colours, colours next to entries,
// colours midway between pairs of entries, whole 8 x 8 x 8 cells, and the corners of the cube.
std::vector<uint8_t> ProbePixels(const TPalette& Palette, TRandom& Random) {
  std::vector<uint8_t> Pixels;
  auto Put = [&](int R, int G, int B) {
    Pixels.push_back(static_cast<uint8_t>(std::clamp(B, 0, 255)));
    Pixels.push_back(static_cast<uint8_t>(std::clamp(G, 0, 255)));
    Pixels.push_back(static_cast<uint8_t>(std::clamp(R, 0, 255)));
  };
  for (int I = 0; I < 20000; ++I)
    Put(Below(Random, 256), Below(Random, 256), Below(Random, 256));
  for (int E = 0; E < 256; ++E)
    for (int I = 0; I < 6; ++I)
      Put(Palette[E][0] + Below(Random, 7) - 3, Palette[E][1] + Below(Random, 7) - 3, Palette[E][2] + Below(Random, 7) - 3);
  for (int I = 0; I < 4256; ++I) {
    const int A = I < 256 ? I : Below(Random, 256), B = I < 256 ? I ^ 1 : Below(Random, 256);
    Put((Palette[A][0] + Palette[B][0]) / 2, (Palette[A][1] + Palette[B][1]) / 2, (Palette[A][2] + Palette[B][2]) / 2);
  }
  for (int Cell = 0; Cell < 6; ++Cell) {
    const int R = Below(Random, 32) * 8, G = Below(Random, 32) * 8, B = Below(Random, 32) * 8;
    for (int K = 0; K < 512; ++K)
      Put(R + K / 64, G + K / 8 % 8, B + K % 8);
  }
  for (int K = 0; K < 8; ++K)
    Put((K & 1) * 255, (K >> 1 & 1) * 255, (K >> 2 & 1) * 255);
  return Pixels;
}

std::string Describe(const uint8_t* Pixel) {
  return "pixel r" + std::to_string(Pixel[2]) + " g" + std::to_string(Pixel[1]) + " b" + std::to_string(Pixel[0]);
}

// A picture of Width x Height whose colours come from a pool of PoolSize colours, in runs.
TPicture RunPicture(TRandom& Random, int Width, int Height, const std::vector<TRgb>& Pool) {
  std::vector<TRgb> Colors;
  TRgb Current = Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))];
  for (int I = 0; I < Width * Height; ++I) {
    if (Below(Random, 3) == 0)
      Current = Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))];
    Colors.push_back(Current);
  }
  TPicture Picture = PictureOfColors(Width, Colors);
  Picture.Height = Height;
  return Picture;
}

std::vector<TRgb> ColorPool(TRandom& Random, int Size, const TPalette* From = nullptr) {
  std::vector<TRgb> Pool;
  for (int I = 0; I < Size; ++I) {
    if (!Pool.empty() && Below(Random, 4) == 0) {
      // A colour that differs from an earlier one in a single channel, by one step.
      TRgb Color = Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))];
      uint8_t& Channel = Below(Random, 3) == 0 ? Color.R : Below(Random, 2) == 0 ? Color.G : Color.B;
      Channel = static_cast<uint8_t>(Channel + 1);
      Pool.push_back(Color);
    } else if (From != nullptr && Below(Random, 2) == 0) {
      const int E = Below(Random, 256);
      Pool.push_back(TRgb{(*From)[E][0], (*From)[E][1], (*From)[E][2]});
    } else {
      Pool.push_back(TRgb{static_cast<uint8_t>(Below(Random, 256)), static_cast<uint8_t>(Below(Random, 256)),
                          static_cast<uint8_t>(Below(Random, 256))});
    }
  }
  return Pool;
}

TBytes PaletteBytes(const TPalette& Palette) {
  return TBytes(&Palette[0][0], &Palette[0][0] + 768);
}

// ---------------------------------------------------------------------------------------------

TEST(FastPath, ExactIndexGivesTheLowestEqualEntryOrZero) {
  TRandom Random(11);
  for (const TKind Kind : AllKinds) {
    TPalette Palette;
    MakePalette(Kind, Random, Palette);
    const TExactIndex Index(Palette);
    const std::vector<uint8_t> Pixels = ProbePixels(Palette, Random);
    int Mismatches = 0;
    for (size_t I = 0; I < Pixels.size(); I += 3)
      if (Index.Find(&Pixels[I]) != PlainExact(Palette, &Pixels[I]) && ++Mismatches <= 3)
        ADD_FAILURE() << "kind " << static_cast<int>(Kind) << ", " << Describe(&Pixels[I]);
    // Every entry's own colour, where duplicates must give the first index.
    for (int E = 0; E < 256; ++E) {
      const uint8_t Pixel[3] = {Palette[E][2], Palette[E][1], Palette[E][0]};
      ASSERT_EQ(Index.Find(Pixel), PlainExact(Palette, Pixel)) << "entry " << E;
    }
    EXPECT_EQ(Mismatches, 0);
  }
}

TEST(FastPath, NearestIndexKeepsTheStrictLessThanRule) {
  TRandom Random(12);
  for (int Round = 0; Round < 3; ++Round)
    for (const TKind Kind : AllKinds) {
      TPalette Palette;
      MakePalette(Kind, Random, Palette);
      TNearestIndex Index(Palette);
      const std::vector<uint8_t> Pixels = ProbePixels(Palette, Random);
      int Mismatches = 0;
      for (size_t I = 0; I < Pixels.size(); I += 3)
        if (Index.Find(&Pixels[I]) != PlainNearest(Palette, &Pixels[I]) && ++Mismatches <= 3)
          ADD_FAILURE() << "kind " << static_cast<int>(Kind) << ", " << Describe(&Pixels[I]) << ": "
                        << int(Index.Find(&Pixels[I])) << " instead of " << int(PlainNearest(Palette, &Pixels[I]));
      EXPECT_EQ(Mismatches, 0) << "kind " << static_cast<int>(Kind);
    }
}

TEST(FastPath, NearestIndexAgreesOnWholePlanesOfAPaletteFullOfTies) {
  // Whole planes of the cube against the lattice palette, on lattice levels, midway between two
  // levels (where ties are) and next to them.
  TRandom Random(13);
  TPalette Palette;
  MakePalette(TKind::Lattice, Random, Palette);
  TNearestIndex Index(Palette);
  int Mismatches = 0;
  for (const int R : {0, 19, 20, 21, 40, 99, 100, 101, 180, 200, 230, 255})
    for (int G = 0; G < 256; ++G)
      for (int B = 0; B < 256; ++B) {
        const uint8_t Pixel[3] = {static_cast<uint8_t>(B), static_cast<uint8_t>(G), static_cast<uint8_t>(R)};
        if (Index.Find(Pixel) != PlainNearest(Palette, Pixel) && ++Mismatches <= 3)
          ADD_FAILURE() << Describe(Pixel);
      }
  EXPECT_EQ(Mismatches, 0);
}

TEST(FastPath, CandidatesHoldEveryEntryNearestInTheCell) {
  // The pruning itself: for every colour of sampled cells, each entry at the least distance is
  // among the cell's candidates, and entries repeating an earlier colour are not.
  TRandom Random(14);
  for (const TKind Kind : AllKinds) {
    TPalette Palette;
    MakePalette(Kind, Random, Palette);
    TNearestIndex Index(Palette);
    for (int Sample = 0; Sample < 40; ++Sample) {
      const int R0 = Below(Random, 32) * 8, G0 = Below(Random, 32) * 8, B0 = Below(Random, 32) * 8;
      const std::vector<uint8_t> Candidates = Index.Candidates(static_cast<uint32_t>(R0 << 16 | G0 << 8 | B0));
      ASSERT_FALSE(Candidates.empty());
      ASSERT_TRUE(std::is_sorted(Candidates.begin(), Candidates.end()));
      for (const uint8_t E : Candidates)
        for (int Earlier = 0; Earlier < E; ++Earlier)
          ASSERT_NE(std::memcmp(Palette[Earlier], Palette[E], 3), 0) << "entry " << int(E) << " repeats " << Earlier;
      for (int K = 0; K < 512; K += 7) {
        const int R = R0 + K / 64, G = G0 + K / 8 % 8, B = B0 + K % 8;
        const uint8_t Pixel[3] = {static_cast<uint8_t>(B), static_cast<uint8_t>(G), static_cast<uint8_t>(R)};
        const uint8_t Best = PlainNearest(Palette, Pixel);
        ASSERT_TRUE(std::binary_search(Candidates.begin(), Candidates.end(), Best))
            << "kind " << static_cast<int>(Kind) << ", " << Describe(Pixel);
      }
    }
  }
}

TEST(FastPath, AnEntryWhoseLeastDistanceEqualsTheBoundStaysACandidate) {
  // Entry 1 at (0, 0, 0) is at most 147 from every colour of the cell from (0, 0, 0) to (7, 7, 7);
  // entry 0 at (14, 14, 14) is 147 from the corner (7, 7, 7) and farther from the rest of the
  // cell. At that corner both are 147 away, so entry 0, the lower index, is the answer there.
  TPalette Palette;
  for (int E = 0; E < 256; ++E)
    std::memset(Palette[E], E == 0 ? 14 : 0, 3);
  TNearestIndex Index(Palette);
  const uint8_t Corner[3] = {7, 7, 7};
  ASSERT_EQ(PlainNearest(Palette, Corner), 0);
  EXPECT_EQ(Index.Find(Corner), 0);
  const uint8_t Inside[3] = {6, 7, 7};
  EXPECT_EQ(Index.Find(Inside), PlainNearest(Palette, Inside));
}

TEST(FastPath, MatcherRowsEqualMatchColorPixelByPixel) {
  TRandom Random(15);
  for (const TKind Kind : AllKinds)
    for (const bool Adapt : {false, true}) {
      TPalette Palette;
      MakePalette(Kind, Random, Palette);
      TSti Image;
      std::memcpy(Image.Palette, Palette, 768);
      Image.AdaptPalette = Adapt;
      TColorMatcher Matcher(Palette, Adapt);
      const TPicture Picture = RunPicture(Random, 301, 4, ColorPool(Random, 40, &Palette));
      std::vector<uint8_t> Indices(301);
      for (int Y = 0; Y < Picture.Height; ++Y) {
        const uint8_t* Row = &Picture.Pixels[static_cast<size_t>(Y) * 301 * 3];
        Matcher.MapRow(Row, 301, Indices.data());
        for (int X = 0; X < 301; ++X) {
          const uint8_t Plain = Adapt ? PlainNearest(Palette, Row + 3 * X) : PlainExact(Palette, Row + 3 * X);
          ASSERT_EQ(Indices[static_cast<size_t>(X)], Plain) << "x " << X << ", adapt " << Adapt;
          ASSERT_EQ(Image.MatchColor(Row + 3 * X), Plain) << "x " << X << ", adapt " << Adapt;
        }
      }
    }
}

TEST(FastPath, BuildPaletteEqualsThePlainScan) {
  // Counts from empty to full and beyond, with and without pages and a given colour, bitmaps of
  // few colours, of more than 256 (so that the palette fills inside a row) and with the given
  // colour among them; the starting entries are left from before and include repeats.
  TRandom Random(16);
  const int32_t Counts[] = {0, 1, 7, 200, 255, 256, 300, -3};
  const int PoolSizes[] = {1, 3, 50, 255, 256, 257, 400};
  int Cases = 0;
  for (const int32_t Count : Counts)
    for (const int PoolSize : PoolSizes)
      for (const bool HasPages : {false, true}) {
        TPalette Start;
        MakePalette(Below(Random, 2) == 0 ? TKind::Duplicates : TKind::Random, Random, Start);
        const std::vector<TRgb> Pool = ColorPool(Random, PoolSize, &Start);
        const TPicture Picture = RunPicture(Random, 1 + Below(Random, 40), Below(Random, 30), Pool);
        const bool GiveColor = Below(Random, 3) == 0;
        const TRgb Given = Pool[0];
        const int32_t R = GiveColor ? Given.R : -1;
        const int32_t G = GiveColor ? Given.G : (Below(Random, 2) ? -1 : 5);
        const int32_t B = GiveColor ? Given.B : -1;

        TPlainPalette Plain;
        std::memcpy(Plain.Entries, Start, 768);
        Plain.Count = Count;
        Plain.Build(Picture, HasPages, R, G, B);

        TSti Image;
        std::memcpy(Image.Palette, Start, 768);
        Image.PaletteCount = Count;
        if (HasPages)
          Image.Pages.SetObject(Image.Pages.Add("000.bmp"), new TStiRecord);
        Image.BuildPalette(BitmapOf(Picture), R, G, B);

        const std::string What = "count " + std::to_string(Count) + ", pool " + std::to_string(PoolSize) +
                                 ", pages " + std::to_string(HasPages);
        ASSERT_EQ(Image.PaletteCount, Plain.Count) << What;
        ASSERT_EQ(TBytes(&Image.Palette[0][0], &Image.Palette[0][0] + 768), PaletteBytes(Plain.Entries)) << What;
        ++Cases;
      }
  EXPECT_EQ(Cases, 8 * 7 * 2);
}

TEST(FastPath, EncodePageEqualsThePlainEncoder) {
  TRandom Random(17);
  const int Widths[] = {0, 1, 2, 5, 126, 127, 128, 255, 300};
  for (const TKind Kind : AllKinds)
    for (const bool Adapt : {false, true})
      for (const int Width : Widths) {
        TPalette Palette;
        MakePalette(Kind, Random, Palette);
        // Colours from the palette (entry 0 among them) and others, in runs of all lengths.
        std::vector<TRgb> Pool = ColorPool(Random, 30, &Palette);
        Pool.push_back(TRgb{Palette[0][0], Palette[0][1], Palette[0][2]});
        const TPicture Picture = RunPicture(Random, Width, 1 + Below(Random, 6), Pool);
        TSti Image;
        std::memcpy(Image.Palette, Palette, 768);
        Image.AdaptPalette = Adapt;
        int32_t Length = -1;
        const std::vector<uint8_t> Data = Image.EncodePage(BitmapOf(Picture), Length);
        const TBytes Expected = PlainEncode(Picture, Palette, Adapt);
        ASSERT_EQ(Data, Expected) << "kind " << static_cast<int>(Kind) << ", width " << Width << ", adapt " << Adapt;
        ASSERT_EQ(static_cast<size_t>(Length), Expected.size());
      }
}

// ---------------------------------------------------------------------------------------------
// The page table.

TEST(FastPath, StringListBehavesAsAPlainVector) {
  // Random appends, removals anywhere, objects set, and resets, past many blocks of entries.
  TRandom Random(21);
  struct TModel {
    std::string Text;
    void* Object;
  };
  std::vector<TModel> Model;
  TStringList List;
  int Dummy[4];
  auto Check = [&](const TStringList& L, const std::vector<TModel>& M) {
    ASSERT_EQ(L.Count(), static_cast<int>(M.size()));
    for (size_t I = 0; I < M.size(); ++I) {
      ASSERT_EQ(L.Strings(static_cast<int>(I)), M[I].Text) << "position " << I;
      ASSERT_EQ(L.Objects(static_cast<int>(I)), M[I].Object) << "position " << I;
    }
    EXPECT_THROW(L.Strings(L.Count()), std::out_of_range);
    EXPECT_THROW(L.Objects(-1), std::out_of_range);
  };
  for (int Step = 0; Step < 6000; ++Step) {
    const int Op = Below(Random, 20);
    if (Op < 11 || Model.empty()) {
      const std::string Text = "t" + std::to_string(Below(Random, 500));
      void* Object = Below(Random, 2) ? &Dummy[Below(Random, 4)] : nullptr;
      ASSERT_EQ(List.Add(Text, Object), static_cast<int>(Model.size()));
      Model.push_back({Text, Object});
    } else if (Op < 17) {
      // Removals cluster at the front, the back and anywhere.
      const int Where = Below(Random, 3);
      const int At = Where == 0 ? 0 : Where == 1 ? static_cast<int>(Model.size()) - 1
                                                  : Below(Random, static_cast<int>(Model.size()));
      List.Delete(At);
      Model.erase(Model.begin() + At);
    } else if (Op < 19) {
      const int At = Below(Random, static_cast<int>(Model.size()));
      List.SetObject(At, &Dummy[0]);
      Model[static_cast<size_t>(At)].Object = &Dummy[0];
    } else if (Below(Random, 10) == 0) {
      List.SetText("a\nb\r\nc");
      Model = {{"a", nullptr}, {"b", nullptr}, {"c", nullptr}};
    }
    if (Step % 500 == 0)
      Check(List, Model);
  }
  Check(List, Model);
  // Walking backwards and jumping about find the same entries as walking forwards.
  for (int I = List.Count() - 1; I >= 0; I -= 3)
    ASSERT_EQ(List.Strings(I), Model[static_cast<size_t>(I)].Text);
  const TStringList Copy = List;
  Check(Copy, Model);
  EXPECT_NE(Copy.Stamp(), List.Stamp());
}

TEST(FastPath, NameKeysAreEqualExactlyWhenNamesAre) {
  std::string Key;
  if (!NameKey("x", Key))
    GTEST_SKIP() << "names are compared one by one here";
  // Letters on either side of the ASCII ranges, bytes beyond ASCII, and an embedded zero byte.
  const std::string Alphabet = std::string("aAzZ@[`{0.\xC4\xE4\xFF") + '\0';
  TRandom Random(22);
  for (int I = 0; I < 20000; ++I) {
    std::string A, B;
    const int Length = Below(Random, 4);
    for (int K = 0; K < Length; ++K)
      A += Alphabet[static_cast<size_t>(Below(Random, static_cast<int>(Alphabet.size())))];
    const int LengthB = Below(Random, 3) == 0 ? Below(Random, 4) : Length;
    for (int K = 0; K < LengthB; ++K)
      B += Below(Random, 2) && K < Length ? A[static_cast<size_t>(K)]
                                           : Alphabet[static_cast<size_t>(Below(Random, static_cast<int>(Alphabet.size())))];
    std::string KeyA, KeyB;
    ASSERT_TRUE(NameKey(A, KeyA));
    ASSERT_TRUE(NameKey(B, KeyB));
    ASSERT_EQ(KeyA == KeyB, SameName(A, B)) << "'" << A << "' and '" << B << "'";
  }
}

TEST(FastPath, FindPageFollowsEveryChangeOfThePageTable) {
  // A table of loaded names, changed by DeletePage, by appending and replacing pages through
  // AddPage, by changing Pages directly, and by emptying it; after every change each probe name
  // must be found where the plain scan finds it.
  TRandom Random(23);
  const std::vector<std::string> Pool = {"", "000.bmp", "001.BMP", "005.bmp", "a.bmp", "A.BMP", "b.bmp", "299.bmp"};
  TSti Image;
  std::vector<std::string> Names;
  auto Append = [&](const std::string& Name) {
    Image.Pages.SetObject(Image.Pages.Add(Name), new TStiRecord);
    Names.push_back(Name);
  };
  for (int I = 0; I < 600; ++I)
    Append(I % 50 == 7 ? Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))] : PageName(I));
  TBitmap Bitmap = BitmapOf(PictureOfColors(1, {TRgb{1, 2, 3}}));

  auto Probe = [&](int Step) {
    std::vector<std::string> Probes = Pool;
    for (int K = 0; K < 12; ++K) {
      std::string Name = PageName(Below(Random, 700));
      if (Below(Random, 2))
        std::transform(Name.begin(), Name.end(), Name.begin(), [](char C) { return C >= 'a' && C <= 'z' ? C - 32 : C; });
      Probes.push_back(Name);
    }
    for (const std::string& Name : Probes)
      ASSERT_EQ(Image.FindPage(Name), PlainFind(Names, Name)) << "'" << Name << "' after step " << Step;
  };
  Probe(-1);
  for (int Step = 0; Step < 1500; ++Step) {
    const int Op = Below(Random, 12);
    if (Op < 5) {
      // Delete by a name that may or may not be there.
      const std::string Name = Below(Random, 3) == 0 ? Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))]
                                                     : PageName(Below(Random, 700));
      const int Expected = PlainFind(Names, Name);
      ASSERT_EQ(Image.DeletePage(Name), Expected < 0 ? Result::NoSuchPage : Result::Ok) << Name;
      if (Expected >= 0)
        Names.erase(Names.begin() + Expected);
    } else if (Op < 7) {
      // Refresh: a name found is replaced in place, any other page is appended with no name.
      const std::string Name = Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))];
      const int Expected = Name.empty() ? -1 : PlainFind(Names, Name);
      ASSERT_EQ(Image.AddPage(Bitmap, Name, true, 0, 0, -1, -1, -1), Result::Ok);
      if (Expected < 0)
        Names.push_back("");
    } else if (Op < 9) {
      Append(Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))]);
    } else if (Op < 11 && !Names.empty()) {
      // Removed behind FindPage's back.
      const int At = Below(Random, static_cast<int>(Names.size()));
      delete Image.Record(At);
      Image.Pages.Delete(At);
      Names.erase(Names.begin() + At);
    } else if (Below(Random, 20) == 0) {
      Image.ClearPages();
      Names.clear();
      for (int I = 0; I < 300; ++I)
        Append(PageName(I));
    }
    Probe(Step);
  }
}

TEST(FastPath, PageIndexStaysRightWhenAnyEntryIsDeleted) {
  // The index on its own, told of deletions at any position (not only the first of a name), with
  // few names so that every chain of equal names is long, and appends in between.
  TRandom Random(24);
  const std::vector<std::string> Pool = {"a", "A", "b", "", "c.bmp", "C.BMP"};
  TStringList List;
  std::vector<std::string> Names;
  TPageIndex Index;
  for (int Step = 0; Step < 4000; ++Step) {
    for (const std::string& Name : Pool)
      ASSERT_EQ(Index.Find(List, Name), PlainFind(Names, Name)) << "'" << Name << "' at step " << Step;
    if (Names.empty() || Below(Random, 2) == 0) {
      const std::string Name = Pool[static_cast<size_t>(Below(Random, static_cast<int>(Pool.size())))];
      List.Add(Name);
      Names.push_back(Name);
    } else {
      const int At = Below(Random, static_cast<int>(Names.size()));
      List.Delete(At);
      Index.Deleted(List, At);
      Names.erase(Names.begin() + At);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Whole commands, against files built from the plain loops.

TTestPage PlainPage(const TPicture& Picture, const TPalette& Palette, bool Adapt, int16_t X, int16_t Y) {
  TTestPage Page;
  Page.Width = static_cast<int16_t>(Picture.Width);
  Page.Height = static_cast<int16_t>(Picture.Height);
  Page.OffsetX = X;
  Page.OffsetY = Y;
  Page.Data = PlainEncode(Picture, Palette, Adapt);
  return Page;
}

TEST_F(TScratchDir, AddCommandsWriteThePlainLoopsBytes) {
  TRandom Random(31);
  for (const bool Adapt : {false, true})
    for (const TKind Kind : {TKind::Random, TKind::Duplicates, TKind::Ties, TKind::Partial}) {
      TPalette Palette;
      MakePalette(Kind, Random, Palette);
      // Without adaptation the image has no pages, so the palette is built from the bitmaps; with
      // adaptation it has two, which stay in front.
      std::vector<TTestPage> Pages;
      if (Adapt)
        Pages = {{2, 1, 0, 0, {0x02, 0x05, 0x06, 0x00}}, {1, 1, 3, 4, {0x81, 0x00}}};
      WriteFileBytes("img.sti", MakeSti8(Pages, PaletteBytes(Palette)));

      // Three bitmaps: the first two with 150 and 180 colours, so that the palette fills up
      // inside the second, the third of palette colours and neighbours of them.
      std::string List;
      std::vector<TPicture> Pictures;
      for (int F = 0; F < 3; ++F) {
        const std::vector<TRgb> Pool = ColorPool(Random, F == 0 ? 150 : F == 1 ? 180 : 40, F == 2 ? &Palette : nullptr);
        Pictures.push_back(RunPicture(Random, 3 + Below(Random, 140), 1 + Below(Random, 20), Pool));
        const std::string Name = "in" + std::to_string(F) + ".bmp";
        WriteBmp(Name, Pictures.back());
        List += Name + "\n";
      }
      WriteFileBytes("list.txt", TBytes(List.begin(), List.end()));
      const TRunOutcome Outcome = RunTool({Adapt ? "aa" : "a", "img.sti", "@list.txt", "-3", "9"});
      ASSERT_EQ(Outcome.Status, 0) << Outcome.Err;

      TPlainPalette Plain;
      std::memcpy(Plain.Entries, Palette, 768);
      Plain.Count = 256;
      for (const TPicture& Picture : Pictures) {
        if (!Adapt)
          Plain.Build(Picture, !Pages.empty(), -1, -1, -1);
        Pages.push_back(PlainPage(Picture, Plain.Entries, Adapt, -3, 9));
      }
      EXPECT_EQ(ReadFileBytes("img.sti"), MakeSti8(Pages, PaletteBytes(Plain.Entries)))
          << "adapt " << Adapt << ", kind " << static_cast<int>(Kind);
    }
}

TEST_F(TScratchDir, RefreshReplacesWhereThePlainLookupFinds) {
  // Names in other cases, names of no page (appended with no name) and the same name twice.
  TRandom Random(32);
  TPalette Palette;
  MakePalette(TKind::Ties, Random, Palette);
  std::vector<TTestPage> Pages;
  std::vector<std::string> Names;
  for (int I = 0; I < 400; ++I) {
    Pages.push_back({1, 1, static_cast<int16_t>(I), 0, {0x81, 0x00}});
    Names.push_back(PageName(I));
  }
  WriteFileBytes("img.sti", MakeSti8(Pages, PaletteBytes(Palette)));
  const std::vector<std::string> Files = {"017.BMP", "399.bmp", "400.bmp", "017.bmp", "123.Bmp", "x.bmp"};
  std::string List;
  for (const std::string& File : Files) {
    const TPicture Picture = RunPicture(Random, 1 + Below(Random, 9), 1 + Below(Random, 4), ColorPool(Random, 5));
    WriteBmp(File, Picture);
    List += File + "\n";
    const TTestPage Page = PlainPage(Picture, Palette, true, 4, -4);
    const int At = PlainFind(Names, File);
    if (At >= 0) {
      Pages[static_cast<size_t>(At)] = Page;
    } else {
      Pages.push_back(Page);
      Names.push_back("");
    }
  }
  WriteFileBytes("list.txt", TBytes(List.begin(), List.end()));
  const TRunOutcome Outcome = RunTool({"ma", "img.sti", "@list.txt", "4", "-4"});
  ASSERT_EQ(Outcome.Status, 0) << Outcome.Err;
  EXPECT_EQ(ReadFileBytes("img.sti"), MakeSti8(Pages, PaletteBytes(Palette)));
}

TEST_F(TScratchDir, DeleteCommandRemovesWhatThePlainLookupFinds) {
  // 700 pages, so the table spans several blocks; names in random order and case, some twice
  // (the second time the page is gone and the name may now find nothing).
  TRandom Random(33);
  std::vector<TTestPage> Pages;
  for (int I = 0; I < 700; ++I)
    Pages.push_back({static_cast<int16_t>(1 + I % 7), 1, static_cast<int16_t>(I), static_cast<int16_t>(-I),
                     TBytes{static_cast<uint8_t>(0x80 + 1 + I % 7), 0x00}});
  const TBytes Original = MakeSti8(Pages);
  std::vector<std::string> Names;
  for (int I = 0; I < 700; ++I)
    Names.push_back(PageName(I));

  std::vector<int> Order(700);
  for (int I = 0; I < 700; ++I)
    Order[static_cast<size_t>(I)] = I;
  std::shuffle(Order.begin(), Order.end(), Random);
  std::string List;
  for (int K = 0; K < 250; ++K) {
    std::string Name = PageName(Order[static_cast<size_t>(K)]);
    if (K % 3 == 0)
      Name[Name.size() - 3] = 'B';
    List += Name + "\n";
    const int At = PlainFind(Names, Name);
    ASSERT_GE(At, 0);
    Names.erase(Names.begin() + At);
    Pages.erase(Pages.begin() + At);
  }
  WriteFileBytes("img.sti", Original);
  WriteFileBytes("list.txt", TBytes(List.begin(), List.end()));
  TRunOutcome Outcome = RunTool({"d", "img.sti", "@list.txt"});
  ASSERT_EQ(Outcome.Status, 0);
  EXPECT_EQ(ReadFileBytes("img.sti"), MakeSti8(Pages));

  // A name deleted twice fails the second time, and then nothing is written.
  WriteFileBytes("img.sti", Original);
  WriteFileBytes("list.txt", TBytes{'0', '0', '9', '.', 'b', 'm', 'p', '\n', '0', '0', '9', '.', 'B', 'M', 'P'});
  Outcome = RunTool({"d", "img.sti", "@list.txt"});
  EXPECT_EQ(Outcome.Status, Result::NoSuchPage);
  EXPECT_EQ(ReadFileBytes("img.sti"), Original);
}

TEST_F(TScratchDir, ExtractFindsEachNameWhereThePlainLookupDoes) {
  // Every page has its own width and height, so each BMP file written tells which page it came
  // from; the names come in random order and case.
  TRandom Random(34);
  std::vector<TTestPage> Pages;
  for (int I = 0; I < 600; ++I) {
    const int16_t Width = static_cast<int16_t>(1 + I % 40), Height = static_cast<int16_t>(1 + I / 40);
    TTestPage Page{Width, Height, 0, 0, {}};
    for (int Y = 0; Y < Height; ++Y) {
      Page.Data.push_back(static_cast<uint8_t>(0x80 + Width));
      Page.Data.push_back(0);
    }
    Pages.push_back(Page);
  }
  WriteFileBytes("img.sti", MakeSti8(Pages));
  std::vector<std::string> Names;
  for (int I = 0; I < 600; ++I)
    Names.push_back(PageName(I));
  std::string List;
  std::vector<std::string> Asked;
  for (int K = 0; K < 200; ++K) {
    std::string Name = PageName(Below(Random, 600));
    if (Below(Random, 2))
      Name.replace(Name.size() - 3, 3, "BmP");
    if (std::find(Asked.begin(), Asked.end(), Name) == Asked.end()) {
      Asked.push_back(Name);
      List += Name + "\n";
    }
  }
  WriteFileBytes("list.txt", TBytes(List.begin(), List.end()));
  const TRunOutcome Outcome = RunTool({"e", "img.sti", "@list.txt"});
  ASSERT_EQ(Outcome.Status, 0) << Outcome.Err;
  for (const std::string& Name : Asked) {
    const TBytes Bmp = ReadFileBytes(Name);
    ASSERT_GE(Bmp.size(), 26u) << Name;
    const TTestPage& Page = Pages[static_cast<size_t>(PlainFind(Names, Name))];
    EXPECT_EQ(GetLE(Bmp, 18, 4), static_cast<uint32_t>(Page.Width)) << Name;
    EXPECT_EQ(GetLE(Bmp, 22, 4), static_cast<uint32_t>(Page.Height)) << Name;
  }
}

}  // namespace
