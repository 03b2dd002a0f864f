// Benchmarks of kelpix at scale. Makes its own workloads in a temporary directory, runs the built
// kelpix binary on each several times as a child process and prints the median wall time, the
// throughput and the peak resident memory of the runs. Where another tool does the same work
// (Pillow through python3, ImageMagick's convert) it is timed in the same run; for the extract
// workloads the time of writing the same files with a minimal loop of plain writes is measured
// in-process, and for listing and deleting the time of reading (and writing) the image file.
//
//   bench_tool --kelpix PATH [--runs N] [--peer-runs N] [--slow-peer-runs N] [--only ABCDEF]
//              [--side PIXELS] [--pages N] [--work DIR] [--keep]
//
// A  aa: 4096 x 4096 photo-like bitmap, adapted to a palette of 256 distinct colours
// B  a:  4096 x 4096 sprite sheet of about 250 colours, palette built from it
// C  e:  every page of an image of 32,767 pages of 32 x 32, through an @list
// D  l:  the list report of that image
// E  d:  every fourth page of that image, through an @list
// F  e:  a 16-bit image of 4096 x 4096
//
// POSIX only: children are started with fork and exec and measured with wait4.
#include "Sti/StiColorIndex.h"
#include "Sti/Sti.h"
#include "platform/Bitmap.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<uint8_t>;

struct TOptions {
  std::string Kelpix;
  std::string Work;
  std::string Only = "ABCDEF";
  int Runs = 5;
  int PeerRuns = 3;
  int SlowPeerRuns = 1;  // ImageMagick's remap and palette conversion take seconds each
  int Side = 4096;
  int PageCount = 32767;
  bool Keep = false;
};

[[noreturn]] void Fail(const std::string& Message) {
  std::fprintf(stderr, "bench_tool: %s\n", Message.c_str());
  std::exit(2);
}

// splitmix64: small, fast and the same everywhere, so the workloads are the same on every run.
class TRandom {
public:
  explicit TRandom(uint64_t Seed) : State(Seed) {}
  uint64_t Next() {
    uint64_t Z = (State += 0x9E3779B97F4A7C15ull);
    Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
    Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
    return Z ^ (Z >> 31);
  }
  int Below(int Limit) { return static_cast<int>(Next() % static_cast<uint64_t>(Limit)); }

private:
  uint64_t State;
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TBytes ReadBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In)
    Fail("cannot read " + Path);
  return TBytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& Path, const TBytes& Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  if (!Out)
    Fail("cannot write " + Path);
}

void WriteText(const std::string& Path, const std::string& Text) {
  WriteBytes(Path, TBytes(Text.begin(), Text.end()));
}

uint64_t SizeOf(const std::string& Path) {
  std::error_code Error;
  const uintmax_t Size = fs::file_size(Path, Error);
  return Error ? 0 : static_cast<uint64_t>(Size);
}

uint64_t TreeSize(const std::string& Dir) {
  uint64_t Total = 0;
  for (const auto& Entry : fs::directory_iterator(Dir))
    if (Entry.is_regular_file())
      Total += Entry.file_size();
  return Total;
}

void FreshDir(const std::string& Dir) {
  fs::remove_all(Dir);
  fs::create_directories(Dir);
}

void Put(TBytes& Bytes, size_t At, size_t Width, uint32_t Value) {
  for (size_t I = 0; I < Width; ++I)
    Bytes[At + I] = static_cast<uint8_t>(Value >> (8 * I));
}

// ---------------------------------------------------------------------------------------------
// Running children.

struct TSample {
  double Seconds = 0;
  long PeakKb = 0;
  int Status = -1;
};

// Children are started by a launcher process forked at the very start, while this program is
// still small: the peak resident memory that wait4 reports for a child counts the memory of the
// process it was forked from, so forking from this program once it holds its workloads would
// report that instead of the child's own.
struct TLauncher {
  int Requests = -1;  // to the launcher
  int Replies = -1;   // from the launcher
};
TLauncher Launcher;

bool WriteFull(int Fd, const void* Data, size_t Size) {
  const char* P = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t N = ::write(Fd, P, Size);
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return false;
    P += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}

bool ReadFull(int Fd, void* Data, size_t Size) {
  char* P = static_cast<char*>(Data);
  while (Size > 0) {
    const ssize_t N = ::read(Fd, P, Size);
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return false;
    P += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}

// Runs Argv with the working directory Dir (empty: this one), standard output to OutPath and
// standard error to ErrPath; returns the wall time, the peak resident memory and the exit status.
TSample RunChild(const std::vector<std::string>& Texts) {
  // Texts: directory, output, error, then the arguments.
  std::vector<char*> Args;
  for (size_t I = 3; I < Texts.size(); ++I)
    Args.push_back(const_cast<char*>(Texts[I].c_str()));
  Args.push_back(nullptr);
  TSample Sample;
  const double Start = Now();
  const pid_t Child = ::fork();
  if (Child < 0)
    return Sample;
  if (Child == 0) {
    if (!Texts[0].empty() && ::chdir(Texts[0].c_str()) != 0)
      ::_exit(126);
    const int In = ::open("/dev/null", O_RDONLY);
    const int Out = ::open(Texts[1].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int Err = ::open(Texts[2].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (In < 0 || Out < 0 || Err < 0)
      ::_exit(126);
    ::dup2(In, 0);
    ::dup2(Out, 1);
    ::dup2(Err, 2);
    ::execvp(Args[0], Args.data());
    ::_exit(127);
  }
  int Status = 0;
  struct rusage Usage {};
  while (::wait4(Child, &Status, 0, &Usage) < 0)
    if (errno != EINTR)
      return Sample;
  Sample.Seconds = Now() - Start;
  Sample.PeakKb = Usage.ru_maxrss;
  Sample.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  return Sample;
}

[[noreturn]] void LauncherLoop(int Requests, int Replies) {
  for (;;) {
    uint32_t Count = 0;
    if (!ReadFull(Requests, &Count, sizeof Count))
      ::_exit(0);
    std::vector<std::string> Texts;
    for (uint32_t I = 0; I < Count; ++I) {
      uint32_t Length = 0;
      if (!ReadFull(Requests, &Length, sizeof Length))
        ::_exit(1);
      std::string Text(Length, '\0');
      if (Length > 0 && !ReadFull(Requests, Text.data(), Length))
        ::_exit(1);
      Texts.push_back(std::move(Text));
    }
    const TSample Sample = RunChild(Texts);
    if (!WriteFull(Replies, &Sample, sizeof Sample))
      ::_exit(1);
  }
}

void StartLauncher() {
  int ToLauncher[2], FromLauncher[2];
  if (::pipe(ToLauncher) != 0 || ::pipe(FromLauncher) != 0)
    Fail("pipe failed");
  const pid_t Child = ::fork();
  if (Child < 0)
    Fail("fork failed");
  if (Child == 0) {
    ::close(ToLauncher[1]);
    ::close(FromLauncher[0]);
    LauncherLoop(ToLauncher[0], FromLauncher[1]);
  }
  ::close(ToLauncher[0]);
  ::close(FromLauncher[1]);
  Launcher.Requests = ToLauncher[1];
  Launcher.Replies = FromLauncher[0];
}

TSample Spawn(const std::vector<std::string>& Argv, const std::string& Dir, const std::string& OutPath,
              const std::string& ErrPath = "/dev/null") {
  std::vector<std::string> Texts{Dir, OutPath, ErrPath};
  Texts.insert(Texts.end(), Argv.begin(), Argv.end());
  std::string Request;
  const uint32_t Count = static_cast<uint32_t>(Texts.size());
  Request.append(reinterpret_cast<const char*>(&Count), sizeof Count);
  for (const std::string& T : Texts) {
    const uint32_t Length = static_cast<uint32_t>(T.size());
    Request.append(reinterpret_cast<const char*>(&Length), sizeof Length);
    Request += T;
  }
  TSample Sample;
  if (!WriteFull(Launcher.Requests, Request.data(), Request.size()) ||
      !ReadFull(Launcher.Replies, &Sample, sizeof Sample))
    Fail("the launcher process is gone");
  return Sample;
}

bool Succeeds(const std::vector<std::string>& Argv) {
  return Spawn(Argv, "", "/dev/null").Status == 0;
}

std::string Output(const std::vector<std::string>& Argv) {
  const std::string Path = fs::temp_directory_path() / ("bench_tool." + std::to_string(::getpid()) + ".out");
  Spawn(Argv, "", Path);
  const TBytes Bytes = ReadBytes(Path);
  fs::remove(Path);
  return std::string(Bytes.begin(), Bytes.end());
}

// ---------------------------------------------------------------------------------------------
// Measurements and the report.

struct TMeasure {
  std::vector<TSample> Samples;
  std::vector<double> Extra;  // a time the child reports itself (the peer's core call)
  double Median() const {
    std::vector<double> T;
    for (const TSample& S : Samples)
      T.push_back(S.Seconds);
    return MedianOf(T);
  }
  double ExtraMedian() const { return MedianOf(Extra); }
  long PeakKb() const {
    long Peak = 0;
    for (const TSample& S : Samples)
      Peak = std::max(Peak, S.PeakKb);
    return Peak;
  }
  static double MedianOf(std::vector<double> T) {
    if (T.empty())
      return 0;
    std::sort(T.begin(), T.end());
    const size_t N = T.size();
    return N % 2 == 1 ? T[N / 2] : (T[N / 2 - 1] + T[N / 2]) / 2;
  }
};

// Times Runs calls of Body, each after an untimed Prepare.
TMeasure Repeat(int Runs, const std::function<void()>& Prepare, const std::function<TSample()>& Body) {
  TMeasure M;
  for (int I = 0; I < Runs; ++I) {
    if (Prepare)
      Prepare();
    M.Samples.push_back(Body());
  }
  return M;
}

// Times Runs calls of an in-process Body.
TMeasure RepeatHere(int Runs, const std::function<void()>& Prepare, const std::function<void()>& Body) {
  return Repeat(Runs, Prepare, [&] {
    TSample S;
    const double Start = Now();
    Body();
    S.Seconds = Now() - Start;
    S.Status = 0;
    return S;
  });
}

void CheckStatus(const TMeasure& M, const std::string& What) {
  for (const TSample& S : M.Samples)
    if (S.Status != 0)
      Fail(What + " exited with status " + std::to_string(S.Status));
}

std::string Seconds(double S) {
  char Text[32];
  if (S >= 10)
    std::snprintf(Text, sizeof Text, "%7.2f s ", S);
  else if (S >= 1)
    std::snprintf(Text, sizeof Text, "%7.3f s ", S);
  else
    std::snprintf(Text, sizeof Text, "%7.1f ms", S * 1000);
  return Text;
}

void Row(const std::string& What, const TMeasure& M, const std::string& Throughput, double InOutBytes = 0) {
  char Memory[64] = "";
  if (M.PeakKb() > 0) {
    const double Mb = M.PeakKb() / 1024.0;
    if (InOutBytes > 0)
      std::snprintf(Memory, sizeof Memory, "%8.1f MB %5.2f", Mb, M.PeakKb() * 1024.0 / InOutBytes);
    else
      std::snprintf(Memory, sizeof Memory, "%8.1f MB", Mb);
  }
  std::printf("   %-38s %3zu %s  %-16s %s\n", What.c_str(), M.Samples.size(), Seconds(M.Median()).c_str(),
              Throughput.c_str(), Memory);
  std::fflush(stdout);
}

void Note(const std::string& Text) {
  std::printf("   %s\n", Text.c_str());
  std::fflush(stdout);
}

std::string Rate(double Count, double Seconds, const char* Unit) {
  char Text[48];
  if (Seconds <= 0)
    return "";
  const double R = Count / Seconds;
  if (R >= 1e6)
    std::snprintf(Text, sizeof Text, "%.1f M%s/s", R / 1e6, Unit);
  else if (R >= 1e3)
    std::snprintf(Text, sizeof Text, "%.1f k%s/s", R / 1e3, Unit);
  else
    std::snprintf(Text, sizeof Text, "%.1f %s/s", R, Unit);
  return Text;
}

// A target line: "kelpix 0.20 s vs Pillow 0.18 s: 1.09 x the time, target <= 1 x: missed".
void Target(const std::string& Label, double Ours, double Theirs, double Limit, const char* Sense) {
  if (Ours <= 0 || Theirs <= 0)
    return;
  const double Ratio = Ours / Theirs;
  char Text[256];
  std::snprintf(Text, sizeof Text, "%s: %.3g x the time (%s %.3g x): %s", Label.c_str(), Ratio, Sense, Limit,
                Ratio <= Limit ? "met" : "MISSED");
  Note(Text);
}

void MemoryTarget(const std::string& Label, const TMeasure& M, double InOutBytes) {
  if (InOutBytes <= 0 || M.PeakKb() <= 0)
    return;
  const double Ratio = M.PeakKb() * 1024.0 / InOutBytes;
  char Text[200];
  std::snprintf(Text, sizeof Text, "%s peak memory: %.2f x input + output (target <= 2.00 x): %s", Label.c_str(),
                Ratio, Ratio <= 2.0 ? "met" : "MISSED");
  Note(Text);
}

// ---------------------------------------------------------------------------------------------
// The workloads.

struct TPalette {
  uint8_t Entries[256][3];
};

// 256 distinct colours as a game's palette might hold them: a magenta transparent colour, greys,
// a 6 x 6 x 6 colour cube and warm ramps.
TPalette GamePalette() {
  TPalette P{};
  int Index = 0;
  auto Add = [&](int R, int G, int B) {
    for (int I = 0; I < Index; ++I)
      if (P.Entries[I][0] == R && P.Entries[I][1] == G && P.Entries[I][2] == B)
        return;
    if (Index < 256) {
      P.Entries[Index][0] = static_cast<uint8_t>(R);
      P.Entries[Index][1] = static_cast<uint8_t>(G);
      P.Entries[Index][2] = static_cast<uint8_t>(B);
      ++Index;
    }
  };
  Add(255, 0, 255);
  for (int I = 1; I <= 15; ++I)
    Add(I * 16, I * 16, I * 16);
  for (int R = 0; R < 6; ++R)
    for (int G = 0; G < 6; ++G)
      for (int B = 0; B < 6; ++B)
        Add(R * 51, G * 51, B * 51);
  int T = 0;
  while (Index < 256) {
    Add((130 + T * 5) & 255, (70 + T * 4) & 255, (25 + T * 3) & 255);
    ++T;
  }
  return P;
}

// The bytes of an 8-bit image: header, palette, page table and the pages' data back to back.
TBytes MakeSti8(const TPalette& Palette, const std::vector<TBytes>& Data, int Width, int Height) {
  const size_t Count = Data.size();
  uint64_t Total = 0;
  for (const TBytes& D : Data)
    Total += D.size();
  TBytes Bytes(PageTableOffset + EntrySize * Count + Total, 0);
  std::memcpy(Bytes.data(), StiMagic, 4);
  Put(Bytes, OriginalSizeOffset, 4, static_cast<uint32_t>(Total));
  Put(Bytes, StoredSizeOffset, 4, static_cast<uint32_t>(Total));
  Put(Bytes, PageCountOffset, 2, static_cast<uint32_t>(Count));
  std::memcpy(Bytes.data() + PaletteOffset, Palette.Entries, PaletteSize);
  size_t At = PageTableOffset + EntrySize * Count;
  uint32_t Offset = 0;
  for (size_t I = 0; I < Count; ++I) {
    const size_t Entry = PageTableOffset + EntrySize * I;
    Put(Bytes, Entry, 4, Offset);
    Put(Bytes, Entry + 4, 4, static_cast<uint32_t>(Data[I].size()));
    Put(Bytes, Entry + 8, 2, static_cast<uint32_t>(I % 17));
    Put(Bytes, Entry + 10, 2, static_cast<uint32_t>(-static_cast<int>(I % 5)));
    Put(Bytes, Entry + 12, 2, static_cast<uint32_t>(Height));
    Put(Bytes, Entry + 14, 2, static_cast<uint32_t>(Width));
    if (!Data[I].empty())
      std::memcpy(Bytes.data() + At, Data[I].data(), Data[I].size());
    At += Data[I].size();
    Offset += static_cast<uint32_t>(Data[I].size());
  }
  return Bytes;
}

// Page data for one row of indices, 0 meaning transparent: maximal runs cut at 127 pixels.
void EncodeRow(const std::vector<uint8_t>& Row, TBytes& Out) {
  size_t X = 0;
  while (X < Row.size()) {
    size_t N = 0;
    if (Row[X] == 0) {
      while (X + N < Row.size() && N < 127 && Row[X + N] == 0)
        ++N;
      Out.push_back(static_cast<uint8_t>(0x80 + N));
    } else {
      while (X + N < Row.size() && N < 127 && Row[X + N] != 0)
        ++N;
      Out.push_back(static_cast<uint8_t>(N));
      Out.insert(Out.end(), Row.begin() + static_cast<std::ptrdiff_t>(X),
                 Row.begin() + static_cast<std::ptrdiff_t>(X + N));
    }
    X += N;
  }
  Out.push_back(0);
}

// A sprite of Side x Side pixels: a disc of varying size and place, shaded across, on transparency.
TBytes SpritePage(int Index, int Side) {
  TBytes Data;
  std::vector<uint8_t> Row(static_cast<size_t>(Side));
  const int Radius = Side / 5 + Index % (Side / 3);
  const int Cx = Side / 2 + (Index % 7) - 3;
  const int Cy = Side / 2 + (Index % 5) - 2;
  for (int Y = 0; Y < Side; ++Y) {
    for (int X = 0; X < Side; ++X) {
      const int Dx = X - Cx;
      const int Dy = Y - Cy;
      Row[static_cast<size_t>(X)] =
          Dx * Dx + Dy * Dy <= Radius * Radius ? static_cast<uint8_t>(1 + (X + 2 * Y + Index) % 255) : 0;
    }
    EncodeRow(Row, Data);
  }
  return Data;
}

void FillBitmap(TBitmap& Bitmap, int Width, int Height) {
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetHeight(Height);
  Bitmap.SetWidth(Width);
}

uint8_t Clamp(int V) {
  return static_cast<uint8_t>(V < 0 ? 0 : V > 255 ? 255 : V);
}

// Smooth gradients plus noise of +-20 in each channel: millions of distinct colours.
void MakePhoto(TBitmap& Bitmap, int Side) {
  FillBitmap(Bitmap, Side, Side);
  TRandom Random(1);
  const double Scale = 4096.0 / Side;
  std::vector<double> SinX(static_cast<size_t>(Side)), CosX(static_cast<size_t>(Side));
  for (int X = 0; X < Side; ++X) {
    SinX[static_cast<size_t>(X)] = std::sin(X * Scale / 700.0);
    CosX[static_cast<size_t>(X)] = std::cos(X * Scale / 530.0);
  }
  for (int Y = 0; Y < Side; ++Y) {
    uint8_t* Line = Bitmap.ScanLine(Y);
    const double Sy = std::sin(Y * Scale / 610.0);
    const double Cy = std::cos(Y * Scale / 880.0);
    for (int X = 0; X < Side; ++X) {
      const uint64_t Noise = Random.Next();
      const double Sx = SinX[static_cast<size_t>(X)];
      const double Cx = CosX[static_cast<size_t>(X)];
      const int R = static_cast<int>(128 + 100 * Sx * Cy) + static_cast<int>(Noise % 41) - 20;
      const int G = static_cast<int>(128 + 100 * Sy * Cx) + static_cast<int>((Noise >> 8) % 41) - 20;
      const int B = static_cast<int>(128 + 60 * (Sx + Sy)) + static_cast<int>((Noise >> 16) % 41) - 20;
      Line[X * 3] = Clamp(B);
      Line[X * 3 + 1] = Clamp(G);
      Line[X * 3 + 2] = Clamp(R);
    }
  }
}

// Tiles of 64 x 64 on a magenta background, each a shaded disc with an outline: 250 colours.
void MakeSheet(TBitmap& Bitmap, int Side) {
  FillBitmap(Bitmap, Side, Side);
  TRandom Random(2);
  std::vector<uint32_t> Colours;
  while (Colours.size() < 249) {
    const uint32_t C = static_cast<uint32_t>(Random.Next() & 0xFFFFFF);
    if (C != 0xFF00FF && std::find(Colours.begin(), Colours.end(), C) == Colours.end())
      Colours.push_back(C);
  }
  const int Tile = 64;
  for (int Y = 0; Y < Side; ++Y) {
    uint8_t* Line = Bitmap.ScanLine(Y);
    for (int X = 0; X < Side; ++X) {
      const int T = (Y / Tile) * (Side / Tile) + X / Tile;
      const int Dx = X % Tile - Tile / 2;
      const int Dy = Y % Tile - Tile / 2;
      const int Radius = 12 + T % 18;
      const int D = Dx * Dx + Dy * Dy;
      uint32_t C = 0xFF00FF;
      if (D <= Radius * Radius) {
        const int Shade = (Dy + Tile / 2) / 8;  // bands of 8 rows
        C = Colours[static_cast<size_t>((T * 3 + Shade) % 248)];
        if (D > (Radius - 2) * (Radius - 2))
          C = Colours[248];
      }
      Line[X * 3] = static_cast<uint8_t>(C);
      Line[X * 3 + 1] = static_cast<uint8_t>(C >> 8);
      Line[X * 3 + 2] = static_cast<uint8_t>(C >> 16);
    }
  }
}

size_t DistinctColours(const TBitmap& Bitmap) {
  std::vector<uint64_t> Seen(1u << 18);
  size_t Count = 0;
  for (int Y = 0; Y < Bitmap.Height(); ++Y) {
    const uint8_t* P = Bitmap.ScanLine(Y);
    for (int X = 0; X < Bitmap.Width(); ++X, P += 3) {
      const uint32_t C = P[0] | P[1] << 8 | P[2] << 16;
      uint64_t& Word = Seen[C >> 6];
      const uint64_t Bit = uint64_t{1} << (C & 63);
      if (!(Word & Bit)) {
        Word |= Bit;
        ++Count;
      }
    }
  }
  return Count;
}

// The 16-bit words of a 4096 x 4096 picture: gradients with some noise.
std::vector<uint16_t> RgbWords(int Side) {
  std::vector<uint16_t> Words(static_cast<size_t>(Side) * static_cast<size_t>(Side));
  TRandom Random(3);
  for (int Y = 0; Y < Side; ++Y)
    for (int X = 0; X < Side; ++X) {
      const uint32_t N = static_cast<uint32_t>(Random.Next());
      const uint32_t R = ((X * 32 / Side) + (N & 1)) & 31;
      const uint32_t G = ((Y * 64 / Side) + ((N >> 1) & 3)) & 63;
      const uint32_t B = (((X + Y) * 16 / Side) + ((N >> 3) & 1)) & 31;
      Words[static_cast<size_t>(Y) * static_cast<size_t>(Side) + static_cast<size_t>(X)] =
          static_cast<uint16_t>(R << 11 | G << 5 | B);
    }
  return Words;
}

TBytes MakeSti16(const std::vector<uint16_t>& Words, int Side) {
  TBytes Bytes(HeaderSize + Words.size() * 2, 0);
  std::memcpy(Bytes.data(), StiMagic, 4);
  Bytes[FlagsOffset] = RgbFlag;
  Put(Bytes, HeightOffset, 2, static_cast<uint32_t>(Side));
  Put(Bytes, WidthOffset, 2, static_cast<uint32_t>(Side));
  for (size_t I = 0; I < Words.size(); ++I)
    Put(Bytes, HeaderSize + 2 * I, 2, Words[I]);
  return Bytes;
}

// The same picture as a 16-bit BMP file with 5-6-5 bit fields, for the peers.
TBytes MakeBmp565(const std::vector<uint16_t>& Words, int Side) {
  const size_t Stride = (static_cast<size_t>(Side) * 2 + 3) / 4 * 4;
  const size_t Offset = 14 + 40 + 12;
  TBytes Bytes(Offset + Stride * static_cast<size_t>(Side), 0);
  Bytes[0] = 'B';
  Bytes[1] = 'M';
  Put(Bytes, 2, 4, static_cast<uint32_t>(Bytes.size()));
  Put(Bytes, 10, 4, static_cast<uint32_t>(Offset));
  Put(Bytes, 14, 4, 40);
  Put(Bytes, 18, 4, static_cast<uint32_t>(Side));
  Put(Bytes, 22, 4, static_cast<uint32_t>(Side));
  Put(Bytes, 26, 2, 1);
  Put(Bytes, 28, 2, 16);
  Put(Bytes, 30, 4, 3);  // bit fields
  Put(Bytes, 34, 4, static_cast<uint32_t>(Stride * static_cast<size_t>(Side)));
  Put(Bytes, 54, 4, 0xF800);
  Put(Bytes, 58, 4, 0x07E0);
  Put(Bytes, 62, 4, 0x001F);
  for (int Y = 0; Y < Side; ++Y) {
    const size_t Row = Offset + Stride * static_cast<size_t>(Side - 1 - Y);
    for (int X = 0; X < Side; ++X)
      Put(Bytes, Row + 2 * static_cast<size_t>(X), 2,
          Words[static_cast<size_t>(Y) * static_cast<size_t>(Side) + static_cast<size_t>(X)]);
  }
  return Bytes;
}

const char PeerScript[] = R"(import sys, time
from PIL import Image
mode = sys.argv[1]
NONE = Image.Dither.NONE if hasattr(Image, 'Dither') else Image.NONE
ADAPTIVE = Image.Palette.ADAPTIVE if hasattr(Image, 'Palette') else Image.ADAPTIVE
if mode == 'quantize':
    im = Image.open(sys.argv[2]); im.load()
    pal = Image.new('P', (16, 16))
    pal.putpalette(open(sys.argv[3], 'rb').read())
    t = time.perf_counter()
    out = im.quantize(palette=pal, dither=NONE)
    core = time.perf_counter() - t
    out.save(sys.argv[4])
elif mode == 'adaptive':
    im = Image.open(sys.argv[2]); im.load()
    t = time.perf_counter()
    out = im.convert('P', palette=ADAPTIVE, colors=256)
    core = time.perf_counter() - t
    out.save(sys.argv[3])
elif mode == 'rgb16':
    t = time.perf_counter()
    im = Image.open(sys.argv[2]); im.load()
    out = im.convert('RGB')
    core = time.perf_counter() - t
    out.save(sys.argv[3])
print('%.6f' % core)
)";

// ---------------------------------------------------------------------------------------------
// Peers.

struct TPeers {
  std::string Python;  // empty when no python3 with Pillow was found
  std::string Convert; // empty when no ImageMagick convert was found
};

TPeers FindPeers() {
  TPeers Peers;
  std::vector<std::string> Pythons;
  if (const char* Env = std::getenv("KELPIX_BENCH_PYTHON"))
    Pythons.push_back(Env);
  Pythons.push_back("python3");
  Pythons.push_back("/usr/bin/python3");
  for (const std::string& P : Pythons)
    if (Succeeds({P, "-c", "import PIL.Image"})) {
      Peers.Python = P;
      break;
    }
  for (const std::string& C : {std::string("magick"), std::string("convert"), std::string("/usr/bin/convert")}) {
    const std::string Version = Output({C, "-version"});
    if (Version.find("ImageMagick") != std::string::npos) {
      Peers.Convert = C;
      break;
    }
  }
  return Peers;
}

TMeasure RunPeer(int Runs, const std::vector<std::string>& Argv, const std::string& Dir,
                 const std::function<void()>& Prepare = nullptr) {
  const std::string Out = Dir + "/peer.out";
  const std::string Err = Dir + "/peer.err";
  TMeasure M = Repeat(Runs, Prepare, [&] {
    TSample S = Spawn(Argv, Dir, Out, Err);
    return S;
  });
  for (const TSample& S : M.Samples)
    if (S.Status != 0) {
      const TBytes E = ReadBytes(Err);
      Fail(Argv[0] + " failed (" + std::to_string(S.Status) + "): " + std::string(E.begin(), E.end()));
    }
  return M;
}

// The times that the peer reported for its core call, as a measure of their own.
TMeasure CallAlone(const TMeasure& Peer) {
  TMeasure M;
  for (const double Seconds : Peer.Extra)
    M.Samples.push_back(TSample{Seconds, 0, 0});
  return M;
}

TMeasure RunPython(const TPeers& Peers, int Runs, const std::vector<std::string>& Args, const std::string& Dir) {
  std::vector<std::string> Argv{Peers.Python, (fs::path(Dir).parent_path() / "peer.py").string()};
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  const std::string Out = Dir + "/peer.out";
  TMeasure M;
  for (int I = 0; I < Runs; ++I) {
    TMeasure One = RunPeer(1, Argv, Dir);
    M.Samples.push_back(One.Samples[0]);
    const TBytes Text = ReadBytes(Out);
    M.Extra.push_back(std::atof(std::string(Text.begin(), Text.end()).c_str()));
  }
  return M;
}

// ---------------------------------------------------------------------------------------------
// Accuracy of a mapping to the palette: the share of pixels whose colour is as near to the source
// pixel as the nearest palette entry.

struct TBmpPixels {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Bgr;  // top row first
};

// Reads an uncompressed BMP of 8 or 24 bits per pixel.
bool ReadBmp(const std::string& Path, TBmpPixels& Out) {
  const TBytes B = ReadBytes(Path);
  auto U = [&](size_t At, size_t W) {
    uint32_t V = 0;
    for (size_t I = 0; I < W && At + I < B.size(); ++I)
      V |= static_cast<uint32_t>(B[At + I]) << (8 * I);
    return V;
  };
  if (B.size() < 54 || B[0] != 'B' || B[1] != 'M')
    return false;
  const uint32_t Offset = U(10, 4);
  const uint32_t HeaderBytes = U(14, 4);
  const int32_t Width = static_cast<int32_t>(U(18, 4));
  int32_t Height = static_cast<int32_t>(U(22, 4));
  const uint32_t Bits = U(28, 2);
  const uint32_t Compression = U(30, 4);
  if ((Bits != 8 && Bits != 24) || (Compression != 0 && Compression != 3) || Width <= 0)
    return false;
  const bool TopDown = Height < 0;
  Height = std::abs(Height);
  uint32_t Colours = U(46, 4);
  if (Bits == 8 && Colours == 0)
    Colours = 256;
  const size_t Table = 14 + HeaderBytes;
  const size_t Stride = (static_cast<size_t>(Width) * Bits / 8 + 3) / 4 * 4;
  if (Offset + Stride * static_cast<size_t>(Height) > B.size())
    return false;
  Out.Width = Width;
  Out.Height = Height;
  Out.Bgr.assign(static_cast<size_t>(Width) * static_cast<size_t>(Height) * 3, 0);
  for (int Y = 0; Y < Height; ++Y) {
    const size_t Row = Offset + Stride * static_cast<size_t>(TopDown ? Y : Height - 1 - Y);
    uint8_t* Target = &Out.Bgr[static_cast<size_t>(Y) * static_cast<size_t>(Width) * 3];
    for (int X = 0; X < Width; ++X) {
      if (Bits == 24) {
        std::memcpy(Target + X * 3, &B[Row + static_cast<size_t>(X) * 3], 3);
      } else {
        const uint32_t I = B[Row + static_cast<size_t>(X)];
        if (I >= Colours || Table + I * 4 + 3 > B.size())
          return false;
        std::memcpy(Target + X * 3, &B[Table + I * 4], 3);
      }
    }
  }
  return true;
}

int Distance(const uint8_t* A, const uint8_t* B) {
  const int D0 = A[0] - B[0], D1 = A[1] - B[1], D2 = A[2] - B[2];
  return D0 * D0 + D1 * D1 + D2 * D2;
}

// The share of pixels of Mapped that lie as near to Source as the nearest palette entry does.
double NearestShare(const TBitmap& Source, const TPalette& Palette, const uint8_t* Mapped) {
  TNearestIndex Nearest(Palette.Entries);
  uint64_t Good = 0;
  uint64_t Total = 0;
  for (int Y = 0; Y < Source.Height(); ++Y) {
    const uint8_t* P = Source.ScanLine(Y);
    for (int X = 0; X < Source.Width(); ++X, P += 3, Mapped += 3) {
      const uint8_t* E = Palette.Entries[Nearest.Find(P)];
      const uint8_t Best[3] = {E[2], E[1], E[0]};
      Good += Distance(P, Best) == Distance(P, Mapped);
      ++Total;
    }
  }
  return Total == 0 ? 0 : static_cast<double>(Good) / static_cast<double>(Total);
}

void ReportShare(const std::string& Who, double Share) {
  char Text[160];
  std::snprintf(Text, sizeof Text, "%s: %.2f %% of the pixels on a nearest palette colour", Who.c_str(), Share * 100);
  Note(Text);
}

// ---------------------------------------------------------------------------------------------
// In-process floors.

void WriteAllOrFail(int Fd, const uint8_t* Data, size_t Size, const std::string& Path) {
  while (Size > 0) {
    const ssize_t N = ::write(Fd, Data, Size);
    if (N <= 0) {
      if (N < 0 && errno == EINTR)
        continue;
      Fail("cannot write " + Path);
    }
    Data += N;
    Size -= static_cast<size_t>(N);
  }
}

// Creates Path and writes Bytes with plain writes.
void PlainWrite(const std::string& Path, const TBytes& Bytes) {
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (Fd < 0)
    Fail("cannot create " + Path);
  WriteAllOrFail(Fd, Bytes.data(), Bytes.size(), Path);
  ::close(Fd);
}

// Reads a whole file with one read into a new buffer; returns the number of bytes.
size_t PlainRead(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDONLY);
  if (Fd < 0)
    Fail("cannot open " + Path);
  const off_t Size = ::lseek(Fd, 0, SEEK_END);
  ::lseek(Fd, 0, SEEK_SET);
  std::unique_ptr<uint8_t[]> Buffer(new uint8_t[static_cast<size_t>(Size)]);
  size_t Done = 0;
  while (Done < static_cast<size_t>(Size)) {
    const ssize_t N = ::read(Fd, Buffer.get() + Done, static_cast<size_t>(Size) - Done);
    if (N <= 0)
      break;
    Done += static_cast<size_t>(N);
  }
  ::close(Fd);
  return Done;
}

// What the safe save of an image costs at the least: a new file written, flushed, and renamed
// over the old one, and the directory flushed.
void PlainSafeWrite(const std::string& Path, const TBytes& Bytes) {
  const std::string Temp = Path + ".floor";
  const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (Fd < 0)
    Fail("cannot create " + Temp);
  WriteAllOrFail(Fd, Bytes.data(), Bytes.size(), Temp);
  ::fsync(Fd);
  ::close(Fd);
  if (::rename(Temp.c_str(), Path.c_str()) != 0)
    Fail("cannot rename " + Temp);
  const int Dir = ::open(fs::path(Path).parent_path().c_str(), O_RDONLY);
  if (Dir >= 0) {
    ::fsync(Dir);
    ::close(Dir);
  }
}

// ---------------------------------------------------------------------------------------------

struct TBench {
  TOptions Options;
  TPeers Peers;
  std::string Work;
  TPalette Palette = GamePalette();

  std::string Path(const std::string& Name) const { return Work + "/" + Name; }

  TMeasure Kelpix(int Runs, const std::vector<std::string>& Args, const std::string& Dir,
                  const std::function<void()>& Prepare, const std::string& Out = "/dev/null") {
    std::vector<std::string> Argv{Options.Kelpix};
    Argv.insert(Argv.end(), Args.begin(), Args.end());
    TMeasure M = Repeat(Runs, Prepare, [&] { return Spawn(Argv, Dir, Out, Dir + "/kelpix.err"); });
    CheckStatus(M, "kelpix " + Args[0]);
    return M;
  }

  void Header(const char* Letter, const std::string& Title) {
    std::printf("\n%s  %s\n", Letter, Title.c_str());
    std::fflush(stdout);
  }

  void A() {
    const int Side = Options.Side;
    const std::string Dir = Path("A");
    fs::create_directories(Dir);
    TBitmap Photo;
    MakePhoto(Photo, Side);
    Photo.SaveToFile(Dir + "/photo.bmp");
    const size_t Distinct = DistinctColours(Photo);
    const TBytes Empty = MakeSti8(Palette, {}, 0, 0);
    WriteBytes(Dir + "/empty.sti", Empty);
    WriteBytes(Dir + "/palette.bin", TBytes(&Palette.Entries[0][0], &Palette.Entries[0][0] + 768));
    TBitmap PaletteBitmap;
    FillBitmap(PaletteBitmap, 16, 16);
    for (int I = 0; I < 256; ++I) {
      uint8_t* P = PaletteBitmap.ScanLine(I / 16) + (I % 16) * 3;
      P[0] = Palette.Entries[I][2];
      P[1] = Palette.Entries[I][1];
      P[2] = Palette.Entries[I][0];
    }
    PaletteBitmap.SaveToFile(Dir + "/palette.bmp");

    const double Pixels = static_cast<double>(Side) * Side;
    Header("A", "aa: " + std::to_string(Side) + " x " + std::to_string(Side) + " photo-like bitmap (" +
                    std::to_string(Distinct) + " distinct colours) adapted to 256 palette colours");
    const std::string Sti = Dir + "/a.sti";
    TMeasure Ours = Kelpix(Options.Runs, {"aa", Sti, Dir + "/photo.bmp"}, Dir,
                           [&] { WriteBytes(Sti, Empty); });
    const double InOut = static_cast<double>(SizeOf(Dir + "/photo.bmp") + Empty.size() + SizeOf(Sti));
    Row("kelpix aa", Ours, Rate(Pixels, Ours.Median(), "px"), InOut);

    // The work that Pillow's quantize call does, in-process: the page made from the loaded bitmap.
    TMeasure Alone = RepeatHere(Options.Runs, nullptr, [&] {
      TSti Image;
      std::memcpy(Image.Palette, Palette.Entries, PaletteSize);
      Image.PaletteCount = 256;
      Image.AddPage(Photo, "", true, 0, 0, -1, -1, -1);
    });
    Row("kelpix AddPage alone, in-process", Alone, Rate(Pixels, Alone.Median(), "px"));

    // Every pixel of the page must lie on a nearest colour.
    TSti Image;
    TBitmap Page;
    if (Image.Open(Sti, 0) != 0 || Image.DecodePage(0, Page) != 0)
      Fail("cannot read back " + Sti);
    std::vector<uint8_t> Mapped;
    for (int Y = 0; Y < Page.Height(); ++Y)
      Mapped.insert(Mapped.end(), Page.ScanLine(Y), Page.ScanLine(Y) + Page.RowBytes());
    ReportShare("kelpix", NearestShare(Photo, Palette, Mapped.data()));

    TMeasure Pil, Magick;
    if (!Peers.Python.empty()) {
      Pil = RunPython(Peers, Options.PeerRuns, {"quantize", Dir + "/photo.bmp", Dir + "/palette.bin", Dir + "/pil.bmp"},
                      Dir);
      Row("Pillow quantize, whole run", Pil, Rate(Pixels, Pil.Median(), "px"));
      Row("Pillow quantize, the call alone", CallAlone(Pil), Rate(Pixels, Pil.ExtraMedian(), "px"));
      TBmpPixels Out;
      if (ReadBmp(Dir + "/pil.bmp", Out) && Out.Width == Side && Out.Height == Side)
        ReportShare("Pillow", NearestShare(Photo, Palette, Out.Bgr.data()));
    } else {
      Note("Pillow: not found (python3 with PIL); skipped");
    }
    if (!Peers.Convert.empty()) {
      Magick = RunPeer(Options.SlowPeerRuns,
                       {Peers.Convert, Dir + "/photo.bmp", "+dither", "-remap", Dir + "/palette.bmp", Dir + "/im.bmp"},
                       Dir);
      Row("ImageMagick convert +dither -remap", Magick, Rate(Pixels, Magick.Median(), "px"));
      TBmpPixels Out;
      if (ReadBmp(Dir + "/im.bmp", Out) && Out.Width == Side && Out.Height == Side)
        ReportShare("ImageMagick", NearestShare(Photo, Palette, Out.Bgr.data()));
    } else {
      Note("ImageMagick: convert not found; skipped");
    }
    if (!Pil.Samples.empty()) {
      Target("kelpix AddPage vs Pillow quantize call", Alone.Median(), Pil.ExtraMedian(), 1.0, "target <=");
      Target("kelpix vs Pillow quantize call", Ours.Median(), Pil.ExtraMedian(), 1.0, "target <=");
      Target("kelpix vs Pillow whole run", Ours.Median(), Pil.Median(), 1.0, "target <=");
    }
    if (!Magick.Samples.empty())
      Target("kelpix vs ImageMagick remap", Ours.Median(), Magick.Median(), 0.05, "target <=");
    MemoryTarget("kelpix", Ours, InOut);
    if (!Options.Keep)
      fs::remove_all(Dir);
  }

  void B() {
    const int Side = Options.Side;
    const std::string Dir = Path("B");
    fs::create_directories(Dir);
    TBitmap Sheet;
    MakeSheet(Sheet, Side);
    Sheet.SaveToFile(Dir + "/sheet.bmp");
    const size_t Distinct = DistinctColours(Sheet);
    const TBytes Empty = MakeSti8(Palette, {}, 0, 0);

    const double Pixels = static_cast<double>(Side) * Side;
    Header("B", "a: " + std::to_string(Side) + " x " + std::to_string(Side) + " sprite sheet of " +
                    std::to_string(Distinct) + " colours to an image without pages");
    const std::string Sti = Dir + "/b.sti";
    TMeasure Ours = Kelpix(Options.Runs, {"a", Sti, Dir + "/sheet.bmp"}, Dir, [&] { WriteBytes(Sti, Empty); });
    const double InOut = static_cast<double>(SizeOf(Dir + "/sheet.bmp") + Empty.size() + SizeOf(Sti));
    Row("kelpix a", Ours, Rate(Pixels, Ours.Median(), "px"), InOut);
    TMeasure Alone = RepeatHere(Options.Runs, nullptr, [&] {
      TSti Image;
      std::memcpy(Image.Palette, Palette.Entries, PaletteSize);
      Image.AddPage(Sheet, "", false, 0, 0, -1, -1, -1);
    });
    Row("kelpix AddPage alone, in-process", Alone, Rate(Pixels, Alone.Median(), "px"));

    TMeasure Pil, Magick;
    if (!Peers.Python.empty()) {
      Pil = RunPython(Peers, Options.PeerRuns, {"adaptive", Dir + "/sheet.bmp", Dir + "/pil.bmp"}, Dir);
      Row("Pillow convert('P', ADAPTIVE), whole", Pil, Rate(Pixels, Pil.Median(), "px"));
      Row("Pillow convert, the call alone", CallAlone(Pil), Rate(Pixels, Pil.ExtraMedian(), "px"));
    } else {
      Note("Pillow: not found (python3 with PIL); skipped");
    }
    if (!Peers.Convert.empty()) {
      Magick = RunPeer(Options.SlowPeerRuns,
                       {Peers.Convert, Dir + "/sheet.bmp", "+dither", "-colors", "256", "-type", "Palette",
                        Dir + "/im.bmp"},
                       Dir);
      Row("ImageMagick convert -colors 256", Magick, Rate(Pixels, Magick.Median(), "px"));
    } else {
      Note("ImageMagick: convert not found; skipped");
    }
    if (!Pil.Samples.empty()) {
      Target("kelpix AddPage vs Pillow convert call", Alone.Median(), Pil.ExtraMedian(), 0.2, "target <=");
      Target("kelpix vs Pillow convert call", Ours.Median(), Pil.ExtraMedian(), 0.2, "target <=");
      Target("kelpix vs Pillow whole run", Ours.Median(), Pil.Median(), 0.2, "target <=");
    }
    if (!Magick.Samples.empty())
      Target("kelpix vs ImageMagick", Ours.Median(), Magick.Median(), 1.0, "for reference, <=");
    MemoryTarget("kelpix", Ours, InOut);
    if (!Options.Keep)
      fs::remove_all(Dir);
  }

  // C, D and E share one image of many small pages.
  void PagesImage() {
    const std::string Dir = Path("pages");
    fs::create_directories(Dir);
    std::vector<TBytes> Data;
    std::string All, Every4;
    for (int I = 0; I < Options.PageCount; ++I) {
      Data.push_back(SpritePage(I, 32));
      All += PageName(I) + "\n";
      if (I % 4 == 0)
        Every4 += PageName(I) + "\n";
    }
    WriteBytes(Dir + "/pages.sti", MakeSti8(Palette, Data, 32, 32));
    WriteText(Dir + "/all.txt", All);
    WriteText(Dir + "/every4.txt", Every4);
  }

  void C() {
    const std::string Dir = Path("pages");
    const std::string Out = Dir + "/out";
    const std::string Copy = Dir + "/copy";
    const double Pages = Options.PageCount;
    Header("C", "e: every page of " + std::to_string(Options.PageCount) + " pages of 32 x 32 through an @list (" +
                    std::to_string(SizeOf(Dir + "/pages.sti") >> 20) + " MB image)");
    TMeasure Ours = Kelpix(Options.Runs, {"e", Dir + "/pages.sti", "@" + Dir + "/all.txt"}, Out,
                           [&] { FreshDir(Out); });
    const uint64_t Written = TreeSize(Out);
    const double InOut = static_cast<double>(SizeOf(Dir + "/pages.sti") + SizeOf(Dir + "/all.txt") + Written);
    Row("kelpix e", Ours, Rate(Pages, Ours.Median(), "pages"), InOut);

    // The floor: the same files, written by a loop of open, write and close.
    std::vector<std::pair<std::string, TBytes>> Files;
    for (int I = 0; I < Options.PageCount; ++I)
      Files.emplace_back(PageName(I), ReadBytes(Out + "/" + PageName(I)));
    TMeasure Floor = RepeatHere(Options.Runs, [&] { FreshDir(Copy); }, [&] {
      for (const auto& F : Files)
        PlainWrite(Copy + "/" + F.first, F.second);
    });
    Row("floor: open/write/close per file", Floor, Rate(Pages, Floor.Median(), "pages"));
    TMeasure Cp = Repeat(Options.PeerRuns, [&] { fs::remove_all(Copy); },
                         [&] { return Spawn({"cp", "-r", Out, Copy}, "", "/dev/null"); });
    Row("cp -r of the extracted files", Cp, Rate(Pages, Cp.Median(), "pages"));
    Target("kelpix vs the floor", Ours.Median(), Floor.Median(), 1.5, "target <=");
    Target("kelpix vs cp -r", Ours.Median(), Cp.Median(), 1.0, "target <");
    MemoryTarget("kelpix", Ours, InOut);
    fs::remove_all(Copy);
    fs::remove_all(Out);
  }

  // The workloads of well under a second get more runs, since their times vary more.
  int QuickRuns() const { return Options.Runs * 2 - 1; }

  void D() {
    const std::string Dir = Path("pages");
    const std::string Sti = Dir + "/pages.sti";
    const double Pages = Options.PageCount;
    Header("D", "l: list report of the " + std::to_string(Options.PageCount) + "-page image");
    TMeasure Ours = Kelpix(QuickRuns(), {"l", Sti}, Dir, nullptr, Dir + "/list.txt");
    const double InOut = static_cast<double>(SizeOf(Sti) + SizeOf(Dir + "/list.txt"));
    Row("kelpix l", Ours, Rate(Pages, Ours.Median(), "pages"), InOut);
    // The floor is a process that reads the file: cat, started like kelpix.
    TMeasure Floor = Repeat(QuickRuns(), nullptr, [&] { return Spawn({"cat", Sti}, Dir, "/dev/null"); });
    Row("floor: cat of the image file", Floor, "");
    TMeasure Read = RepeatHere(QuickRuns(), nullptr, [&] { PlainRead(Sti); });
    Row("one read of the file, in-process", Read, "");
    Target("kelpix vs the floor", Ours.Median(), Floor.Median(), 3.0, "target <=");
    MemoryTarget("kelpix", Ours, InOut);
  }

  void E() {
    const std::string Dir = Path("pages");
    const std::string Source = Dir + "/pages.sti";
    const std::string Sti = Dir + "/e.sti";
    const TBytes Original = ReadBytes(Source);
    const double Names = (Options.PageCount + 3) / 4;
    Header("E", "d: every fourth page (" + std::to_string(static_cast<int>(Names)) + " names) through an @list");
    TMeasure Ours = Kelpix(QuickRuns(), {"d", Sti, "@" + Dir + "/every4.txt"}, Dir,
                           [&] { WriteBytes(Sti, Original); });
    const TBytes Result = ReadBytes(Sti);
    const double InOut = static_cast<double>(Original.size() + SizeOf(Dir + "/every4.txt") + Result.size());
    Row("kelpix d", Ours, Rate(Names, Ours.Median(), "names"), InOut);
    TMeasure Floor = RepeatHere(QuickRuns(), [&] { WriteBytes(Sti, Original); }, [&] {
      PlainRead(Sti);
      PlainSafeWrite(Sti, Result);
    });
    Row("floor: read, write, flush, rename", Floor, "");
    Target("kelpix vs the floor", Ours.Median(), Floor.Median(), 3.0, "target <=");
    MemoryTarget("kelpix", Ours, InOut);
    fs::remove(Sti);
  }

  void F() {
    const int Side = Options.Side;
    const std::string Dir = Path("F");
    const std::string Out = Dir + "/out";
    fs::create_directories(Out);
    const std::vector<uint16_t> Words = RgbWords(Side);
    WriteBytes(Dir + "/rgb.sti", MakeSti16(Words, Side));
    WriteBytes(Dir + "/rgb565.bmp", MakeBmp565(Words, Side));
    const double Pixels = static_cast<double>(Side) * Side;
    Header("F", "e: 16-bit image of " + std::to_string(Side) + " x " + std::to_string(Side));
    const std::string Bmp = Out + "/000.bmp";
    TMeasure Ours = Kelpix(QuickRuns(), {"e", Dir + "/rgb.sti", "000.bmp"}, Out, [&] { fs::remove(Bmp); });
    const TBytes Result = ReadBytes(Bmp);
    const double InOut = static_cast<double>(SizeOf(Dir + "/rgb.sti") + Result.size());
    Row("kelpix e", Ours, Rate(Pixels, Ours.Median(), "px"), InOut);
    TMeasure Floor = RepeatHere(QuickRuns(), [&] { fs::remove(Bmp); }, [&] { PlainWrite(Bmp, Result); });
    Row("floor: open/write/close of the BMP", Floor, Rate(Pixels, Floor.Median(), "px"));
    TMeasure Pil, Magick;
    if (!Peers.Python.empty()) {
      Pil = RunPython(Peers, Options.PeerRuns, {"rgb16", Dir + "/rgb565.bmp", Dir + "/pil.bmp"}, Dir);
      Row("Pillow 16-bit BMP to 24-bit BMP", Pil, Rate(Pixels, Pil.Median(), "px"));
    } else {
      Note("Pillow: not found (python3 with PIL); skipped");
    }
    if (!Peers.Convert.empty()) {
      Magick = RunPeer(Options.PeerRuns,
                       {Peers.Convert, Dir + "/rgb565.bmp", "-type", "TrueColor", "BMP3:" + Dir + "/im.bmp"}, Dir);
      Row("ImageMagick 16-bit BMP to 24-bit BMP", Magick, Rate(Pixels, Magick.Median(), "px"));
    } else {
      Note("ImageMagick: convert not found; skipped");
    }
    Target("kelpix vs the floor", Ours.Median(), Floor.Median(), 1.5, "target <=");
    if (!Pil.Samples.empty())
      Target("kelpix vs Pillow", Ours.Median(), Pil.Median(), 0.5, "target <=");
    if (!Magick.Samples.empty())
      Target("kelpix vs ImageMagick", Ours.Median(), Magick.Median(), 0.5, "target <=");
    MemoryTarget("kelpix", Ours, InOut);
    if (!Options.Keep)
      fs::remove_all(Dir);
  }

  void Run() {
    std::string Cpu;
    std::ifstream Info("/proc/cpuinfo");
    for (std::string Line; std::getline(Info, Line);)
      if (Line.rfind("model name", 0) == 0) {
        Cpu = Line.substr(Line.find(':') + 2);
        break;
      }
    std::printf("kelpix benchmark on %s, %ld cores; medians of %d runs (D, E, F: %d; peers %d, slow peers %d)\n",
                Cpu.empty() ? "an unknown CPU" : Cpu.c_str(), ::sysconf(_SC_NPROCESSORS_ONLN), Options.Runs,
                QuickRuns(), Options.PeerRuns, Options.SlowPeerRuns);
    std::printf("kelpix: %s\nwork directory: %s\n", Options.Kelpix.c_str(), Work.c_str());
    std::printf("Pillow: %s\nImageMagick: %s\n", Peers.Python.empty() ? "not found" : Peers.Python.c_str(),
                Peers.Convert.empty() ? "not found" : Peers.Convert.c_str());
    std::printf("columns: runs, median wall time, throughput, peak resident memory and its ratio to the\n"
                "input plus output bytes\n");
    std::fflush(stdout);

    const double Start = Now();
    auto Wants = [&](char L) { return Options.Only.find(L) != std::string::npos; };
    if (Wants('A'))
      A();
    if (Wants('B'))
      B();
    if (Wants('C') || Wants('D') || Wants('E')) {
      PagesImage();
      if (Wants('C'))
        C();
      if (Wants('D'))
        D();
      if (Wants('E'))
        E();
      if (!Options.Keep)
        fs::remove_all(Path("pages"));
    }
    if (Wants('F'))
      F();
    std::printf("\ntotal benchmark time %.0f s\n", Now() - Start);
  }
};

int Main(int argc, char** argv) {
  StartLauncher();
  TOptions Options;
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    auto Value = [&]() -> std::string {
      if (I + 1 >= argc)
        Fail(A + " needs a value");
      return argv[++I];
    };
    if (A == "--kelpix")
      Options.Kelpix = Value();
    else if (A == "--runs")
      Options.Runs = std::max(1, std::atoi(Value().c_str()));
    else if (A == "--peer-runs")
      Options.PeerRuns = std::max(1, std::atoi(Value().c_str()));
    else if (A == "--slow-peer-runs")
      Options.SlowPeerRuns = std::max(1, std::atoi(Value().c_str()));
    else if (A == "--only")
      Options.Only = Value();
    else if (A == "--side")
      Options.Side = std::max(16, std::min(32767, std::atoi(Value().c_str())));
    else if (A == "--pages")
      Options.PageCount = std::max(4, std::min(32767, std::atoi(Value().c_str())));
    else if (A == "--work")
      Options.Work = Value();
    else if (A == "--keep")
      Options.Keep = true;
    else
      Fail("unknown argument " + A +
           " (--kelpix PATH [--runs N] [--peer-runs N] [--slow-peer-runs N] [--only ABCDEF] [--side N] "
           "[--pages N] [--work DIR] [--keep])");
  }
  if (Options.Kelpix.empty())
    Fail("--kelpix PATH is required");
  Options.Kelpix = fs::absolute(Options.Kelpix).string();
  if (::access(Options.Kelpix.c_str(), X_OK) != 0)
    Fail("no kelpix binary at " + Options.Kelpix);

  TBench Bench;
  Bench.Options = Options;
  if (Options.Work.empty()) {
    std::string Template = (fs::temp_directory_path() / "kelpix-bench-XXXXXX").string();
    if (::mkdtemp(Template.data()) == nullptr)
      Fail("cannot make a temporary directory");
    Bench.Work = Template;
  } else {
    fs::create_directories(Options.Work);
    Bench.Work = fs::absolute(Options.Work).string();
  }
  Bench.Peers = FindPeers();
  WriteText(Bench.Path("peer.py"), PeerScript);
  Bench.Run();
  if (!Options.Keep)
    fs::remove_all(Bench.Work);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return Main(argc, argv);
}
