#include "platform/SafeFile.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleA
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

TSafeFileFault SafeFileFault;

namespace {

// A temporary name beside the file: hidden, recognisable, and short enough for any file system.
std::string TemporaryBase(const std::string& Directory, const std::string& Name) {
  constexpr size_t MaxNamePart = 200;
  return Directory + "." + Name.substr(0, MaxNamePart) + ".kelpix-";
}

// How many of the Count bytes still to go the armed write limit lets through, given that Written
// bytes were written already; 0 means the write must fail.
size_t WriteWindow(uint64_t Written, size_t Count) {
  if (SafeFileFault.WriteLimit < 0)
    return Count;
  const uint64_t Limit = static_cast<uint64_t>(SafeFileFault.WriteLimit);
  const uint64_t Left = Written >= Limit ? 0 : Limit - Written;
  return Left < Count ? static_cast<size_t>(Left) : Count;
}

}  // namespace

#ifndef _WIN32

namespace {

// Writes all Count bytes, retrying short writes; false with errno set when a write fails.
bool WriteAll(int Fd, const void* Data, size_t Count) {
  const char* Bytes = static_cast<const char*>(Data);
  size_t Done = 0;
  while (Done < Count) {
    const size_t Chunk = WriteWindow(Done, Count - Done);
    if (Chunk == 0) {
      errno = ENOSPC;
      return false;
    }
    const ssize_t N = ::write(Fd, Bytes + Done, Chunk);
    if (N < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (N == 0) {
      errno = EIO;
      return false;
    }
    Done += static_cast<size_t>(N);
  }
  return true;
}

// Gives the new file the original's owner and group where the system allows it (a user may keep
// the group of a file only when he belongs to it), then its permission bits. Ownership goes first
// because changing it may clear the set-user-ID and set-group-ID bits.
bool CopyOwnerAndMode(int Fd, const struct stat& Original) {
  if (::fchown(Fd, Original.st_uid, Original.st_gid) != 0) {
    if (errno != EPERM)
      return false;
    if (::fchown(Fd, static_cast<uid_t>(-1), Original.st_gid) != 0 && errno != EPERM)
      return false;
  }
  return ::fchmod(Fd, Original.st_mode & 07777) == 0;
}

// Best effort: makes the rename itself durable. Some file systems cannot flush a directory; the
// file is in place by now either way, so a failure here is not reported.
void SyncDirectory(const std::string& Directory) {
  const int Fd = ::open(Directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0)
    return;
  ::fsync(Fd);
  ::close(Fd);
}

}  // namespace

TReplaceResult SafeReplaceFile(const std::string& Path, const void* Data, size_t Size) {
  struct stat Info;
  if (::stat(Path.c_str(), &Info) != 0 || S_ISDIR(Info.st_mode))
    return TReplaceResult::Missing;

  // Through a symbolic link the file it points to is replaced, so the temporary file goes beside
  // that file and the link itself stays as it is.
  char* Resolved = ::realpath(Path.c_str(), nullptr);
  if (Resolved == nullptr)
    return errno == ENOENT ? TReplaceResult::Missing : TReplaceResult::NotWritable;
  const std::string Target = Resolved;
  std::free(Resolved);
  const size_t Slash = Target.rfind('/');
  const std::string Directory = Target.substr(0, Slash + 1);  // realpath gives an absolute path
  const std::string Name = Target.substr(Slash + 1);

  // The original must be writable by us, a regular file, and not open elsewhere: the same test
  // that creating it anew would make. It stays open and locked until it has been replaced.
  const int Original = ::open(Target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (Original < 0)
    return errno == ENOENT ? TReplaceResult::Missing : TReplaceResult::NotWritable;
  if (::fstat(Original, &Info) != 0 || !S_ISREG(Info.st_mode) || ::flock(Original, LOCK_EX | LOCK_NB) != 0) {
    const int Saved = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(Original);
    errno = Saved;
    return TReplaceResult::NotWritable;
  }

  std::string Template = TemporaryBase(Directory, Name) + "XXXXXX";
  std::vector<char> TempName(Template.begin(), Template.end());
  TempName.push_back('\0');
  const int Temp = ::mkstemp(TempName.data());
  if (Temp < 0) {
    const int Saved = errno;
    ::close(Original);
    errno = Saved;
    return TReplaceResult::NotWritable;
  }
  ::fcntl(Temp, F_SETFD, FD_CLOEXEC);

  bool Ok = CopyOwnerAndMode(Temp, Info) && WriteAll(Temp, Data, Size);
  if (Ok && SafeFileFault.FailFlush) {
    errno = EIO;
    Ok = false;
  }
  Ok = Ok && ::fsync(Temp) == 0;
  int Error = Ok ? 0 : errno;
  // close may report a write that the file system deferred.
  if (::close(Temp) != 0 && Ok) {
    Error = errno;
    Ok = false;
  }
  if (Ok && SafeFileFault.FailRename) {
    Error = EIO;
    Ok = false;
  }
  if (Ok && ::rename(TempName.data(), Target.c_str()) != 0) {
    Error = errno;
    Ok = false;
  }
  if (!Ok) {
    ::unlink(TempName.data());
    ::close(Original);
    errno = Error;
    return TReplaceResult::Failed;
  }
  SyncDirectory(Directory);
  ::close(Original);
  return TReplaceResult::Replaced;
}

#else  // _WIN32

namespace {

// Writes all Count bytes in pieces a DWORD can count; false with the last error set on failure.
bool WriteAll(HANDLE File, const void* Data, size_t Count) {
  const char* Bytes = static_cast<const char*>(Data);
  size_t Done = 0;
  while (Done < Count) {
    size_t Chunk = WriteWindow(Done, Count - Done);
    if (Chunk == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    if (Chunk > 0x40000000)
      Chunk = 0x40000000;
    DWORD Written = 0;
    if (!WriteFile(File, Bytes + Done, static_cast<DWORD>(Chunk), &Written, nullptr))
      return false;
    if (Written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    Done += Written;
  }
  return true;
}

// The path of the file an open handle reaches, with symbolic links resolved; empty on failure.
std::string FinalPath(HANDLE File) {
  const DWORD Flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD Needed = GetFinalPathNameByHandleA(File, nullptr, 0, Flags);
  if (Needed == 0)
    return std::string();
  std::vector<char> Buffer(static_cast<size_t>(Needed) + 1);
  const DWORD Length = GetFinalPathNameByHandleA(File, Buffer.data(), static_cast<DWORD>(Buffer.size()), Flags);
  if (Length == 0 || Length >= Buffer.size())
    return std::string();
  std::string Path(Buffer.data(), Length);
  // Strip the extended-length prefix that the call adds: \\?\C:\… or \\?\UNC\server\….
  if (Path.compare(0, 8, "\\\\?\\UNC\\") == 0)
    Path = "\\\\" + Path.substr(8);
  else if (Path.compare(0, 4, "\\\\?\\") == 0)
    Path = Path.substr(4);
  return Path;
}

}  // namespace

TReplaceResult SafeReplaceFile(const std::string& Path, const void* Data, size_t Size) {
  const DWORD Attributes = GetFileAttributesA(Path.c_str());
  if (Attributes == INVALID_FILE_ATTRIBUTES || (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return TReplaceResult::Missing;

  // Opening for writing, unshared, is the test that creating the file anew would make; opening
  // follows a symbolic link, and the path of the file it reaches is the one replaced. The handle
  // is closed again, since a file that is open cannot be replaced.
  HANDLE Original = CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Original == INVALID_HANDLE_VALUE) {
    const DWORD Error = GetLastError();
    return Error == ERROR_FILE_NOT_FOUND || Error == ERROR_PATH_NOT_FOUND ? TReplaceResult::Missing
                                                                           : TReplaceResult::NotWritable;
  }
  const std::string Target = FinalPath(Original);
  const DWORD PathError = GetLastError();
  CloseHandle(Original);
  if (Target.empty()) {
    SetLastError(PathError);
    return TReplaceResult::NotWritable;
  }
  const size_t Separator = Target.find_last_of("\\/");
  const std::string Directory = Separator == std::string::npos ? std::string() : Target.substr(0, Separator + 1);
  const std::string Name = Separator == std::string::npos ? Target : Target.substr(Separator + 1);

  std::string TempName;
  HANDLE Temp = INVALID_HANDLE_VALUE;
  const std::string Base = TemporaryBase(Directory, Name) + std::to_string(GetCurrentProcessId()) + "-";
  for (int Attempt = 0; Attempt < 100 && Temp == INVALID_HANDLE_VALUE; ++Attempt) {
    TempName = Base + std::to_string(Attempt);
    Temp = CreateFileA(TempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Temp == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
      break;
  }
  if (Temp == INVALID_HANDLE_VALUE)
    return TReplaceResult::NotWritable;

  bool Ok = WriteAll(Temp, Data, Size);
  if (Ok && SafeFileFault.FailFlush) {
    SetLastError(ERROR_WRITE_FAULT);
    Ok = false;
  }
  Ok = Ok && FlushFileBuffers(Temp) != 0;
  DWORD Error = Ok ? 0 : GetLastError();
  if (!CloseHandle(Temp) && Ok) {
    Error = GetLastError();
    Ok = false;
  }
  // Keep the attributes of the original that describe the file rather than its state.
  const DWORD Kept = Attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                   FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (Ok && Kept != 0)
    SetFileAttributesA(TempName.c_str(), Kept);
  if (Ok && SafeFileFault.FailRename) {
    Error = ERROR_WRITE_FAULT;
    Ok = false;
  }
  if (Ok && !MoveFileExA(TempName.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Error = GetLastError();
    Ok = false;
  }
  if (!Ok) {
    DeleteFileA(TempName.c_str());
    SetLastError(Error);
    return TReplaceResult::Failed;
  }
  return TReplaceResult::Replaced;
}

#endif  // _WIN32
