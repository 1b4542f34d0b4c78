// dbfdump: prints a DBF table's header, its fields and its records as text.
//
//   dbfdump [--structure] [--records] [--vertical] [--from N] [--count M] <file.dbf>
//
// The header and descriptors are decoded by the table engine's own format code
// (table/dbf_format.h), so the tool shows a table exactly as the engine opens it and
// reports the same defects; the records are then streamed straight from the file.
// Bytes outside 0x20..0x7E (packed fields) are shown as \xNN and a backslash as \\.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal.h"
#include "table/dbf_format.h"

namespace {

namespace dbf = lum::dbf;

int usage() {
  std::fputs(
      "usage: dbfdump [options] <file.dbf>\n"
      "  --structure   only the header and the fields\n"
      "  --records     only the records\n"
      "  --vertical    one line per field instead of one line per record\n"
      "  --from N      first record to print (default 1)\n"
      "  --count M     at most M records\n",
      stderr);
  return 2;
}

const char* kind_name(dbf::TableKind k) {
  switch (k) {
    case dbf::TableKind::Standard:
      return "standard";
    case dbf::TableKind::LevelFour:
      return "level four";
    case dbf::TableKind::Extended:
      return "extended";
  }
  return "?";
}

const char* memo_name(dbf::MemoKind m) {
  switch (m) {
    case dbf::MemoKind::None:
      return "no memo";
    case dbf::MemoKind::Dbt:
      return "DBT memo";
    case dbf::MemoKind::Fpt:
      return "FPT memo";
    case dbf::MemoKind::Smt:
      return "SMT memo";
  }
  return "?";
}

void append_escaped(std::string& out, std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c > 0x7E) {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

bool parse_count(const char* text, unsigned long long& out) {
  char* end = nullptr;
  out = std::strtoull(text, &end, 10);
  return *text != '\0' && end != nullptr && *end == '\0';
}

struct Options {
  bool structure = true, records = true, vertical = false;
  unsigned long long from = 1, count = ~0ull;
  std::string file;
};

bool parse_options(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--structure") {
      o.records = false;
    } else if (a == "--records") {
      o.structure = false;
    } else if (a == "--vertical") {
      o.vertical = true;
    } else if (a == "--from" && i + 1 < argc) {
      if (!parse_count(argv[++i], o.from) || o.from == 0) return false;
    } else if (a == "--count" && i + 1 < argc) {
      if (!parse_count(argv[++i], o.count)) return false;
    } else if (!a.empty() && a[0] != '-' && o.file.empty()) {
      o.file = std::string(a);
    } else {
      return false;
    }
  }
  return !o.file.empty();
}

// Decodes the header and descriptors of the open table and the record count its size
// gives, as the engine does when it opens the table.
dbf::Status read_header(std::ifstream& in, const std::string& file, std::uint64_t size,
                        dbf::Header& h, std::uint32_t& n) {
  std::vector<std::uint8_t> head(dbf::kHeaderSize);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  dbf::Status st = dbf::decode_header(head, h);
  if (st != dbf::Status::Ok) return st;
  std::vector<std::uint8_t> block(dbf::descriptor_block_size(h));
  in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
  if (static_cast<std::size_t>(in.gcount()) != block.size()) return dbf::Status::ShortDescriptors;
  st = dbf::decode_descriptors(block, h);
  if (st != dbf::Status::Ok) return st;
  int last = -1;  // the last byte tells records of one byte from the end-of-file mark
  if (size > 0) {
    std::ifstream tail(file, std::ios::binary);
    tail.seekg(static_cast<std::streamoff>(size - 1));
    last = tail.get();
  }
  return dbf::record_count_for_size(h, size, n, last);
}

void print_structure(const std::string& file, const dbf::Header& h, std::uint32_t n) {
  std::printf("table %s\n", file.c_str());
  std::printf("  version 0x%02X: %s table, %s\n", h.version, kind_name(h.info.kind),
              h.has_memo ? memo_name(h.info.memo) : "no memo");
  std::printf("  last update %04d-%02d-%02d\n", 1900 + h.raw[1], h.raw[2], h.raw[3]);
  std::printf("  records %u (header says %u)\n", n, dbf::get_le32(&h.raw[4]));
  std::printf("  header length %u, record length %u (header says %u)\n", h.header_len, h.record_len,
              dbf::get_le16(&h.raw[10]));
  std::printf("  table flags 0x%02X, code page 0x%02X\n", h.raw[28], h.raw[29]);
  std::printf("fields %zu\n", h.fields.size());
  std::printf("  %3s %-10s %4s %5s %3s %6s\n", "no", "name", "type", "len", "dec", "offset");
  int k = 0;
  for (const dbf::Field& f : h.fields) {
    std::printf("  %3d %-10s %4c %5u %3u %6u\n", ++k, f.name.c_str(), f.type, f.len, f.dec,
                f.offset);
  }
}

// Record r as one line ("      7*|field|field|") or one line per field.
void format_record(const dbf::Header& h, unsigned long long r, std::string_view bytes,
                   bool vertical, std::string& line) {
  bool deleted = bytes[0] == '*';
  line.clear();
  if (vertical) {
    line += "record " + std::to_string(r) + (deleted ? " (deleted)" : "") + "\n";
    for (const dbf::Field& f : h.fields) {
      char name[16];
      std::snprintf(name, sizeof name, "  %-10s ", f.name.c_str());
      line += name;
      append_escaped(line, bytes.substr(f.offset, f.len));
      line += '\n';
    }
    return;
  }
  char num[32];
  std::snprintf(num, sizeof num, "%7llu%c|", r, deleted ? '*' : ' ');
  line += num;
  for (const dbf::Field& f : h.fields) {
    append_escaped(line, bytes.substr(f.offset, f.len));
    line += '|';
  }
  line += '\n';
}

int print_records(std::ifstream& in, const Options& o, const dbf::Header& h, std::uint32_t n) {
  const std::size_t rl = h.record_len;
  std::vector<char> rec(rl);
  in.clear();
  in.seekg(static_cast<std::streamoff>(h.header_len + (o.from - 1) * rl));
  std::string line;
  for (unsigned long long r = o.from; r <= n && r - o.from < o.count; ++r) {
    in.read(rec.data(), static_cast<std::streamsize>(rl));
    if (static_cast<std::size_t>(in.gcount()) != rl) {
      std::fprintf(stderr, "dbfdump: %s: record %llu cannot be read\n", o.file.c_str(), r);
      return 1;
    }
    format_record(h, r, std::string_view(rec.data(), rl), o.vertical, line);
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  lum::prepare_standard_streams();
  Options o;
  if (!parse_options(argc, argv, o)) return usage();
  std::ifstream in(o.file, std::ios::binary);
  std::error_code ec;
  std::uint64_t size = std::filesystem::file_size(o.file, ec);
  if (!in || ec) {
    std::fprintf(stderr, "dbfdump: cannot read %s\n", o.file.c_str());
    return 1;
  }
  dbf::Header h;
  std::uint32_t n = 0;
  dbf::Status st = read_header(in, o.file, size, h, n);
  if (st != dbf::Status::Ok) {
    std::fprintf(stderr, "dbfdump: %s: %.*s\n", o.file.c_str(),
                 static_cast<int>(dbf::status_text(st).size()), dbf::status_text(st).data());
    return 1;
  }
  if (o.structure) print_structure(o.file, h, n);
  if (!o.records) return 0;
  if (o.structure) std::printf("records\n");
  return print_records(in, o, h, n);
}
