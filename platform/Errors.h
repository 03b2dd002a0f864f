// Failures of the platform layer. They are exceptions, unlike the result codes of the image
// code; only the front end catches them.
#pragma once

#include <stdexcept>
#include <string>

// Base of every failure raised by the platform layer.
class EPlatformError : public std::runtime_error {
public:
  explicit EPlatformError(const std::string& Message) : std::runtime_error(Message) {}
};

// A text that is not a number.
class EConvertError : public EPlatformError {
public:
  explicit EConvertError(const std::string& Message) : EPlatformError(Message) {}
};

// A file that cannot be opened, read, created or written. The message names the file and the reason.
class EFileError : public EPlatformError {
public:
  explicit EFileError(const std::string& Message) : EPlatformError(Message) {}
};

// A file that is not a BMP file the bitmap can read.
class EBitmapError : public EPlatformError {
public:
  explicit EBitmapError(const std::string& Message) : EPlatformError(Message) {}
};
