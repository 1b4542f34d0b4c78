// DBF builder: writes DBF files of any structure, version byte and memo kind, byte by
// byte and independently of the engine. The sample generator writes its tables with it;
// tests make (and damage) their own fixtures with it and check the engine against them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lum::sample {

struct FieldLayout {
  std::string name;  // stored as given (at most 11 bytes), NUL-padded
  char type = 'C';
  int len = 10;  // type C: up to 65535 (bytes 16-17)
  int dec = 0;
  std::uint8_t flags = 0;  // byte 18
};

enum class MemoFile { None, Dbt, Fpt, Smt };

struct DbfLayout {
  std::vector<FieldLayout> fields;
  std::uint8_t version = 0x03;
  std::uint8_t table_flags = 0;  // byte 28
  std::uint8_t codepage = 0;     // byte 29
  std::uint8_t date[3] = {99, 1, 1};
  int backlink = 0;  // bytes after the terminator counted in the header length
  std::optional<std::uint16_t> header_length;  // overrides the computed one
  std::optional<std::uint32_t> stored_count;   // overrides the record count in the header
  std::optional<std::uint16_t> stored_record_length;
  bool terminator = true;
  bool eof_byte = true;            // a 0x1A after the last record
  MemoFile memo = MemoFile::None;  // the memo file written beside the table
  std::uint32_t memo_block_size = 512;
  std::string memo_signature;  // "" for none
};

struct RecordRow {
  std::vector<std::string> fields;  // raw bytes per field, cut or padded with blanks
  bool deleted = false;
};

// 1 + the sum of the field lengths.
int record_length(const DbfLayout& shape);
// The header length the builder writes: 32 + 32 per field + terminator + backlink.
int header_length(const DbfLayout& shape);
// The bytes of the whole table file.
std::vector<std::uint8_t> build_dbf(const DbfLayout& shape, const std::vector<RecordRow>& records);
// Writes the table (and its memo file, named with the memo kind's extension beside it).
void write_dbf(const std::filesystem::path& file, const DbfLayout& shape,
               const std::vector<RecordRow>& records = {});
// The memo file bytes: 512-byte header with next free block, block size and signature.
std::vector<std::uint8_t> build_memo(const DbfLayout& shape, std::uint32_t next_block);

// Whole-file helpers.
std::vector<std::uint8_t> read_bytes(const std::filesystem::path& file);
void write_bytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);
std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at);
std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at);

}  // namespace lum::sample
