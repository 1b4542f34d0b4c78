// Building an NTX tree in one pass: entries (key bytes, record number) are sorted in a
// sort area (spilled as sorted runs to a temporary file and merged when they do not fit),
// then laid into pages bottom-up, written in file order in batches, and the right edge
// is balanced. No key goes through the tree search during a build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "index/ntx_file.h"

namespace lum {

// Where the entries of a build come from (the table's records, in record order).
class NtxKeySource {
 public:
  enum class Next : std::uint8_t { Entry, End, Failed };

  virtual ~NtxKeySource() = default;
  // The number of records the source visits: N, which sizes the sort area.
  virtual std::uint64_t record_count() const = 0;
  // The next entry: K key bytes into `key` and its record number. Records left out by
  // a FOR condition are not returned. Failed: the source has raised an error and the
  // build stops.
  virtual Next next(std::uint8_t* key, std::uint32_t& rec) = 0;
};

struct NtxBuildOptions {
  // Entries held in memory at once; 0 sizes the area from N and K. Tests set a small
  // number to make the build spill runs.
  std::size_t sort_capacity = 0;
};

// The sort area's capacity C for N records of key size K: 128 * ceil(sqrt(N / (K + 4)))
// entries, doubled until it reaches 1 MiB / (K + 4) entries, then capped at N.
std::size_t ntx_sort_capacity(std::uint64_t n, int key_size);

// What a build did, for tests and the benchmark.
struct NtxBuildStats {
  std::size_t capacity = 0;   // entries held in memory
  std::size_t runs = 0;       // sorted runs spilled to the temporary file (0: none)
  std::uint64_t entries = 0;  // entries placed in the tree
  std::size_t pages = 0;      // pages written
  bool balanced = false;      // the right edge needed balancing
};

// Builds the tree of `file` from `source`. REQUIRES: the file was just reset(), its
// header defining key size, decimals, page geometry and the unique and descending
// flags. Sets the root in the header; the caller writes the header afterwards. The
// temporary file: "Create error" (20, 1060) when it cannot be created, "Write error"
// (24, 1061) on a short write, "Read error" (23, 1010) on a short read back.
bool build_ntx_tree(NtxFile& file, NtxKeySource& source, const NtxBuildOptions& options = {},
                    NtxBuildStats* stats = nullptr);

// Defines the index of `file` by `definition` (key expression, key size and decimals,
// flags, order name), empties the file to its header, builds the tree and writes the
// whole header (which then carries version 1). REQUIRES: the file is open for writing.
bool create_ntx_index(NtxFile& file, const NtxHeader& definition, NtxKeySource& source,
                      const NtxBuildOptions& options = {}, NtxBuildStats* stats = nullptr);

}  // namespace lum
