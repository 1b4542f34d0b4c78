// A reader of NTX index files for the tests, written from the file layout alone and apart
// from the index engine: it checks the header and the shape of every page and lists the
// keys in tree order, so a test can compare an index with the keys it works out itself.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lum::test {

struct NtxEntry {
  std::string key;  // key_size bytes
  std::uint32_t record = 0;
  bool operator==(const NtxEntry&) const = default;
};

struct NtxIndex {
  std::uint16_t signature = 0;
  std::uint16_t version = 0;
  std::uint32_t root = 0;
  std::uint32_t free_page = 0;
  std::uint16_t item_size = 0;
  std::uint16_t key_size = 0;
  std::uint16_t key_decimals = 0;
  std::uint16_t max_keys = 0;
  std::uint16_t half_page = 0;
  std::string key_expression;  // up to the first zero byte
  bool unique = false;
  bool descending = false;
  std::string for_condition;      // "" without one
  int depth = 0;                  // levels of pages from the root to the leaves
  std::size_t pages = 0;          // pages reached from the root
  std::vector<NtxEntry> entries;  // every key in tree order
};

// Parses an index file. Throws std::runtime_error naming the first fault: a size that is
// not whole blocks, a page address outside the file or met twice, a key count above the
// page maximum, a slot offset outside the item area or used twice in a page, leaves at
// different depths, or an empty page other than the root of an empty index.
NtxIndex read_ntx(std::string_view bytes);

// The largest number of keys a page holds for key size `key_size`.
int ntx_max_keys(int key_size);

}  // namespace lum::test
