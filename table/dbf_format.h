// The DBF table file layout: the 32-byte header, the 32-byte field descriptors and the
// record, with the pure functions that decode and encode them. Nothing here touches a
// file, so the same code serves the engine, the dump tool and the fuzz target.
// All multi-byte integers are little-endian.
//
// File header (offset 0):
//   off width meaning
//    0   1   version byte: table kind and memo kind (classify_version)
//    1   3   date of last update: year - 1900, month, day
//    4   4   record count (not trusted on open: the count comes from the file size)
//    8   2   header length: header + descriptors + terminator (+ any backlink area)
//   10   2   record length (not trusted on open: computed from the fields)
//   12  16   reserved, written back as read
//   28   1   table flags: bit 0 structural index; bit 1 FPT memo (extended kind only)
//   29   1   code-page byte (rewritten for the extended kind only)
//   30   2   reserved
// Field descriptor (from offset 32, one per 32 bytes, ended by a slot whose first byte
// is 0x0D):
//    0  11   name, NUL-padded; byte 10 is forced to NUL, so at most 10 characters
//   11   1   type letter
//   12   4   displacement in the record (not read: offsets are computed)
//   16   1   length (type C: low byte of a 16-bit length)
//   17   1   decimals (type C: high byte of the length)
//   18   1   field flags (extended kind): 1 hidden, 2 nullable, 4 binary, 8 autoincrement
//   19   4   next auto-increment value
//   23   1   auto-increment step
// Record: deletion byte (' ' live, '*' deleted), then the fields in descriptor order.
// Record n (from 1) starts at header length + (n - 1) x record length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lum::dbf {

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kDescriptorSize = 32;
inline constexpr std::uint8_t kTerminator = 0x0D;
inline constexpr std::uint8_t kEofByte = 0x1A;
inline constexpr std::uint8_t kLive = ' ';
inline constexpr std::uint8_t kDeleted = '*';
// The record length is stored in 16 bits; a longer record cannot be written back.
inline constexpr std::uint32_t kMaxRecordLength = 0xFFFF;

enum class TableKind : std::uint8_t { Standard, LevelFour, Extended };
enum class MemoKind : std::uint8_t { None, Dbt, Fpt, Smt };

// What a version byte says about the table.
struct VersionInfo {
  bool known = false;
  TableKind kind = TableKind::Standard;
  MemoKind memo = MemoKind::None;
  bool has_memo = false;  // the version itself declares memos (level-four kind)
  bool encrypted = false;
  bool autoinc = false;  // 0x31, 0x32
};
// `table_flags` is header byte 28; its bit 1 gives the FPT memo of the extended kind.
VersionInfo classify_version(std::uint8_t version, std::uint8_t table_flags);

// One field as the engine uses it.
struct Field {
  std::string name;  // upper case, at most 10 characters
  char type = 'C';
  std::uint32_t len = 0;  // bytes in the record
  std::uint8_t dec = 0;
  std::uint32_t offset = 0;  // from the start of the record (the deletion byte is 0)
  std::uint8_t flags = 0;    // extended kind only
  bool binary = false;       // a blank record holds zero bytes here, not blanks
  bool memo_ref = false;     // a reference into the memo file
  bool autoinc = false;
  std::uint32_t autoinc_next = 0;
  std::uint8_t autoinc_step = 0;
};

inline constexpr std::uint8_t kFieldHidden = 0x01;
inline constexpr std::uint8_t kFieldNullable = 0x02;
inline constexpr std::uint8_t kFieldBinary = 0x04;
inline constexpr std::uint8_t kFieldAutoinc = 0x08;

// The decoded header and descriptors of a table.
struct Header {
  std::array<std::uint8_t, kHeaderSize> raw{};  // as read; rewritten fields overlaid
  std::uint8_t version = 0;
  VersionInfo info;
  std::uint16_t header_len = 0;
  std::uint32_t record_len = 1;   // computed: 1 + the sum of the field lengths
  bool structural_index = false;  // table flags bit 0 as read
  bool has_memo = false;          // by version or by fields
  bool has_autoinc = false;
  std::vector<Field> fields;
};

enum class Status : std::uint8_t {
  Ok,
  ShortHeader,  // fewer than 32 header bytes
  BadVersion,   // version byte not in the table of kinds
  ShortDescriptors,
  BadDescriptor,  // a type letter or a length that is not accepted
  NoFields,       // no descriptor before the terminator
  RecordTooLong,  // record length above kMaxRecordLength
  ShortFile,      // the file ends inside the header length
};
// A short description of a status for messages and tests.
std::string_view status_text(Status s);

// Decodes the first 32 bytes. REQUIRES: none; fewer bytes give ShortHeader.
Status decode_header(std::span<const std::uint8_t> bytes, Header& out);
// Bytes of the descriptor block that follows the header: (header length - 32) / 32
// slots of 32 bytes, 0 when the header length is below 64.
std::size_t descriptor_block_size(const Header& h);
// Decodes the descriptor block into out.fields, computing offsets and the record
// length. REQUIRES: decode_header succeeded on `out`.
Status decode_descriptors(std::span<const std::uint8_t> block, Header& out);
// Record count for a file size: (size - header length) / record length; a trailing
// partial record or end-of-file byte does not count. With records of one byte the
// division alone would count the end-of-file byte too, so the file's last byte is
// needed then (`last_byte`, -1 when unknown): a last 0x1A is no record, as no record
// begins with it (its deletion byte is a blank or "*"). ShortFile when the file is
// shorter than its header length.
Status record_count_for_size(const Header& h, std::uint64_t file_size, std::uint32_t& count,
                             int last_byte = -1);

// Decodes a whole file image (header, descriptors, size check) as the engine's open
// does. Used by tools and the fuzz target.
Status decode_table(std::span<const std::uint8_t> file, Header& out, std::uint32_t& count);

// The code-page byte for a code-page name ("cp850" 0x02 ...); -1 for other names.
int codepage_byte(std::string_view codepage);

// Everything the header write needs besides the header as read.
struct HeaderWrite {
  std::uint32_t record_count = 0;
  int year = 1900, month = 1, day = 1;  // today's local date
  std::string_view codepage;            // the table's code page
};
// The 32 header bytes to write: version recomputed from the table's kind and memos,
// flags byte rebuilt, code-page byte for the extended kind, date, count, header
// length as read, computed record length; everything else as read.
std::array<std::uint8_t, kHeaderSize> encode_header(const Header& h, const HeaderWrite& w);

// The blank record: deletion byte ' ', text fields blanks, binary fields zeros.
std::vector<std::uint8_t> blank_record(const Header& h);

// Descriptor encoding for fixture builders and tools: a 32-byte descriptor of a field
// name, type, length and decimals (type C stores a 16-bit length in bytes 16-17).
std::array<std::uint8_t, kDescriptorSize> encode_descriptor(std::string_view name, char type,
                                                            std::uint32_t len, std::uint8_t dec,
                                                            std::uint8_t flags = 0);

inline std::uint16_t get_le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put_le16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_le32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint32_t get_be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void put_be32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

}  // namespace lum::dbf
