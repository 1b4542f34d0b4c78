// Fuzz target for the DBF header and descriptor reader: any byte string is decoded as
// a table file image; when it decodes, its header is encoded again, its blank record
// made, and every field of every record read, so a bad count, offset or length shows
// up as an out-of-range access under the sanitizers. Memo headers get the same.
#include <cstddef>
#include <cstdint>
#include <span>

#include "table/dbf_format.h"
#include "table/field_codec.h"
#include "table/memo_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  lum::dbf::Header h;
  std::uint32_t count = 0;
  if (lum::dbf::decode_table(bytes, h, count) == lum::dbf::Status::Ok) {
    lum::dbf::HeaderWrite w;
    w.record_count = count;
    (void)lum::dbf::encode_header(h, w);
    std::vector<std::uint8_t> blank = lum::dbf::blank_record(h);
    for (std::uint32_t r = 0; r < count && r < 64; ++r) {
      const std::uint8_t* rec = data + h.header_len + static_cast<std::size_t>(r) * h.record_len;
      for (const lum::dbf::Field& f : h.fields) {
        if (f.memo_ref) {
          (void)lum::memo_block_of(std::span<const std::uint8_t>(rec + f.offset, f.len));
        } else {
          (void)lum::decode_field(f, rec + f.offset);
          (void)lum::decode_field(f, blank.data() + f.offset);
        }
      }
    }
  }
  for (auto kind : {lum::dbf::MemoKind::Dbt, lum::dbf::MemoKind::Fpt, lum::dbf::MemoKind::Smt}) {
    lum::MemoHeader m = lum::parse_memo_header(kind, bytes.first(size < 1024 ? size : 1024));
    if (m.block_size > 0 && m.block_size <= 65536) (void)lum::empty_memo_file(kind, m);
  }
  return 0;
}
