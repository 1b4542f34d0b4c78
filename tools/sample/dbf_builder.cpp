#include "tools/sample/dbf_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace lum::sample {

namespace {

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put32be(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

}  // namespace

int record_length(const DbfLayout& shape) {
  int n = 1;
  for (const FieldLayout& f : shape.fields) n += f.len;
  return n;
}

int header_length(const DbfLayout& shape) {
  if (shape.header_length) return *shape.header_length;
  return 32 + 32 * static_cast<int>(shape.fields.size()) + (shape.terminator ? 1 : 0) +
         shape.backlink;
}

std::vector<std::uint8_t> build_dbf(const DbfLayout& shape, const std::vector<RecordRow>& records) {
  const int rl = record_length(shape);
  const int natural =
      32 + 32 * static_cast<int>(shape.fields.size()) + (shape.terminator ? 1 : 0) + shape.backlink;
  const int hl = header_length(shape);
  std::vector<std::uint8_t> b(static_cast<std::size_t>(std::max(natural, hl)), 0);
  b[0] = shape.version;
  b[1] = shape.date[0];
  b[2] = shape.date[1];
  b[3] = shape.date[2];
  put32(b, 4, shape.stored_count.value_or(static_cast<std::uint32_t>(records.size())));
  put16(b, 8, static_cast<std::uint32_t>(hl));
  put16(b, 10, shape.stored_record_length.value_or(static_cast<std::uint16_t>(rl)));
  b[28] = shape.table_flags;
  b[29] = shape.codepage;
  std::size_t at = 32;
  int offset = 1;
  for (const FieldLayout& f : shape.fields) {
    std::memcpy(&b[at], f.name.data(), std::min<std::size_t>(f.name.size(), 11));
    b[at + 11] = static_cast<std::uint8_t>(f.type);
    put32(b, at + 12, static_cast<std::uint32_t>(offset));
    if (f.type == 'C') {
      put16(b, at + 16, static_cast<std::uint32_t>(f.len));
    } else {
      b[at + 16] = static_cast<std::uint8_t>(f.len);
      b[at + 17] = static_cast<std::uint8_t>(f.dec);
    }
    b[at + 18] = f.flags;
    offset += f.len;
    at += 32;
  }
  if (shape.terminator) b[at] = 0x0D;
  b.resize(static_cast<std::size_t>(hl), 0);
  for (const RecordRow& r : records) {
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(rl), ' ');
    rec[0] = r.deleted ? '*' : ' ';
    std::size_t pos = 1;
    for (std::size_t i = 0; i < shape.fields.size(); ++i) {
      std::size_t len = static_cast<std::size_t>(shape.fields[i].len);
      if (i < r.fields.size()) {
        const std::string& v = r.fields[i];
        std::memcpy(&rec[pos], v.data(), std::min(len, v.size()));
      }
      pos += len;
    }
    b.insert(b.end(), rec.begin(), rec.end());
  }
  if (shape.eof_byte) b.push_back(0x1A);
  return b;
}

std::vector<std::uint8_t> build_memo(const DbfLayout& shape, std::uint32_t next_block) {
  std::vector<std::uint8_t> m(512, 0);
  if (shape.memo == MemoFile::Fpt) {
    put32be(m, 0, next_block);
    put32be(m, 4, shape.memo_block_size);
  } else {
    put32(m, 0, next_block);
    put32(m, 4, shape.memo_block_size);
  }
  std::memcpy(&m[8], shape.memo_signature.data(),
              std::min<std::size_t>(8, shape.memo_signature.size()));
  return m;
}

void write_dbf(const std::filesystem::path& file, const DbfLayout& shape,
               const std::vector<RecordRow>& records) {
  write_bytes(file, build_dbf(shape, records));
  if (shape.memo == MemoFile::None) return;
  std::filesystem::path memo = file;
  memo.replace_extension(shape.memo == MemoFile::Dbt   ? ".dbt"
                         : shape.memo == MemoFile::Fpt ? ".fpt"
                                                       : ".smt");
  // A memo file with some content after the header, so a zap visibly empties it.
  std::vector<std::uint8_t> m = build_memo(shape, 4);
  m.resize(m.size() + 3 * std::max<std::uint32_t>(shape.memo_block_size, 1), 'x');
  write_bytes(memo, m);
}

std::vector<std::uint8_t> read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + file.string());
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at)) | (static_cast<std::uint32_t>(b.at(at + 1)) << 8) |
         (static_cast<std::uint32_t>(b.at(at + 2)) << 16) |
         (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}

}  // namespace lum::sample
