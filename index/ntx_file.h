// One open NTX index file: its header, a cache of its pages by address, new pages and
// the free chain, and flushing with the version counter. Every failure is raised as an
// error of subsystem "DBFNTX" naming the index file, then reported as false / 0 / null.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "index/ntx_format.h"
#include "platform/file.h"

namespace lum {

inline constexpr const char* kNtxDriverName = "DBFNTX";

class NtxFile {
 public:
  NtxFile() = default;
  // Writes what is still cached without raising, then closes. Never throws.
  ~NtxFile();
  NtxFile(const NtxFile&) = delete;
  NtxFile& operator=(const NtxFile&) = delete;

  // Creates the file, emptying an existing one; exclusive unless `shared`. A failure
  // raises "Create error" (20, sub-code 1006, retry and default allowed) and is tried
  // again while the handler asks for it. The header is left blank: define it, then
  // reset().
  bool create(std::string_view name, bool shared);
  // Opens an existing index and reads its header. Open failure: "Open error" (21,
  // 1001, retry and default); a header that fails the acceptance test or has no root:
  // "Corruption detected" (32, 1012).
  bool open(std::string_view name, bool read_only, bool shared);
  // Flushes and closes. Returns false when the flush failed (the file is closed anyway).
  bool close();
  // Closes without writing what is cached and deletes the file: what a build that did
  // not finish leaves, so that no half-written index remains for a later open. Never
  // raises; a file that cannot be deleted stays behind.
  void discard();
  bool is_open() const { return file_.is_open(); }
  const std::string& name() const { return name_; }

  NtxHeader& header() { return header_; }
  const NtxHeader& header() const { return header_; }

  // Empties the file to its header block: version, root and free chain 0, cache dropped,
  // the whole header written as it stands (the version thereby becomes 1 only at the
  // next header write). REQUIRES: the header's geometry is set.
  bool reset();
  // Writes the header with the version counter increased: all 1024 bytes, or only the
  // first 12.
  bool write_header(bool full);
  // Marks the header changed, so the next flush writes it (whole when `full`).
  void header_changed(bool full = false);

  // The cached page at `a`, read when not cached. A short read raises "Read error"
  // (23, 1010); an address off a block boundary, the header block, or a page whose
  // count or slot table is impossible raises "Corruption detected" (32, 1012). Null on
  // failure. The pointer stays valid until trim(), flush-and-drop or reset().
  std::uint8_t* page(NtxAddr a);
  NtxPageView view(std::uint8_t* p) const {
    return NtxPageView(p, header_.max_keys, header_.key_size);
  }
  // Marks a cached page changed.
  void touch(NtxAddr a);
  // A fresh page (cached, changed): the head of the free chain when there is one, else
  // a new page at the end of the file. 0 on failure.
  NtxAddr new_page();
  // Puts the page at the head of the free chain.
  bool free_page(NtxAddr a);
  // The next address at the end of the file: the file length the first time, then the
  // previous address + 1024. 0 when the length cannot be had ("Read error", 23, 1010).
  NtxAddr take_end_address();
  // The most entries a tree in this file can hold: every block of the file (and every
  // page handed out beyond its end) filled to M keys. A walk in one direction that
  // visits more entries than this visits some of them twice: the pages form a cycle
  // or are shared between parents.
  std::uint64_t entry_bound();

  // Writes changed pages in address order, then the header when anything changed.
  bool flush();
  // Called when an operation is over: keeps the cache within its size, writing changed
  // pages that leave it.
  bool trim();

  // Raw block transfer for the build's batched page writes; a short write raises
  // "Write error" (24, 1011).
  bool write_blocks(NtxAddr a, const std::uint8_t* data, std::size_t n);

  // Raises "Corruption detected" (32, 1012) naming this file; returns false.
  bool report_corruption();
  // While quiet, failures are reported as false only, without raising: for the last
  // moments of the process.
  void set_quiet(bool q) { quiet_ = q; }

  // Changes whenever keys are inserted or removed, or the file is emptied, so that a
  // remembered tree position can tell it must be located again.
  std::uint64_t generation() const { return generation_; }
  void bump_generation() { ++generation_; }

  // Tests: the number of pages the cache keeps after trim().
  void set_cache_limit(std::size_t pages) { cache_limit_ = pages; }

 private:
  struct CachedPage {
    std::array<std::uint8_t, kNtxBlockSize> bytes;
    bool dirty = false;
    std::uint64_t used = 0;
  };

  bool write_page(NtxAddr a, CachedPage& p);
  bool raise_io(int gencode, int subcode, int oscode);

  File file_;
  std::string name_;
  NtxHeader header_;
  bool header_dirty_ = false;
  bool header_full_ = false;
  NtxAddr end_ = 0;  // last address handed out at the end of the file; 0 = ask the file
  std::unordered_map<NtxAddr, std::unique_ptr<CachedPage>> cache_;
  std::uint64_t clock_ = 0;
  std::size_t cache_limit_ = 256;
  std::uint64_t generation_ = 0;
  bool quiet_ = false;
};

}  // namespace lum
