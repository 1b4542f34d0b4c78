// NTX index files: the byte layout of the header block and of the B-tree pages, the test
// a header must pass before anything else in it is believed, and a view that reads and
// edits one page in place. Every integer in the file is little-endian.
//
// The file is a row of 1024-byte blocks. Block 0 is the header; every other block is a
// page, addressed by its byte offset (a multiple of 1024; 0 means "no page").
//
// Header block (offset 0)
//   Offset Width Meaning
//   0      2     signature and flags: 0x0006, | 0x0001 when the index has a FOR condition
//   2      2     version counter: +1 (mod 65536) at every header write; 0 after emptying
//   4      4     address of the root page
//   8      4     address of the first free page (head of the free chain); 0 = none
//   12     2     item size = K + 8
//   14     2     key size K (1..256)
//   16     2     key decimals (numeric keys; else 0)
//   18     2     maximum keys per page M
//   20     2     half page = M / 2
//   22     256   key expression text, zero padded (cut at 256)
//   278    1     unique flag (1: only the first record of each key value is indexed)
//   279    1     zero
//   280    1     descending flag
//   281    1     zero
//   282    256   FOR condition text, zero padded; all zero when there is none
//   538    12    order name, up to 10 characters, zero padded; written only when an
//                order name was given at creation
//   550    1     custom flag (0 for every index built here)
//   551    473   zero
// Only the first 12 bytes (signature, version, root, free chain) are rewritten by an
// ordinary flush; the whole block when the index is (re)defined.
//
// Page (1024 bytes at its address)
//   Offset  Width              Meaning
//   0       2                  number of keys n (0..M)
//   2       2 * (M + 1)        slot table: entry i = byte offset in the page of the item
//                              that holds key i
//   2M + 4  (M + 1) * (K + 8)  item area
// Item (K + 8 bytes)
//   0       4                  child page address (0 in a leaf)
//   4       4                  record number
//   8       K                  key bytes
// Keys 0..n-1 are the items named by slot entries 0..n-1, in key order; entry n names the
// item whose child is the page's rightmost child (its record number and key are written
// as zeros). The child of key i holds keys before key i; the rightmost child holds keys
// after key n-1. A free page is linked through the child address of its entry 0.
#pragma once

#include "table/dbf_format.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace lum {

// Byte offset of a page in an index file; 0 is "no page" (the header block).
using NtxAddr = std::uint32_t;

inline constexpr std::size_t kNtxBlockSize = 1024;
inline constexpr std::uint16_t kNtxSignature = 0x0006;
inline constexpr std::uint16_t kNtxForFlag = 0x0001;
// Bits 0x0800..0x4000 mark layouts this engine cannot read.
inline constexpr std::uint16_t kNtxRejectMask = 0x7800;
inline constexpr int kNtxMaxKeySize = 256;
inline constexpr std::size_t kNtxExprSize = 256;
inline constexpr std::size_t kNtxOrderNameMax = 10;
inline constexpr std::size_t kNtxShortHeaderSize = 12;
// The build keeps one open page per level; a tree never gets deeper than this.
inline constexpr int kNtxMaxLevels = 32;

// Header field offsets.
inline constexpr std::size_t kNtxOffSignature = 0;
inline constexpr std::size_t kNtxOffVersion = 2;
inline constexpr std::size_t kNtxOffRoot = 4;
inline constexpr std::size_t kNtxOffFree = 8;
inline constexpr std::size_t kNtxOffItemSize = 12;
inline constexpr std::size_t kNtxOffKeySize = 14;
inline constexpr std::size_t kNtxOffKeyDec = 16;
inline constexpr std::size_t kNtxOffMaxKeys = 18;
inline constexpr std::size_t kNtxOffHalfPage = 20;
inline constexpr std::size_t kNtxOffKeyExpr = 22;
inline constexpr std::size_t kNtxOffUnique = 278;
inline constexpr std::size_t kNtxOffDescending = 280;
inline constexpr std::size_t kNtxOffForExpr = 282;
inline constexpr std::size_t kNtxOffOrderName = 538;
inline constexpr std::size_t kNtxOrderNameField = 12;
inline constexpr std::size_t kNtxOffCustom = 550;

// Item offsets.
inline constexpr std::size_t kNtxItemChild = 0;
inline constexpr std::size_t kNtxItemRecord = 4;
inline constexpr std::size_t kNtxItemKey = 8;

// Little-endian integers, as the table layer reads and writes them.
using dbf::get_le16;
using dbf::get_le32;
using dbf::put_le16;
using dbf::put_le32;

// Maximum keys per page for key size K: 1022 / (K + 10) - 1, made even when above 2
// (K = 5: 66, K = 8: 54, K = 10: 50, K = 256: 2).
constexpr int ntx_max_keys(int key_size) {
  int m = 1022 / (key_size + 10) - 1;
  if (m > 2 && (m % 2) != 0) --m;
  return m;
}

// The header block as fields.
struct NtxHeader {
  std::uint16_t signature = kNtxSignature;
  std::uint16_t version = 0;
  NtxAddr root = 0;
  NtxAddr free_head = 0;
  std::uint16_t item_size = 0;
  std::uint16_t key_size = 0;
  std::uint16_t key_dec = 0;
  std::uint16_t max_keys = 0;
  std::uint16_t half_page = 0;
  std::string key_expr;    // at most 256 bytes are stored
  std::string for_expr;    // empty: no FOR condition
  std::string order_name;  // empty: none written
  bool unique = false;
  bool descending = false;
  bool custom = false;

  // Sets K, decimals, item size, M and the half page for a key of that shape.
  void set_geometry(int key_size_in, int key_dec_in);
};

// Writes all 1024 bytes of the header block.
void encode_ntx_header(const NtxHeader& h, std::uint8_t* block);
// Writes only the first 12 bytes (signature, version, root, free chain).
void encode_ntx_short_header(const NtxHeader& h, std::uint8_t* first12);

// Reads a header block. Returns false, with the defect named in `why`, when the block
// fails the acceptance test (a rejected signature bit, the 0x0006 bits missing, a key
// expression that starts below a blank) or describes pages that could not be read safely
// (key size outside 1..256, an item size other than K + 8, a page table and item area
// that overflow 1024 bytes, addresses not on a 1024 boundary). A root of 0 is accepted
// here; the caller decides whether an index without a root is usable.
bool decode_ntx_header(const std::uint8_t* block, NtxHeader& h, std::string* why = nullptr);

// A page seen through its slot table. The view does not own the bytes; every accessor
// requires the slot index in range (0..M) and a page that passed check().
class NtxPageView {
 public:
  NtxPageView(std::uint8_t* bytes, int max_keys, int key_size)
      : p_(bytes), m_(max_keys), k_(key_size) {}

  // Fills the page as a fresh one: n = 0, entry i = 2M + 4 + i * (K + 8), all else 0.
  void init_fresh();
  // True when n <= M and every slot entry names an item wholly inside the page.
  bool check() const;

  int count() const { return get_le16(p_); }
  void set_count(int n) { put_le16(p_, static_cast<std::uint16_t>(n)); }
  int max_keys() const { return m_; }
  int key_size() const { return k_; }
  std::uint8_t* bytes() { return p_; }
  const std::uint8_t* bytes() const { return p_; }

  int slot(int i) const { return get_le16(p_ + 2 + 2 * i); }
  NtxAddr child(int i) const { return get_le32(item(i) + kNtxItemChild); }
  std::uint32_t record(int i) const { return get_le32(item(i) + kNtxItemRecord); }
  const std::uint8_t* key(int i) const { return item(i) + kNtxItemKey; }

  void set_child(int i, NtxAddr a) { put_le32(item(i) + kNtxItemChild, a); }
  void set_record(int i, std::uint32_t r) { put_le32(item(i) + kNtxItemRecord, r); }
  void set_key(int i, const std::uint8_t* key) {
    std::memcpy(item(i) + kNtxItemKey, key, static_cast<std::size_t>(k_));
  }
  // Sets child, record and key of slot i at once.
  void set_entry(int i, NtxAddr child, std::uint32_t rec, const std::uint8_t* key) {
    set_child(i, child);
    set_record(i, rec);
    set_key(i, key);
  }

  // Opens slot i (0..n) for a new key: entries i..n move one place right and the spare
  // entry after them becomes entry i; n grows by one. The caller fills slot i.
  // REQUIRES: n < M.
  void insert_slot(int i);
  // Removes key i (0..n-1) with its child: entries i+1..n move one place left and entry
  // i's item is rotated to the end of the used part. n shrinks by one.
  void remove_slot(int i);
  // Zeroes the record number and key of entry n, which carry no meaning.
  void clear_rightmost_payload();

 private:
  std::uint8_t* item(int i) { return p_ + slot(i); }
  const std::uint8_t* item(int i) const { return p_ + slot(i); }
  void set_slot(int i, int off) { put_le16(p_ + 2 + 2 * i, static_cast<std::uint16_t>(off)); }

  std::uint8_t* p_;
  int m_;
  int k_;
};

}  // namespace lum
