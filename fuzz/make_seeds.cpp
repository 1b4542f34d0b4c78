// Writes the seed corpora of the fuzz targets into <dir>/<target>/ (the repository keeps
// them in fuzz/corpus): indexes built by the engine over the index target's table, one
// per key type, plus a unique one and one of an empty table; memo files of each kind
// and variant with a block of text; staging structures with text lines that hit the
// line rule's cases; one input per value function. Run it again when a format changes:
//   make_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/ntx_table.h"
#include "index/index_commands.h"
#include "table/dbcmd.h"
#include "table/names.h"

namespace {

using namespace lum;
namespace fs = std::filesystem;
using namespace std::string_literals;

void put(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  fuzz::write_file(dir / name, bytes);
}

void index_seeds(const fs::path& out) {
  struct Seed {
    const char* name;
    const char* key;
    bool unique;
    bool empty;
  } seeds[] = {
      {"code.ntx", "CODE", false, false},       {"qty.ntx", "QTY", false, false},
      {"when.ntx", "WHEN", false, false},       {"ok.ntx", "OK", false, false},
      {"code_unique.ntx", "CODE", true, false}, {"empty.ntx", "code", false, true},
  };
  for (const Seed& s : seeds) {
    fuzz::write_file(fuzz::scratch("t.dbf"), fuzz::ntx_table_bytes(s.empty));
    {
      fuzz::Run run({});
      register_ntx_driver();
      DBUSEAREA(true, {}, Value(fuzz::scratch("t.dbf")));
      std::string key = s.key;
      DBCREATEINDEX(
          Value(fuzz::scratch("t.ntx")), Value(key), [key] { return field_get(key); },
          Value::logical(s.unique));
      DBCLOSEALL();
    }
    put(out / "ntx", s.name, fuzz::read_file(fuzz::scratch("t.ntx")));
  }
}

std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
std::string be32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * (3 - i)));
  return s;
}

void memo_seeds(const fs::path& out) {
  // The first byte: kind (byte % 3: DBT, FPT, SMT) and the second record's reference
  // (byte / 3 % 9); 3 + kind gives reference 1.
  auto header = [](std::string first8, const char* signature, std::size_t size) {
    std::string h = first8 + signature;
    h.resize(size, '\0');
    return h;
  };
  std::string dbt = header(le32(2) + le32(512), "Tessera", 512);
  dbt += "a memo of the level-three kind\x1A\x1A";
  dbt.resize(1024, '\0');
  put(out / "memo", "dbt", "\x03"s + dbt);
  std::string fpt = header(be32(2) + be32(64), "Tessera", 512);
  fpt += be32(1) + be32(11) + "a memo text";
  put(out / "memo", "fpt", "\x04"s + fpt);
  std::string six = header(be32(2) + be32(512), "SIxMemo", 512);
  six += be32(1) + be32(4) + "six!";
  put(out / "memo", "fpt_six", "\x04"s + six);
  std::string flex = header(be32(3) + be32(512), "Tessera", 512) + "FlexFile3\x03"s;
  flex.resize(1024, '\0');
  flex += be32(1) + be32(4) + "flex";
  put(out / "memo", "fpt_flex", "\x04"s + flex);
  std::string smt = header(le32(33) + le32(32), "Tessera", 512);
  smt += "small";
  put(out / "memo", "smt", "\x05"s + smt);
}

void sdf_seeds(const fs::path& out) {
  // Structure bytes: field count - 1, then (kind, size) per field; kinds 0-2 C (size %
  // 20), 3 N and 4 F (1 + size % 20 wide, size / 20 % 4 decimals), 5 D (size % 4 == 0:
  // binary), 6 L, 7 M.
  const std::string staging = "\x03\x00\x0A\x03\x48\x05\x01\x06\x00"s;  // C10 N9.3 D L
  put(out / "sdf", "staging",
      staging +
          "ANA       00012.50020240131T\r\nBETO\x12\x0D\x0A\x5C  1.5  20231301F\r\n"
          "CARLA     a long line that runs past the record\r\n\r\nLAST\x1A");
  put(out / "sdf", "memo", "\x01\x00\x06\x07\x00"s + "NAME1 \r\nNAME2\r\n\r\n");
  put(out / "sdf", "binary_date", "\x01\x05\x00\x00\x05"s + "2024013112345\r\n19991231\r\r\n");
  put(out / "sdf", "numbers",
      "\x02\x03\x30\x04\x13\x06\x00"s + "  -12.5 99999999999999999999T\r\n");
  put(out / "sdf", "empty_fields", "\x01\x00\x00\x00\x00"s + "\r\n\r\n\x1A");
}

void value_seeds(const fs::path& out) {
  // The first byte picks the function (byte % 5): 0 STR, 1 TRANSFORM, 2 CTOD, 3 CONV_HEX,
  // 4 VAL. Numbers: kind (% 4: int32, int64, double bits, decimal), value bytes, own
  // width, own decimals (doubles); widths and decimals as one byte below 200.
  put(out / "values", "str", "\x00\x00\x39\x30\x00\x00\x0A\x01\x0E\x06"s);
  put(out / "values", "str_decimal", "\x00\x0B\x88\x13\x00\x00\x00\x00\x80\x0A\x02\x01\x10\x07"s);
  put(out / "values", "picture", "\x01\x00\xD2\x04\x00\x00\x0A"s + "@E 999,999");
  put(out / "values", "picture_decimals",
      "\x01\x0B\x39\x30\x00\x00\x00\x00\x80\x0A\x02"s + "9,999.99");
  put(out / "values", "ctod", "\x02\x00"s + "25/12/2014");
  put(out / "values", "ctod_default", "\x02\x01"s + "12/25/14 10:30");
  put(out / "values", "conv_hex", "\x03"s + "\x01\x23\x45\x67\x8F\x12\x0D\x0A");
  put(out / "values", "val", "\x04"s + "000000001234.56");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus directory>\n");
    return 2;
  }
  const fs::path out = fs::absolute(argv[1]);
  index_seeds(out);
  memo_seeds(out);
  sdf_seeds(out);
  value_seeds(out);
  return 0;
}
