// Replacing the contents of an existing file so that no failure can leave it half written.
//
// The new bytes go to a new temporary file beside the file to be replaced; every write is checked,
// the temporary file is flushed to the disk, and only then is it renamed over the original in one
// step (on Windows a replacing, write-through move). Until that rename the original is untouched;
// after it the name holds the complete new contents. Any failure on the way removes the temporary
// file and leaves the original byte for byte as it was.
//
// What a rename cannot keep: the replaced file is a new file, so other hard links to the original
// go on naming the old contents, and extended attributes or access control lists of the original
// are not carried over. Permission bits are kept, and owner and group where the system allows it.
// A symbolic link is followed: the file it points to is replaced and the link stays a link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class TReplaceResult {
  Replaced,     // the file now holds the new bytes
  Missing,      // no file of that name exists (a directory does not count as one)
  NotWritable,  // the file exists but cannot be opened for writing, is not a regular file, or is
                // open elsewhere
  Failed,       // the new contents could not be written, flushed or put in place
};

// Replaces the contents of the existing file Path with the Size bytes at Data. The original is
// held open for writing, unshared, while the new contents are written (on POSIX; on Windows it is
// checked and closed again, since a file open there cannot be replaced). On failure the reason is
// left in the system's last error (see LastErrorText). Raises nothing.
TReplaceResult SafeReplaceFile(const std::string& Path, const void* Data, size_t Size);

// Testing seam: faults that the safe writer meets on purpose, so that tests can drive each of its
// failure paths against real files. Programs never arm it; everything is disarmed by default, and
// a test that arms it disarms it again when done.
struct TSafeFileFault {
  // When 0 or more: the writes of the temporary file stop with a "no space left" error once this
  // many bytes of it were written, as on a full disk (the bytes before the limit are written).
  int64_t WriteLimit = -1;
  // The flush of the temporary file to the disk fails.
  bool FailFlush = false;
  // The rename of the temporary file over the original fails.
  bool FailRename = false;
};
extern TSafeFileFault SafeFileFault;
