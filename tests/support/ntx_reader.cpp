#include "tests/support/ntx_reader.h"

#include <set>

namespace lum::test {
namespace {

constexpr std::size_t kBlock = 1024;

std::uint32_t u16(std::string_view b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
std::uint32_t u32(std::string_view b, std::size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }
std::string zero_ended(std::string_view b) { return std::string(b.substr(0, b.find('\0'))); }

[[noreturn]] void fault(const std::string& what, std::uint32_t page) {
  throw std::runtime_error("ntx: " + what + " in the page at " + std::to_string(page));
}

class Walker {
 public:
  Walker(std::string_view bytes, NtxIndex& ix) : b_(bytes), ix_(ix) {}

  void walk(std::uint32_t page, int level) {
    if (page == 0 || page % kBlock != 0 || page + kBlock > b_.size()) {
      fault("address outside the file", page);
    }
    if (!seen_.insert(page).second) fault("page reached twice", page);
    ++ix_.pages;
    std::string_view p = b_.substr(page, kBlock);
    const unsigned n = u16(p, 0);
    const unsigned m = ix_.max_keys;
    if (n > m) fault("key count " + std::to_string(n) + " above " + std::to_string(m), page);
    if (n == 0 && level != 0) fault("empty page below the root", page);
    const std::size_t items = 2 * m + 4;
    std::set<unsigned> offsets;
    std::vector<std::uint32_t> child(n + 1);
    for (unsigned i = 0; i <= n; ++i) {
      unsigned off = u16(p, 2 + 2 * i);
      if (off < items || off + ix_.item_size > kBlock || (off - items) % ix_.item_size != 0) {
        fault("slot offset " + std::to_string(off) + " outside the item area", page);
      }
      if (!offsets.insert(off).second) fault("slot offset used twice", page);
      child[i] = u32(p, off);
    }
    bool leaf = child[0] == 0;
    for (unsigned i = 0; i <= n; ++i) {
      if ((child[i] == 0) != leaf) fault("leaf and branch items mixed", page);
    }
    if (leaf) {
      if (leaf_level_ < 0) leaf_level_ = level;
      if (leaf_level_ != level) fault("leaves at different depths", page);
    }
    for (unsigned i = 0; i <= n; ++i) {
      if (!leaf) walk(child[i], level + 1);
      if (i == n) break;
      unsigned off = u16(p, 2 + 2 * i);
      ix_.entries.push_back({std::string(p.substr(off + 8, ix_.key_size)), u32(p, off + 4)});
    }
  }
  int depth() const { return leaf_level_ + 1; }

 private:
  std::string_view b_;
  NtxIndex& ix_;
  std::set<std::uint32_t> seen_;
  int leaf_level_ = -1;
};

}  // namespace

int ntx_max_keys(int key_size) {
  int m = 1022 / (key_size + 10) - 1;
  if (m % 2 == 1 && m > 2) --m;
  return m;
}

NtxIndex read_ntx(std::string_view b) {
  if (b.size() < 2 * kBlock || b.size() % kBlock != 0) {
    throw std::runtime_error("ntx: file size " + std::to_string(b.size()) +
                             " is not a header and whole pages");
  }
  NtxIndex ix;
  ix.signature = static_cast<std::uint16_t>(u16(b, 0));
  ix.version = static_cast<std::uint16_t>(u16(b, 2));
  ix.root = u32(b, 4);
  ix.free_page = u32(b, 8);
  ix.item_size = static_cast<std::uint16_t>(u16(b, 12));
  ix.key_size = static_cast<std::uint16_t>(u16(b, 14));
  ix.key_decimals = static_cast<std::uint16_t>(u16(b, 16));
  ix.max_keys = static_cast<std::uint16_t>(u16(b, 18));
  ix.half_page = static_cast<std::uint16_t>(u16(b, 20));
  ix.key_expression = zero_ended(b.substr(22, 256));
  ix.unique = b[278] != 0;
  ix.descending = b[280] != 0;
  ix.for_condition = zero_ended(b.substr(282, 256));
  if (ix.key_size < 1 || ix.key_size > 256 || ix.item_size != ix.key_size + 8 ||
      ix.max_keys != ntx_max_keys(ix.key_size) || ix.half_page != ix.max_keys / 2) {
    throw std::runtime_error("ntx: header sizes do not fit together");
  }
  Walker w(b, ix);
  w.walk(ix.root, 0);
  ix.depth = w.depth();
  return ix;
}

}  // namespace lum::test
