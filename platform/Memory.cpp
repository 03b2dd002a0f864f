// The program's memory for objects (operator new and delete), taken from the system in large
// pieces that the system is asked to back with huge pages.
//
// kelpix spends most of its time touching memory that it has just allocated: a 4096 x 4096 bitmap
// is 48 MiB, and the page table of a large image is tens of thousands of small buffers. Where
// transparent huge pages are given only on request, every 4 KiB of fresh memory costs one page
// fault, and on a virtual machine a fault can cost as much as copying the page many times over.
// Here memory comes from mappings aligned to 2 MiB and advised for huge pages, so one fault maps
// 2 MiB. Blocks up to 1 MiB are cut from shared chunks in size classes (each class keeps a list of
// its freed blocks for reuse); larger blocks get a mapping of their own, returned when freed.
//
// Only on Linux, where madvise(MADV_HUGEPAGE) exists, and not under the sanitizers, which must see
// every allocation themselves; elsewhere the standard library's operator new is used unchanged.
// The program runs on one thread, but a spin lock keeps the lists consistent all the same.
#if defined(__linux__) && !defined(KELPIX_SYSTEM_ALLOCATOR)

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define KELPIX_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KELPIX_SANITIZED 1
#endif

#ifndef KELPIX_SANITIZED

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace {

constexpr size_t HugePage = size_t{2} << 20;
constexpr size_t ChunkSize = size_t{8} << 20;
constexpr size_t MaxSmall = size_t{1} << 20;
// Every block is preceded by a header of this size, which keeps the blocks 16-byte aligned.
constexpr size_t HeaderSize = 16;

// Size classes: 16 to 128 in steps of 16, then four steps for every doubling up to 1 MiB.
constexpr size_t ClassCount = 8 + 4 * 13;

constexpr size_t ClassSize(size_t Class) {
  return Class < 8 ? 16 * (Class + 1) : (size_t{128} << ((Class - 8) / 4)) / 4 * (4 + (Class - 8) % 4 + 1);
}
static_assert(ClassSize(7) == 128 && ClassSize(8) == 160 && ClassSize(11) == 256 && ClassSize(12) == 320,
              "classes step by a quarter of the doubling");
static_assert(ClassSize(ClassCount - 1) == MaxSmall, "the last class holds the largest small block");

size_t ClassOf(size_t Size) {
  if (Size <= 128)
    return Size == 0 ? 0 : (Size - 1) / 16;
  size_t Low = 8, High = ClassCount - 1;  // the first class at least Size lies in Low .. High
  while (Low < High) {
    const size_t Middle = (Low + High) / 2;
    if (ClassSize(Middle) >= Size)
      High = Middle;
    else
      Low = Middle + 1;
  }
  return Low;
}

struct THeader {
  uint64_t Class;    // the size class, or LargeBlock
  uint64_t Mapping;  // for a large block: the length of its mapping
};
static_assert(sizeof(THeader) == HeaderSize, "the header keeps blocks aligned");
constexpr uint64_t LargeBlock = ~uint64_t{0};

struct TFree {
  TFree* Next;
};

// Constant-initialised, so that allocations made before any constructor runs find them ready.
TFree* FreeLists[ClassCount];
char* ChunkNext;
char* ChunkEnd;
std::atomic_flag Busy = ATOMIC_FLAG_INIT;

class TLock {
public:
  TLock() {
    while (Busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~TLock() { Busy.clear(std::memory_order_release); }
};

// A mapping of Length bytes (a multiple of HugePage) that starts on a HugePage boundary.
void* MapAligned(size_t Length) {
  void* Raw = ::mmap(nullptr, Length + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Raw == MAP_FAILED)
    return nullptr;
  const uintptr_t Start = reinterpret_cast<uintptr_t>(Raw);
  const uintptr_t Aligned = (Start + HugePage - 1) & ~(HugePage - 1);
  if (Aligned > Start)
    ::munmap(Raw, Aligned - Start);
  const uintptr_t End = Start + Length + HugePage;
  if (End > Aligned + Length)
    ::munmap(reinterpret_cast<void*>(Aligned + Length), End - (Aligned + Length));
  // Advice only: where it is refused, the mapping works with small pages.
  ::madvise(reinterpret_cast<void*>(Aligned), Length, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(Aligned);
}

void* AllocateSmall(size_t Size) {
  const size_t Class = ClassOf(Size);
  TLock Lock;
  if (TFree* Block = FreeLists[Class]) {
    FreeLists[Class] = Block->Next;
    return Block;
  }
  const size_t Need = HeaderSize + ClassSize(Class);
  if (ChunkNext == nullptr || static_cast<size_t>(ChunkEnd - ChunkNext) < Need) {
    // The rest of the old chunk is given up; it was never touched, so it costs no memory.
    char* Chunk = static_cast<char*>(MapAligned(ChunkSize));
    if (Chunk == nullptr)
      return nullptr;
    ChunkNext = Chunk;
    ChunkEnd = Chunk + ChunkSize;
  }
  THeader* Header = reinterpret_cast<THeader*>(ChunkNext);
  Header->Class = Class;
  Header->Mapping = 0;
  ChunkNext += Need;
  return Header + 1;
}

void* AllocateLarge(size_t Size) {
  if (Size > SIZE_MAX - HeaderSize - HugePage * 2)
    return nullptr;
  const size_t Length = (Size + HeaderSize + HugePage - 1) / HugePage * HugePage;
  THeader* Header = static_cast<THeader*>(MapAligned(Length));
  if (Header == nullptr)
    return nullptr;
  Header->Class = LargeBlock;
  Header->Mapping = Length;
  return Header + 1;
}

void* TryAllocate(size_t Size) {
  return Size <= MaxSmall ? AllocateSmall(Size) : AllocateLarge(Size);
}

void* Allocate(size_t Size) {
  for (;;) {
    if (void* Block = TryAllocate(Size))
      return Block;
    const std::new_handler Handler = std::get_new_handler();
    if (Handler == nullptr)
      throw std::bad_alloc();
    Handler();
  }
}

void Release(void* Block) noexcept {
  if (Block == nullptr)
    return;
  THeader* Header = static_cast<THeader*>(Block) - 1;
  if (Header->Class == LargeBlock) {
    ::munmap(Header, static_cast<size_t>(Header->Mapping));
    return;
  }
  TLock Lock;
  TFree* Free = static_cast<TFree*>(Block);
  Free->Next = FreeLists[Header->Class];
  FreeLists[Header->Class] = Free;
}

}  // namespace

void* operator new(std::size_t Size) {
  return Allocate(Size);
}
void* operator new[](std::size_t Size) {
  return Allocate(Size);
}
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(Size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(Size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* Block) noexcept {
  Release(Block);
}
void operator delete[](void* Block) noexcept {
  Release(Block);
}
void operator delete(void* Block, std::size_t) noexcept {
  Release(Block);
}
void operator delete[](void* Block, std::size_t) noexcept {
  Release(Block);
}
void operator delete(void* Block, const std::nothrow_t&) noexcept {
  Release(Block);
}
void operator delete[](void* Block, const std::nothrow_t&) noexcept {
  Release(Block);
}

#endif  // KELPIX_SANITIZED
#endif  // __linux__
