#include "import/byte_source.h"

#include <algorithm>
#include <cstring>

namespace lum {

IoResult MemorySource::read_at(std::uint64_t offset, char* data, std::size_t n) {
  ++reads_;
  if (offset >= bytes_.size()) return {};
  const std::size_t got = std::min<std::uint64_t>(n, bytes_.size() - offset);
  std::memcpy(data, bytes_.data() + offset, got);
  return {got, kOsOk};
}

IoResult FileSource::read_at(std::uint64_t offset, char* data, std::size_t n) {
  return file_.read_at(offset, data, n);
}

ReadAhead::ReadAhead(ByteSource& inner, std::size_t window)
    : inner_(inner), buf_(new char[window]), capacity_(window) {}

IoResult ReadAhead::read_at(std::uint64_t offset, char* data, std::size_t n) {
  const bool inside = offset >= start_ && offset - start_ <= size_;
  if (at_end_ && offset >= start_ + size_) return {};  // known to lie past the end
  if (!inside || (offset - start_ + n > size_ && !at_end_)) {
    if (n > capacity_) {
      // Larger than the window: read straight through and leave the window alone.
      return inner_.read_at(offset, data, n);
    }
    IoResult r = inner_.read_at(offset, buf_.get(), capacity_);
    start_ = offset;
    size_ = static_cast<std::size_t>(r.bytes);
    at_end_ = r.oscode == kOsOk && size_ < capacity_;
    if (r.oscode != kOsOk) {
      // Hand over what arrived with the failure; the window is not trusted afterwards.
      const std::size_t got = std::min(n, size_);
      std::memcpy(data, buf_.get(), got);
      size_ = 0;
      return {got, r.oscode};
    }
  }
  const std::size_t from = static_cast<std::size_t>(offset - start_);
  const std::size_t got = std::min(n, size_ - from);
  std::memcpy(data, buf_.get() + from, got);
  return {got, kOsOk};
}

}  // namespace lum
