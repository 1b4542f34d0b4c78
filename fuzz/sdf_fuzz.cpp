// Fuzz target for the text import: the first bytes choose a small table structure
// (one to five fields of the kinds C, N, F, D, L and M in several widths), the rest is
// the text file imported into it with __DBSDF, as the conversions import. Afterwards,
// read back as bytes, the table must be whole: its header counts the records the file
// holds, each record has the structure's length, and the number of records is that of
// an independent reading of the line rule (CR LF ends a line, a final 0x1A is dropped,
// text after the last line end is a line). Character fields hold their bytes of the
// line, and in whole-image mode every record is its line cut or padded to the text
// record length. Content never makes the import fail: the one error allowed is the
// "Data width error" of a field write in field-by-field mode (a number text that does
// not fit its field with the field's decimals), answered default as the run allows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "import/sdf.h"
#include "index/index_commands.h"
#include "table/dbcmd.h"
#include "table/dbf_format.h"
#include "tools/sample/dbf_builder.h"

namespace {

using namespace lum;

struct Shape {
  sample::DbfLayout layout;
  std::vector<std::size_t> text_offsets;  // of each field in the text record
  std::size_t text_length = 0;            // L
  std::size_t record_length = 1;          // of the table
  bool whole_image = true;
};

Shape shape_from(fuzz::Input& in) {
  Shape s;
  const int fields = 1 + in.byte() % 5;
  for (int i = 0; i < fields; ++i) {
    const std::uint8_t kind = in.byte();
    const std::uint8_t size = in.byte();
    sample::FieldLayout f;
    f.name = "F" + std::to_string(i);
    std::size_t text = 0, table = 0;
    switch (kind % 8) {
      case 0:
      case 1:
      case 2:
        f.type = 'C';
        f.len = size % 20;  // 0 too: a field of no bytes
        text = table = static_cast<std::size_t>(f.len);
        break;
      case 3:
      case 4:
        f.type = kind % 8 == 3 ? 'N' : 'F';
        f.len = 1 + size % 20;
        f.dec = f.len > 2 ? size / 20 % 4 % (f.len - 1) : 0;
        text = table = static_cast<std::size_t>(f.len);
        break;
      case 5:
        f.type = 'D';
        f.len = size % 4 == 0 ? 3 + size / 4 % 2 : 8;  // binary day numbers now and then
        text = 8;
        table = static_cast<std::size_t>(f.len);
        if (f.len != 8) s.whole_image = false;
        break;
      case 6:
        f.type = 'L';
        f.len = 1;
        text = table = 1;
        break;
      default:
        f.type = 'M';
        f.len = 10;
        table = 10;  // no bytes in the text
        s.whole_image = false;
        s.layout.version = 0x83;
        s.layout.memo = sample::MemoFile::Dbt;
        break;
    }
    s.text_offsets.push_back(s.text_length);
    s.text_length += text;
    s.record_length += table;
    s.layout.fields.push_back(f);
  }
  return s;
}

// The lines of the text as the line rule reads them, each cut or padded to L.
std::vector<std::string> lines_of(std::string text, std::size_t length) {
  if (!text.empty() && text.back() == '\x1A') text.pop_back();
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    line.resize(length, ' ');
    out.push_back(std::move(line));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return out;
}

void check_table(const Shape& s, const std::string& text) {
  const std::string file = fuzz::read_file(fuzz::scratch("t.dbf"));
  std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(file.data()),
                                      file.size());
  dbf::Header h;
  std::uint32_t count = 0;
  fuzz::check(dbf::decode_table(bytes, h, count) == dbf::Status::Ok, "the table no longer decodes");
  fuzz::check(h.record_len == s.record_length, "the record length is not the structure's");
  fuzz::check(dbf::get_le16(bytes.data() + 10) == s.record_length, "the header's record length");
  fuzz::check(dbf::get_le32(bytes.data() + 4) == count, "the header's count is not the file's");
  const std::uint64_t end = h.header_len + std::uint64_t{count} * h.record_len;
  fuzz::check(file.size() == end || (file.size() == end + 1 && file.back() == '\x1A'),
              "the file holds a partial record");
  const std::vector<std::string> lines = lines_of(text, s.text_length);
  fuzz::check(count == lines.size(), "the record count is not the count of lines");
  for (std::uint32_t r = 0; r < count; ++r) {
    const char* rec = file.data() + h.header_len + std::uint64_t{r} * h.record_len;
    fuzz::check(rec[0] == ' ', "an imported record is marked deleted");
    if (s.whole_image) {
      fuzz::check(std::string_view(rec + 1, s.text_length) == lines[r],
                  "a record is not the image of its line");
      continue;
    }
    for (std::size_t i = 0; i < h.fields.size(); ++i) {
      const dbf::Field& f = h.fields[i];
      if (f.type != 'C') continue;
      fuzz::check(std::string_view(rec + f.offset, f.len) ==
                      std::string_view(lines[r]).substr(s.text_offsets[i], f.len),
                  "a character field does not hold its bytes of the line");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const Shape s = shape_from(in);
  const std::string text(in.rest());
  sample::write_dbf(fuzz::scratch("t.dbf"), s.layout);
  fuzz::write_file(fuzz::scratch("t.txt"), text);
  {
    fuzz::Run run({{kErrDataWidth, 1021}});
    register_ntx_driver();
    fuzz::check(DBUSEAREA(true, {}, Value(fuzz::scratch("t.dbf"))),
                "the staging table did not open");
    fuzz::check(cmd::DBZAP(), "the staging table was not emptied");
    fuzz::check(cmd::DBSDF(false, Value(fuzz::scratch("t.txt"))), "the import failed");
    DBCLOSEALL();
  }
  check_table(s, text);
  return 0;
}
