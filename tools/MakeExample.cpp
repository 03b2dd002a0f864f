// Makes the example image shipped in examples/: an 8-bit STI image of a few small sprites drawn
// here, stored against a 256-colour palette. Run: make_example <output.sti>
#include "Sti/Sti.h"
#include "platform/Bitmap.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace {

// Entry 0 is the transparent colour; 1..15 greys; 16..231 a 6 × 6 × 6 colour cube; the rest warm
// ramps for skin, wood and fire.
void MakePalette(TSti& Image) {
  int Index = 0;
  auto Put = [&](int R, int G, int B) {
    Image.Palette[Index][0] = static_cast<uint8_t>(R);
    Image.Palette[Index][1] = static_cast<uint8_t>(G);
    Image.Palette[Index][2] = static_cast<uint8_t>(B);
    ++Index;
  };
  Put(255, 0, 255);
  for (int I = 1; I <= 15; ++I)
    Put(I * 17, I * 17, I * 17);
  for (int R = 0; R < 6; ++R)
    for (int G = 0; G < 6; ++G)
      for (int B = 0; B < 6; ++B)
        Put(R * 51, G * 51, B * 51 + (R == 5 && G == 0 && B == 5 ? -1 : 0));
  while (Index < 256) {
    const int T = Index - 232;
    Put(120 + T * 5, 60 + T * 4, 20 + T * 2);
  }
  Image.PaletteCount = 256;
}

void Fill(TBitmap& Bitmap, int Width, int Height) {
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(Height);
  Bitmap.SetWidth(Width);
  for (int Y = 0; Y < Height; ++Y) {
    uint8_t* Row = Bitmap.ScanLine(Y);
    for (int X = 0; X < Width; ++X) {
      Row[X * 3] = 255;  // blue, green, red of the transparent colour
      Row[X * 3 + 1] = 0;
      Row[X * 3 + 2] = 255;
    }
  }
}

void Put(TBitmap& Bitmap, int X, int Y, int R, int G, int B) {
  uint8_t* Pixel = Bitmap.ScanLine(Y) + X * 3;
  Pixel[0] = static_cast<uint8_t>(B);
  Pixel[1] = static_cast<uint8_t>(G);
  Pixel[2] = static_cast<uint8_t>(R);
}

// A shaded ball.
void Ball(TBitmap& Bitmap, int Size) {
  Fill(Bitmap, Size, Size);
  const double C = (Size - 1) / 2.0;
  for (int Y = 0; Y < Size; ++Y)
    for (int X = 0; X < Size; ++X) {
      const double D = std::hypot(X - C, Y - C) / (Size / 2.0);
      if (D > 1.0)
        continue;
      const double Light = 1.0 - std::hypot(X - C * 0.6, Y - C * 0.6) / Size;
      Put(Bitmap, X, Y, static_cast<int>(60 + 190 * Light), static_cast<int>(40 * Light), static_cast<int>(30 * Light));
    }
}

// A wooden crate.
void Crate(TBitmap& Bitmap, int Width, int Height) {
  Fill(Bitmap, Width, Height);
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      const bool Frame = X < 2 || Y < 2 || X >= Width - 2 || Y >= Height - 2 || X == Y * Width / Height;
      const int Grain = (X * 7 + Y * 3) % 11;
      if (Frame)
        Put(Bitmap, X, Y, 90, 50, 20);
      else
        Put(Bitmap, X, Y, 170 + Grain * 3, 110 + Grain * 2, 50);
    }
}

// A green arrow pointing right, with a grey shadow.
void Arrow(TBitmap& Bitmap, int Width, int Height) {
  Fill(Bitmap, Width, Height);
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      const int Mid = Height / 2;
      const bool Shaft = X < Width * 2 / 3 && std::abs(Y - Mid) < Height / 6;
      const bool Head = X >= Width * 2 / 3 && std::abs(Y - Mid) < (Width - X) * Height / (Width * 2 / 3);
      if (Shaft || Head)
        Put(Bitmap, X, Y, 0, 153 + (Y * 100 / Height), 51);
      else if (X > 0 && Y > 0 && std::abs(Y - 1 - Mid) < Height / 6 && X - 1 < Width * 2 / 3)
        Put(Bitmap, X, Y, 85, 85, 85);
    }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example <output.sti>\n");
    return 2;
  }
  TSti Image;
  std::memcpy(Image.Header, StiMagic, sizeof StiMagic);
  MakePalette(Image);
  Image.FileName = argv[1];

  TBitmap Bitmap;
  const struct {
    int Kind, Width, Height, X, Y;
  } Sprites[] = {{0, 24, 24, -12, -24}, {1, 30, 22, -15, -22}, {2, 33, 15, 0, -7}, {0, 9, 9, -4, -9}};
  for (const auto& Sprite : Sprites) {
    if (Sprite.Kind == 0)
      Ball(Bitmap, Sprite.Width);
    else if (Sprite.Kind == 1)
      Crate(Bitmap, Sprite.Width, Sprite.Height);
    else
      Arrow(Bitmap, Sprite.Width, Sprite.Height);
    if (Image.AddPage(Bitmap, "", true, Sprite.X, Sprite.Y, -1, -1, -1) != 0) {
      std::fprintf(stderr, "make_example: cannot add a page\n");
      return 1;
    }
  }

  // Saving replaces an existing file only, so the file is made first.
  if (std::FILE* File = std::fopen(argv[1], "wb"))
    std::fclose(File);
  const int Saved = Image.Save("");
  if (Saved != 0) {
    std::fprintf(stderr, "make_example: cannot save '%s' (%d)\n", argv[1], Saved);
    return 1;
  }
  return 0;
}
