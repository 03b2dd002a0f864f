// Opening an image, building the page table, finding and deleting pages.
#include "Sti/Sti.h"

#include "platform/ByteOrder.h"
#include "platform/Text.h"

#include <cstring>
#include <memory>

TSti::~TSti() {
  ClearPages();
}

int TSti::Open(const std::string& Name, int32_t Position) {
  ClearPages();
  PaletteCount = static_cast<int32_t>(PaletteEntries);
  FileName = Name;
  Offset = Position;

  Handle = FileOpenRead(FileName);
  if (Handle == InvalidHandle)
    return Result::CannotOpen;

  // The whole image is read at once and parsed from memory, so no field is ever read past the
  // bytes that the file really holds.
  const int64_t Length = FileLength(Handle);
  if (Length < 0) {
    FileClose(Handle);
    Handle = InvalidHandle;
    return Result::CannotOpen;
  }
  std::vector<uint8_t> Image;
  if (Offset >= 0 && Offset < Length) {
    const uint64_t Size = static_cast<uint64_t>(Length - Offset);
    if (Size > SIZE_MAX) {
      FileClose(Handle);
      Handle = InvalidHandle;
      return Result::NotSti;
    }
    Image.resize(static_cast<size_t>(Size));
    if (FileSeek(Handle, Offset) != Offset ||
        FileRead(Handle, Image.data(), Image.size()) != static_cast<int64_t>(Image.size())) {
      FileClose(Handle);
      Handle = InvalidHandle;
      return Result::CannotOpen;
    }
  }
  FileClose(Handle);
  Handle = InvalidHandle;

  std::memcpy(Header, Image.data(), Image.size() < HeaderSize ? Image.size() : HeaderSize);
  if (Image.size() < sizeof StiMagic || std::memcmp(Image.data(), StiMagic, sizeof StiMagic) != 0)
    return Result::NotSti;
  if (Image.size() < HeaderSize)
    return Result::NotSti;

  if (!IsRgb()) {
    if (Image.size() < PageTableOffset)
      return Result::NotSti;
    std::memcpy(Palette, Image.data() + PaletteOffset, PaletteSize);
  }
  return LoadPages(Image.data(), Image.size());
}

int TSti::LoadPages(const uint8_t* Image, size_t Size) {
  ClearPages();

  if (IsRgb()) {
    const int64_t Width = HeaderWidth();
    const int64_t Height = HeaderHeight();
    if (Width < 0 || Height < 0)
      return Result::NotSti;
    const uint64_t Bytes = static_cast<uint64_t>(Width * Height * 2);
    if (Size < HeaderSize || Bytes > Size - HeaderSize)
      return Result::NotSti;
    auto Page = std::make_unique<TStiRecord>();
    Page->Data.assign(Image + HeaderSize, Image + HeaderSize + Bytes);
    Pages.SetObject(Pages.Add(PageName(0)), Page.release());
    return Result::Ok;
  }

  const int Count = HeaderPageCount();
  if (Count <= 0)
    return Result::Ok;
  const uint64_t Table = PageTableOffset;
  const uint64_t DataArea = Table + EntrySize * static_cast<uint64_t>(Count);
  if (DataArea > Size)
    return Result::NotSti;

  // Every entry is checked against the file before anything is allocated for it.
  TByteReader Entries(Image + Table, static_cast<size_t>(DataArea - Table));
  for (int I = 0; I < Count; ++I) {
    auto Page = std::make_unique<TStiRecord>();
    Page->DataOffset = Entries.U32();
    Page->DataLength = Entries.U32();
    Page->OffsetX = Entries.S16();
    Page->OffsetY = Entries.S16();
    Page->Height = Entries.S16();
    Page->Width = Entries.S16();
    const uint64_t Start = DataArea + Page->DataOffset;
    if (!Entries.Good() || Start > Size || Page->DataLength > Size - Start) {
      ClearPages();
      return Result::NotSti;
    }
    Page->Data.assign(Image + Start, Image + Start + Page->DataLength);
    Pages.SetObject(Pages.Add(PageName(I)), Page.release());
  }
  return Result::Ok;
}

void TSti::ClearPages() {
  for (int I = 0; I < Pages.Count(); ++I)
    delete Record(I);
  Pages.Clear();
}

int TSti::FindPage(const std::string& Name) const {
  for (int I = 0; I < Pages.Count(); ++I)
    if (SameName(Pages.Strings(I), Name))
      return I;
  return -1;
}

int TSti::DeletePage(const std::string& Name) {
  if (IsRgb())
    return Result::RgbImage;
  const int Index = FindPage(Name);
  if (Index < 0)
    return Result::NoSuchPage;
  delete Record(Index);
  Pages.Delete(Index);
  return Result::Ok;
}
