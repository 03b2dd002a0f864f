// Opening an image, building the page table, finding and deleting pages.
#include "Sti/Sti.h"

#include "platform/ByteOrder.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

TSti::~TSti() {
  ClearPages();
}

namespace {

// Where the bytes of an image come from: the open file (Open) or memory (LoadPages). Positions
// count from the start of the image; Size is the number of bytes from there to the end.
class TSource {
public:
  explicit TSource(uint64_t Size) : Size(Size) {}
  virtual ~TSource() = default;
  // A pointer to the Count bytes at Position, valid until the next call; null when they cannot
  // be read. For reads of at most WindowSize bytes.
  virtual const uint8_t* View(uint64_t Position, size_t Count) = 0;
  // Copies the Count bytes at Position to Target; false when they cannot be read.
  virtual bool Read(uint64_t Position, size_t Count, uint8_t* Target) = 0;

  static constexpr size_t WindowSize = size_t{1} << 20;
  const uint64_t Size;
};

class TMemorySource : public TSource {
public:
  TMemorySource(const uint8_t* Image, size_t Size) : TSource(Size), Image(Image) {}
  const uint8_t* View(uint64_t Position, size_t) override { return Image + Position; }
  bool Read(uint64_t Position, size_t Count, uint8_t* Target) override {
    if (Count != 0)
      std::memcpy(Target, Image + Position, Count);
    return true;
  }

private:
  const uint8_t* Image;
};

// The file is read a window of 1 MiB at a time, moved forward as the pages' data is taken in the
// order of their positions; data larger than the window goes straight into its buffer. So the
// file's bytes are read once and never held twice in memory.
class TFileSource : public TSource {
public:
  TFileSource(THandle Handle, int64_t Offset, uint64_t Size) : TSource(Size), Handle(Handle), Offset(Offset) {}
  const uint8_t* View(uint64_t Position, size_t Count) override {
    if (Position < WindowStart || Position + Count > WindowStart + WindowFilled) {
      const uint64_t Want = std::min<uint64_t>(WindowSize, Size - Position);
      if (Window.size() < Want)
        Window.resize(static_cast<size_t>(Want));
      WindowStart = Position;
      WindowFilled = 0;
      if (!Read(Position, static_cast<size_t>(Want), Window.data()))
        return nullptr;
      WindowFilled = Want;
    }
    return Window.data() + (Position - WindowStart);
  }
  bool Read(uint64_t Position, size_t Count, uint8_t* Target) override {
    const int64_t At = Offset + static_cast<int64_t>(Position);
    return Count == 0 || (FileSeek(Handle, At) == At && FileRead(Handle, Target, Count) == static_cast<int64_t>(Count));
  }

private:
  THandle Handle;
  int64_t Offset;
  std::vector<uint8_t> Window;
  uint64_t WindowStart = 0;
  uint64_t WindowFilled = 0;
};

// The page table and every page's data, read from Source, whose size has been checked against
// the header. NotSti, with an empty table, when the bytes cannot back what the header describes;
// CannotOpen when the file cannot be read.
// The pages' data together may claim at most this many times the image's size, plus the
// allowance: room for pages that share their data, but no more than a file could plausibly mean.
constexpr uint64_t SharedDataFactor = 64;
constexpr uint64_t SharedDataAllowance = uint64_t{64} << 20;

int LoadFrom(TSti& Image, TSource& Source) {
  const uint64_t Size = Source.Size;
  if (Image.IsRgb()) {
    const int64_t Width = Image.HeaderWidth();
    const int64_t Height = Image.HeaderHeight();
    if (Width < 0 || Height < 0)
      return Result::NotSti;
    const uint64_t Bytes = static_cast<uint64_t>(Width * Height * 2);
    if (Size < HeaderSize || Bytes > Size - HeaderSize)
      return Result::NotSti;
    auto Page = std::make_unique<TStiRecord>();
    Page->Data.resize(static_cast<size_t>(Bytes));
    if (!Source.Read(HeaderSize, static_cast<size_t>(Bytes), Page->Data.data()))
      return Result::CannotOpen;
    Image.Pages.SetObject(Image.Pages.Add(PageName(0)), Page.release());
    return Result::Ok;
  }

  const int Count = Image.HeaderPageCount();
  if (Count <= 0)
    return Result::Ok;
  const uint64_t Table = PageTableOffset;
  const uint64_t DataArea = Table + EntrySize * static_cast<uint64_t>(Count);
  if (DataArea > Size)
    return Result::NotSti;
  const size_t TableBytes = static_cast<size_t>(DataArea - Table);
  std::vector<uint8_t> Entries(TableBytes);
  if (!Source.Read(Table, TableBytes, Entries.data()))
    return Result::CannotOpen;

  // Every entry is checked against the size of the image before anything is allocated for it.
  // Entries may share data, but each page gets its own copy, so the data that all entries claim
  // together is bounded too: without that, a small file of many entries pointing at one large
  // blob would claim any amount of memory.
  const uint64_t MaxClaim = SharedDataFactor * Size + SharedDataAllowance;
  uint64_t Claimed = 0;
  std::vector<TStiRecord> Fields(static_cast<size_t>(Count));
  TByteReader Reader(Entries.data(), Entries.size());
  for (TStiRecord& Page : Fields) {
    Page.DataOffset = Reader.U32();
    Page.DataLength = Reader.U32();
    Page.OffsetX = Reader.S16();
    Page.OffsetY = Reader.S16();
    Page.Height = Reader.S16();
    Page.Width = Reader.S16();
    const uint64_t Start = DataArea + Page.DataOffset;
    if (!Reader.Good() || Start > Size || Page.DataLength > Size - Start)
      return Result::NotSti;
    Claimed += Page.DataLength;
    if (Claimed > MaxClaim)
      return Result::NotSti;
  }

  for (int I = 0; I < Count; ++I)
    Image.Pages.SetObject(Image.Pages.Add(PageName(I)), new TStiRecord(Fields[static_cast<size_t>(I)]));
  // The data is taken in the order of its position in the file, so that the reads move forward.
  std::vector<int> Order(static_cast<size_t>(Count));
  for (int I = 0; I < Count; ++I)
    Order[static_cast<size_t>(I)] = I;
  const auto Earlier = [&](int A, int B) {
    return Fields[static_cast<size_t>(A)].DataOffset < Fields[static_cast<size_t>(B)].DataOffset;
  };
  if (!std::is_sorted(Order.begin(), Order.end(), Earlier))
    std::sort(Order.begin(), Order.end(), Earlier);
  for (const int I : Order) {
    TStiRecord& Page = *Image.Record(I);
    const uint64_t Start = DataArea + Page.DataOffset;
    const size_t Length = Page.DataLength;
    bool Ok = true;
    if (Length <= TSource::WindowSize) {
      const uint8_t* Bytes = Source.View(Start, Length);
      Ok = Bytes != nullptr;
      if (Ok)
        Page.Data.assign(Bytes, Bytes + Length);
    } else {
      Page.Data.resize(Length);
      Ok = Source.Read(Start, Length, Page.Data.data());
    }
    if (!Ok) {
      Image.ClearPages();
      return Result::CannotOpen;
    }
  }
  return Result::Ok;
}

}  // namespace

int TSti::Open(const std::string& Name, int32_t Position) {
  ClearPages();
  PaletteCount = static_cast<int32_t>(PaletteEntries);
  FileName = Name;
  Offset = Position;

  Handle = FileOpenRead(FileName);
  if (Handle == InvalidHandle)
    return Result::CannotOpen;

  // Every field is taken from bytes read into memory, and the size of the image is known before
  // anything is read, so nothing is ever read past the bytes that the file really holds.
  int Code = Result::Ok;
  const int64_t Length = FileLength(Handle);
  if (Length < 0) {
    Code = Result::CannotOpen;
  } else {
    const uint64_t Size = Offset >= 0 && Offset < Length ? static_cast<uint64_t>(Length - Offset) : 0;
    TFileSource Source(Handle, Offset, Size);
    // Header and palette.
    const size_t Head = static_cast<size_t>(std::min<uint64_t>(Size, PageTableOffset));
    const uint8_t* Bytes = Head == 0 ? nullptr : Source.View(0, Head);
    if (Head != 0 && Bytes == nullptr) {
      Code = Result::CannotOpen;
    } else {
      // The header keeps what was read of it, even when the image turns out not to be one.
      if (Head != 0)
        std::memcpy(Header, Bytes, std::min(Head, HeaderSize));
      if (Head < sizeof StiMagic || std::memcmp(Bytes, StiMagic, sizeof StiMagic) != 0 || Head < HeaderSize ||
          (!IsRgb() && Head < PageTableOffset)) {
        Code = Result::NotSti;
      } else {
        if (!IsRgb())
          std::memcpy(Palette, Bytes + PaletteOffset, PaletteSize);
        Code = LoadFrom(*this, Source);
      }
    }
  }
  FileClose(Handle);
  Handle = InvalidHandle;
  return Code;
}

int TSti::LoadPages(const uint8_t* Image, size_t Size) {
  ClearPages();
  TMemorySource Source(Image, Size);
  return LoadFrom(*this, Source);
}

void TSti::ClearPages() {
  for (int I = 0; I < Pages.Count(); ++I)
    delete Record(I);
  Pages.Clear();
}

// The answer is that of the plain loop: for I from 0 while I < Pages.Count(), return I when
// SameName(Pages.Strings(I), Name); -1 after the loop. The index finds that first entry by the
// name's key instead of comparing every name before it.
int TSti::FindPage(const std::string& Name) const {
  return PageIndex.Find(Pages, Name);
}

int TSti::DeletePage(const std::string& Name) {
  if (IsRgb())
    return Result::RgbImage;
  const int Index = FindPage(Name);
  if (Index < 0)
    return Result::NoSuchPage;
  delete Record(Index);
  Pages.Delete(Index);
  PageIndex.Deleted(Pages, Index);
  return Result::Ok;
}
