#include "platform/Files.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

// Paths go to the system as the bytes the user gave, through the functions that take texts in the
// ANSI code page.

namespace {

HANDLE Native(THandle Handle) {
  return reinterpret_cast<HANDLE>(Handle);
}

// Opens Path with the given access and sharing. A directory is refused like a missing file, since
// only files are ever opened.
THandle OpenShared(const std::string& Path, DWORD Access, DWORD Share, DWORD Disposition) {
  const HANDLE File = ::CreateFileA(Path.c_str(), Access, Share, nullptr, Disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE)
    return InvalidHandle;
  BY_HANDLE_FILE_INFORMATION Info;
  const bool Known = ::GetFileInformationByHandle(File, &Info) != 0;
  if (!Known || (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    const DWORD Saved = Known ? ERROR_ACCESS_DENIED : ::GetLastError();
    ::CloseHandle(File);
    ::SetLastError(Saved);
    return InvalidHandle;
  }
  // INVALID_HANDLE_VALUE, the system's mark of a failed open, is the same value as InvalidHandle.
  return reinterpret_cast<THandle>(File);
}

}  // namespace

THandle FileOpenRead(const std::string& Path) {
  return OpenShared(Path, GENERIC_READ, 0, OPEN_EXISTING);
}

THandle FileCreate(const std::string& Path) {
  return OpenShared(Path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
}

int64_t FileSeek(THandle Handle, int64_t Position) {
  LARGE_INTEGER To;
  To.QuadPart = Position;
  LARGE_INTEGER At;
  if (Position < 0 || !::SetFilePointerEx(Native(Handle), To, &At, FILE_BEGIN))
    return -1;
  return static_cast<int64_t>(At.QuadPart);
}

int64_t FileLength(THandle Handle) {
  LARGE_INTEGER Size;
  if (!::GetFileSizeEx(Native(Handle), &Size))
    return -1;
  return static_cast<int64_t>(Size.QuadPart);
}

int64_t FileRead(THandle Handle, void* Buffer, size_t Count) {
  size_t Done = 0;
  while (Done < Count) {
    const DWORD Ask = static_cast<DWORD>(Count - Done > 0x40000000u ? 0x40000000u : Count - Done);
    DWORD Got = 0;
    if (!::ReadFile(Native(Handle), static_cast<char*>(Buffer) + Done, Ask, &Got, nullptr))
      return -1;
    if (Got == 0)
      break;
    Done += Got;
  }
  return static_cast<int64_t>(Done);
}

int64_t FileWrite(THandle Handle, const void* Buffer, size_t Count) {
  size_t Done = 0;
  while (Done < Count) {
    const DWORD Ask = static_cast<DWORD>(Count - Done > 0x40000000u ? 0x40000000u : Count - Done);
    DWORD Put = 0;
    if (!::WriteFile(Native(Handle), static_cast<const char*>(Buffer) + Done, Ask, &Put, nullptr))
      return -1;
    if (Put == 0)
      return -1;
    Done += Put;
  }
  return static_cast<int64_t>(Done);
}

void FileClose(THandle Handle) {
  if (Handle != InvalidHandle)
    ::CloseHandle(Native(Handle));
}

bool FileExists(const std::string& Path) {
  const DWORD Attributes = ::GetFileAttributesA(Path.c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string LastErrorText() {
  const DWORD Code = ::GetLastError();
  char* Text = nullptr;
  const DWORD Length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code,
      0, reinterpret_cast<char*>(&Text), 0, nullptr);
  std::string Message;
  if (Length != 0 && Text != nullptr)
    Message.assign(Text, Length);
  if (Text != nullptr)
    ::LocalFree(Text);
  // The system's texts end with a full stop and a line end; the messages carry neither.
  while (!Message.empty() && (Message.back() == '\n' || Message.back() == '\r' || Message.back() == ' '))
    Message.pop_back();
  if (!Message.empty() && Message.back() == '.')
    Message.pop_back();
  if (Message.empty())
    Message = "system error " + std::to_string(Code);
  return Message;
}

// Others may go on reading the file, but not write it while it is read.
static THandle OpenSharedRead(const std::string& Path) {
  return OpenShared(Path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

#else  // !_WIN32

namespace {

// Opens Path and takes an advisory lock of the given kind without waiting. Other programs that
// lock the file the same way are kept out while it is open.
THandle OpenLocked(const std::string& Path, int Flags, int Lock) {
  const int Fd = ::open(Path.c_str(), Flags | O_CLOEXEC, 0666);
  if (Fd < 0)
    return InvalidHandle;
  struct stat Info;
  const bool Stated = ::fstat(Fd, &Info) == 0;
  if (!Stated || S_ISDIR(Info.st_mode)) {
    const int Saved = Stated ? EISDIR : errno;
    ::close(Fd);
    errno = Saved;
    return InvalidHandle;
  }
  if (::flock(Fd, Lock | LOCK_NB) != 0) {
    const int Saved = errno;
    ::close(Fd);
    errno = Saved == EWOULDBLOCK ? EBUSY : Saved;
    return InvalidHandle;
  }
  return Fd;
}

}  // namespace

THandle FileOpenRead(const std::string& Path) {
  return OpenLocked(Path, O_RDONLY, LOCK_EX);
}

THandle FileCreate(const std::string& Path) {
  return OpenLocked(Path, O_RDWR | O_CREAT | O_TRUNC, LOCK_EX);
}

int64_t FileSeek(THandle Handle, int64_t Position) {
  const off_t At = ::lseek(static_cast<int>(Handle), static_cast<off_t>(Position), SEEK_SET);
  return At < 0 ? -1 : static_cast<int64_t>(At);
}

int64_t FileLength(THandle Handle) {
  struct stat Info;
  if (::fstat(static_cast<int>(Handle), &Info) != 0)
    return -1;
  return static_cast<int64_t>(Info.st_size);
}

int64_t FileRead(THandle Handle, void* Buffer, size_t Count) {
  size_t Done = 0;
  while (Done < Count) {
    const ssize_t N = ::read(static_cast<int>(Handle), static_cast<char*>(Buffer) + Done, Count - Done);
    if (N < 0) {
      if (errno == EINTR)
        continue;
      return -1;
    }
    if (N == 0)
      break;
    Done += static_cast<size_t>(N);
  }
  return static_cast<int64_t>(Done);
}

int64_t FileWrite(THandle Handle, const void* Buffer, size_t Count) {
  size_t Done = 0;
  while (Done < Count) {
    const ssize_t N = ::write(static_cast<int>(Handle), static_cast<const char*>(Buffer) + Done, Count - Done);
    if (N < 0) {
      if (errno == EINTR)
        continue;
      return -1;
    }
    Done += static_cast<size_t>(N);
  }
  return static_cast<int64_t>(Done);
}

void FileClose(THandle Handle) {
  if (Handle != InvalidHandle)
    ::close(static_cast<int>(Handle));
}

bool FileExists(const std::string& Path) {
  struct stat Info;
  return ::stat(Path.c_str(), &Info) == 0 && !S_ISDIR(Info.st_mode);
}

std::string LastErrorText() {
  return std::strerror(errno);
}

// Others that lock the file may go on reading it, but not write it while it is read.
static THandle OpenSharedRead(const std::string& Path) {
  return OpenLocked(Path, O_RDONLY, LOCK_SH);
}

#endif  // !_WIN32

std::string ReadTextFile(const std::string& Path) {
  const THandle Handle = OpenSharedRead(Path);
  if (Handle == InvalidHandle)
    throw EFileError("cannot open '" + Path + "': " + LastErrorText());
  std::string Text;
  // Room for the whole file at once, so that a large file is not copied over and over as the
  // text grows; the reads below still go on until the end, wherever that is.
  const int64_t Expected = FileLength(Handle);
  if (Expected > 0 && static_cast<uint64_t>(Expected) < Text.max_size())
    Text.reserve(static_cast<size_t>(Expected));
  char Chunk[65536];
  for (;;) {
    const int64_t N = FileRead(Handle, Chunk, sizeof Chunk);
    if (N < 0) {
      const std::string Reason = LastErrorText();
      FileClose(Handle);
      throw EFileError("cannot read '" + Path + "': " + Reason);
    }
    if (N == 0)
      break;
    Text.append(Chunk, static_cast<size_t>(N));
  }
  FileClose(Handle);
  return Text;
}
