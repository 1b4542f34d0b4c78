#include "import/line_scan.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"
#include "runtime/runtime.h"

namespace lum {

bool scan_lines(std::string_view name, std::uint64_t record_length, LineTally& tally) {
  File f;
  if (f.open(name, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return false;
  std::uint64_t size = f.size().bytes;
  char last = 0;
  if (size > 0 && f.read_at(size - 1, &last, 1).bytes == 1 && last == 0x1A) --size;
  std::vector<char> buf(1 << 20);
  std::uint64_t line = 0;  // bytes of the line so far
  bool open = false;       // a line has begun
  bool cr = false;         // the bytes so far end in a CR
  for (std::uint64_t at = 0; at < size;) {
    if (Runtime::interrupt_pending()) return false;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size - at));
    const std::size_t n = static_cast<std::size_t>(f.read_at(at, buf.data(), want).bytes);
    if (n == 0) return false;
    std::size_t pos = 0;
    if (cr) {
      cr = false;
      if (buf[0] == '\n') {
        tally.add(line - 1, record_length);
        line = 0;
        open = false;
        pos = 1;
      }
    }
    while (pos < n) {
      const void* hit = std::memchr(buf.data() + pos, '\r', n - pos);
      const std::size_t p =
          hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - buf.data()) : n;
      line += p - pos;
      open = true;
      if (p == n) break;
      if (p + 1 == n) {  // the LF, if it is one, comes with the next block
        ++line;
        cr = true;
        break;
      }
      if (buf[p + 1] == '\n') {
        tally.add(line, record_length);
        line = 0;
        open = false;
        pos = p + 2;
      } else {
        ++line;  // a CR alone is data
        pos = p + 1;
      }
    }
    at += n;
  }
  if (open) tally.add(line, record_length);
  return true;
}

std::uint64_t text_record_length(const std::vector<dbf::Field>& fields) {
  std::vector<SdfFieldDesc> structure;
  for (const dbf::Field& f : fields) {
    structure.push_back({f.name, f.type, static_cast<int>(f.len), f.dec});
  }
  return SdfLayout::from_structure(structure).record_length;
}

}  // namespace lum
