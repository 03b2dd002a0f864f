// Saving: the pages' data laid out anew, back to back in page-table order, and the whole image
// written in one pass to a new file that replaces the old one only once it is complete.
#include "Sti/Sti.h"

#include "platform/ByteOrder.h"
#include "platform/SafeFile.h"

#include <cstring>

static_assert(sizeof(TSti::Palette) == PaletteSize, "the palette is written as one block");

namespace {

// The bytes of the saved 8-bit image: header, all 256 palette entries, the page table and the
// pages' data at their DataOffset values. False when the image cannot be laid out: more pages
// than PageCount can describe, more data than a 32-bit DataOffset can reach, or a record whose
// Data does not hold DataLength bytes.
bool LayOut(const TSti& Image, std::vector<uint8_t>& Bytes) {
  const int Count = Image.HeaderPageCount();
  if (Count != Image.Pages.Count())
    return false;
  uint64_t Total = 0;
  for (int I = 0; I < Count; ++I) {
    const TStiRecord* Page = Image.Record(I);
    if (Page == nullptr || Page->Data.size() != Page->DataLength)
      return false;
    Total += Page->DataLength;
  }
  if (Total > UINT32_MAX)
    return false;
  const uint64_t DataArea = PageTableOffset + EntrySize * static_cast<uint64_t>(Count);
  const uint64_t Size = DataArea + Total;
  if (Size > SIZE_MAX)
    return false;

  Bytes.assign(static_cast<size_t>(Size), 0);
  // Always true (the data area starts behind header and palette); stated so that g++ sees it too,
  // which otherwise warns at -O3 that the palette copy may run past an empty buffer.
  if (Bytes.size() < PageTableOffset)
    return false;
  uint8_t* Out = Bytes.data();
  const size_t Length = Bytes.size();
  std::memcpy(Out, Image.Header, HeaderSize);
  std::memcpy(Out + PaletteOffset, Image.Palette, PaletteSize);
  bool Ok = true;
  for (int I = 0; I < Count; ++I) {
    const TStiRecord& Page = *Image.Record(I);
    const size_t Entry = PageTableOffset + EntrySize * static_cast<size_t>(I);
    Ok = Ok && WriteLE(Out, Length, Entry + 0, 4, Page.DataOffset)
         && WriteLE(Out, Length, Entry + 4, 4, Page.DataLength)
         && WriteLE(Out, Length, Entry + 8, 2, static_cast<uint16_t>(Page.OffsetX))
         && WriteLE(Out, Length, Entry + 10, 2, static_cast<uint16_t>(Page.OffsetY))
         && WriteLE(Out, Length, Entry + 12, 2, static_cast<uint16_t>(Page.Height))
         && WriteLE(Out, Length, Entry + 14, 2, static_cast<uint16_t>(Page.Width));
    const uint64_t Start = DataArea + Page.DataOffset;
    if (!Ok || Start > Length || Page.DataLength > Length - Start)
      return false;
    if (Page.DataLength != 0)
      std::memcpy(Out + Start, Page.Data.data(), Page.DataLength);
  }
  return Ok;
}

}  // namespace

void TSti::UpdateOffsets() {
  uint32_t Total = 0;
  for (int I = 0; I < Pages.Count(); ++I) {
    TStiRecord& Page = *Record(I);
    Page.DataOffset = Total;
    Total += Page.DataLength;
  }
  // PageCount keeps the low 16 bits; Save refuses a count that they cannot describe.
  WriteLE(Header, HeaderSize, PageCountOffset, 2, static_cast<uint32_t>(Pages.Count()) & 0xFFFFu);
  uint32_t Original = 0;
  uint32_t Stored = 0;
  ReadLE(Header, HeaderSize, OriginalSizeOffset, 4, Original);
  ReadLE(Header, HeaderSize, StoredSizeOffset, 4, Stored);
  if (Original == Stored)
    WriteLE(Header, HeaderSize, OriginalSizeOffset, 4, Total);
  WriteLE(Header, HeaderSize, StoredSizeOffset, 4, Total);
}

int TSti::Save(const std::string& Name) {
  if (Offset != 0)
    return Result::NotAtStart;
  const std::string Target = Name.empty() ? FileName : Name;
  // The 8-bit layout would destroy the picture of a 16-bit image; refused before anything changes.
  if (IsRgb())
    return Result::RgbImage;
  UpdateOffsets();
  if (!FileExists(Target))
    return Result::SaveMissing;

  std::vector<uint8_t> Bytes;
  if (!LayOut(*this, Bytes))
    return Result::CannotCreate;
  switch (SafeReplaceFile(Target, Bytes.data(), Bytes.size())) {
    case TReplaceResult::Replaced:
      return Result::Ok;
    case TReplaceResult::Missing:
      return Result::SaveMissing;
    case TReplaceResult::NotWritable:
    case TReplaceResult::Failed:
      break;
  }
  return Result::CannotCreate;
}
