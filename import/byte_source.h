// Where the text import gets its bytes: positioned reads from a file or from memory,
// and a read-ahead window in front of either, so that walking a text file record by
// record costs one system call per window rather than one per record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace lum {

// Positioned reads. A read returns up to n bytes; fewer only at the end of the bytes
// or when the host reports a failure (its OS code in the result).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual IoResult read_at(std::uint64_t offset, char* data, std::size_t n) = 0;
};

// Bytes held in memory (tests, and anything already loaded). Counts its reads.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  IoResult read_at(std::uint64_t offset, char* data, std::size_t n) override;
  std::size_t reads() const { return reads_; }

 private:
  std::string bytes_;
  std::size_t reads_ = 0;
};

// An open host file; owns it and closes it when destroyed.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(File file) : file_(std::move(file)) {}
  IoResult read_at(std::uint64_t offset, char* data, std::size_t n) override;
  File& file() { return file_; }

 private:
  File file_;
};

// A read-ahead window over another source. A read inside the window is a copy; a read
// that leaves it refills the window from the requested offset with one read of the
// inner source. A window cut short by the end of the bytes is remembered, so reading at
// or past the end costs no further inner read. Failures are passed on, never cached.
class ReadAhead final : public ByteSource {
 public:
  static constexpr std::size_t kDefaultWindow = 256 * 1024;

  explicit ReadAhead(ByteSource& inner, std::size_t window = kDefaultWindow);
  IoResult read_at(std::uint64_t offset, char* data, std::size_t n) override;

 private:
  ByteSource& inner_;
  std::unique_ptr<char[]> buf_;
  std::size_t capacity_;
  std::uint64_t start_ = 0;  // file offset of buf_[0]
  std::size_t size_ = 0;     // valid bytes in buf_
  bool at_end_ = false;      // the window reaches the end of the bytes
};

}  // namespace lum
