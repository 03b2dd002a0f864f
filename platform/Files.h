// File functions of the platform layer. The handle functions report failure through their return
// values, so that the image code can turn them into result codes; ReadTextFile raises EFileError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using THandle = intptr_t;
constexpr THandle InvalidHandle = -1;

// Opens an existing file (not a directory) for reading only, unshared: while it is open no other
// opener may read or write it. InvalidHandle when it cannot be opened.
THandle FileOpenRead(const std::string& Path);
// Creates a file anew (an existing one is emptied) for reading and writing, unshared.
THandle FileCreate(const std::string& Path);
// Moves to an absolute position; returns it, or -1.
int64_t FileSeek(THandle Handle, int64_t Position);
// The length of the open file in bytes, or -1.
int64_t FileLength(THandle Handle);
// Reads up to Count bytes; returns the number read (less only at the end of the file), or -1.
int64_t FileRead(THandle Handle, void* Buffer, size_t Count);
// Writes Count bytes; returns the number written, or -1.
int64_t FileWrite(THandle Handle, const void* Buffer, size_t Count);
void FileClose(THandle Handle);
// True when a file of that name exists and is not a directory.
bool FileExists(const std::string& Path);

// Reads a whole file as bytes. It is opened for reading while other programs may read but not
// write it. Raises EFileError naming the file and the reason.
std::string ReadTextFile(const std::string& Path);

// The text of the system's last error, for messages.
std::string LastErrorText();
