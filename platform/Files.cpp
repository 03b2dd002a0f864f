#include "platform/Files.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifndef _WIN32

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

std::string ReadTextFile(const std::string& Path) {
  const THandle Handle = OpenLocked(Path, O_RDONLY, LOCK_SH);
  if (Handle == InvalidHandle)
    throw EFileError("cannot open '" + Path + "': " + LastErrorText());
  std::string Text;
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

#endif  // !_WIN32
