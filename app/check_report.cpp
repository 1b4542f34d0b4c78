#include "app/check_report.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "frame/account.h"
#include "import/sdf_reader.h"
#include "index/ntx_format.h"
#include "platform/file.h"
#include "table/dbf_format.h"
#include "table/files.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum {

namespace {

constexpr std::size_t kShown = 5;  // codes and line numbers shown of a longer list

// --- the run's files, as the names of the run reach them ---

std::string with_dbf(std::string name) {
  const std::size_t cut = name.find_last_of("\\/:");
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (cut != std::string::npos && dot < cut)) name += ".dbf";
  return name;
}

// A table read straight from its file, its records in order, a block at a time.
class TableReader {
 public:
  // The table the run opens under `name`. False when it cannot be read as a table;
  // why() then says so.
  bool open(const std::string& name) {
    name_ = with_dbf(name);
    if (int rc = file_.open(name_, FileAccess::ReadOnly, FileShare::Shared); rc != kOsOk) {
      why_ = rc == kOsFileInUse ? "is in use by another program"
                                : "cannot be opened (DOS Error " + std::to_string(rc) + ")";
      return false;
    }
    why_ = "is not a readable table";
    std::uint8_t head[dbf::kHeaderSize];
    IoResult r = file_.read_at(0, head, sizeof head);
    if (dbf::decode_header(std::span<const std::uint8_t>(head, r.bytes), h_) != dbf::Status::Ok) {
      return false;
    }
    std::vector<std::uint8_t> block(dbf::descriptor_block_size(h_));
    r = file_.read_at(dbf::kHeaderSize, block.data(), block.size());
    if (r.bytes != block.size() || dbf::decode_descriptors(block, h_) != dbf::Status::Ok) {
      return false;
    }
    count_ = dbf::get_le32(head + 4);
    why_.clear();
    return true;
  }
  const std::string& name() const { return name_; }
  const std::string& why() const { return why_; }
  std::uint32_t count() const { return count_; }
  const std::vector<dbf::Field>& fields() const { return h_.fields; }
  // The field of that name, case-blind; nullptr when the table has none.
  const dbf::Field* field(std::string_view name) const {
    for (const dbf::Field& f : h_.fields) {
      if (f.name.size() != name.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < name.size() && same; ++i) {
        same = std::toupper(static_cast<unsigned char>(name[i])) ==
               static_cast<unsigned char>(f.name[i]);
      }
      if (same) return &f;
    }
    return nullptr;
  }
  static std::string_view bytes(std::string_view record, const dbf::Field& f) {
    return record.substr(f.offset, f.len);
  }
  // Calls `each` with every record (record number from 1, the record's bytes, deletion
  // flag first). False when the file ends before the header's count.
  bool each(const std::function<void(std::uint32_t, std::string_view)>& each) {
    const std::size_t len = h_.record_len;
    const std::uint32_t per_block =
        static_cast<std::uint32_t>(std::max<std::size_t>(1, (1u << 20) / len));
    std::string buf;
    for (std::uint32_t first = 1; first <= count_; first += per_block) {
      const std::uint32_t n = std::min(per_block, count_ - first + 1);
      buf.resize(static_cast<std::size_t>(n) * len);
      IoResult r = file_.read_at(h_.header_len + static_cast<std::uint64_t>(first - 1) * len,
                                 buf.data(), buf.size());
      if (r.bytes != buf.size()) return false;
      for (std::uint32_t k = 0; k < n; ++k) {
        each(first + k, std::string_view(buf).substr(static_cast<std::size_t>(k) * len, len));
      }
    }
    return true;
  }

 private:
  std::string name_;
  std::string why_;
  File file_;
  dbf::Header h_;
  std::uint32_t count_ = 0;
};

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string list(const std::vector<std::string>& items, std::uint64_t total) {
  std::string s;
  for (const std::string& i : items) s += " " + i;
  if (total > items.size()) s += " ...";
  return s;
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

// --- a text file's lines, counted as the bytes stand ---

// The lines of a text file: the bytes before each CR LF, and after the last one when
// any are left; a final 0x1A is no part of the file's text.
bool scan_lines(const std::string& name, std::uint64_t record_length, LineTally& tally) {
  File f;
  if (f.open(name, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return false;
  std::uint64_t size = f.size().bytes;
  char last = 0;
  if (size > 0 && f.read_at(size - 1, &last, 1).bytes == 1 && last == 0x1A) --size;
  std::vector<char> buf(1 << 20);
  std::uint64_t line = 0;  // bytes of the line so far
  bool open = false;       // a line has begun
  bool cr = false;         // the bytes so far end in a CR
  for (std::uint64_t at = 0; at < size;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size - at));
    const std::size_t n = static_cast<std::size_t>(f.read_at(at, buf.data(), want).bytes);
    if (n == 0) return false;
    std::size_t pos = 0;
    if (cr) {
      cr = false;
      if (buf[0] == '\n') {
        tally.add(line - 1, record_length);
        line = 0;
        open = false;
        pos = 1;
      }
    }
    while (pos < n) {
      const void* hit = std::memchr(buf.data() + pos, '\r', n - pos);
      const std::size_t p =
          hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - buf.data()) : n;
      line += p - pos;
      open = true;
      if (p == n) break;
      if (p + 1 == n) {  // the LF, if it is one, comes with the next block
        ++line;
        cr = true;
        break;
      }
      if (buf[p + 1] == '\n') {
        tally.add(line, record_length);
        line = 0;
        open = false;
        pos = p + 2;
      } else {
        ++line;  // a CR alone is data
        pos = p + 1;
      }
    }
    at += n;
  }
  if (open) tally.add(line, record_length);
  return true;
}

// The length of a text record for a staging table, as the import lays it out.
std::uint64_t text_record_length(const TableReader& t) {
  std::vector<SdfFieldDesc> structure;
  for (const dbf::Field& f : t.fields()) {
    structure.push_back({f.name, f.type, static_cast<int>(f.len), f.dec});
  }
  return SdfLayout::from_structure(structure).record_length;
}

std::string lines_text(const LineTally& t, std::uint64_t length, const std::string& table) {
  std::string s = plural(t.lines, "line", "lines");
  if (t.all_fit()) {
    if (t.lines == 0) return s;
    return s + (t.lines == 1 ? ", " : ", all ") + std::to_string(length) +
           " bytes long like a record of " + table;
  }
  const auto range = [](std::uint64_t lo, std::uint64_t hi) {
    return lo == hi ? plural(lo, "byte", "bytes")
                    : std::to_string(lo) + " to " + std::to_string(hi) + " bytes";
  };
  s += ", not all " + std::to_string(length) + " bytes long like a record of " + table + ":";
  if (t.shorter > 0)
    s += " " + std::to_string(t.shorter) + " shorter by " + range(t.min_short, t.max_short);
  if (t.longer > 0) {
    s += std::string(t.shorter > 0 ? "," : "") + " " + std::to_string(t.longer) + " longer by " +
         range(t.min_long, t.max_long);
  }
  s += " (line";
  if (t.shorter + t.longer > 1) s += "s";
  for (std::uint64_t n : t.first) s += " " + std::to_string(n);
  if (t.shorter + t.longer > t.first.size()) s += " ...";
  return s + ")";
}

// --- control totals ---

// An exact sum of scaled integers beyond 64 bits: hi * 10^18 + lo.
class Sum {
 public:
  static constexpr std::int64_t kBase = 1000000000000000000;
  void add(std::int64_t v) {  // |v| < 10^18
    lo_ += v;
    hi_ += lo_ / kBase;
    lo_ %= kBase;
  }
  std::string text(int dec) const {
    std::int64_t hi = hi_, lo = lo_;
    if (hi > 0 && lo < 0) {
      --hi;
      lo += kBase;
    } else if (hi < 0 && lo > 0) {
      ++hi;
      lo -= kBase;
    }
    const bool negative = hi < 0 || lo < 0;
    std::string digits = std::to_string(std::llabs(lo));
    if (hi != 0)
      digits = std::to_string(std::llabs(hi)) + std::string(18 - digits.size(), '0') + digits;
    if (dec > 0) {
      if (digits.size() <= static_cast<std::size_t>(dec)) {
        digits.insert(0, static_cast<std::size_t>(dec) + 1 - digits.size(), '0');
      }
      digits.insert(digits.size() - static_cast<std::size_t>(dec), ".");
    }
    return (negative ? "-" : "") + digits;
  }

 private:
  std::int64_t hi_ = 0, lo_ = 0;
};

// The stored text of a numeric field as an integer in units of 10^-dec; false when it is
// not a number (asterisks after a width error, other bytes, too many digits).
bool stored_number(std::string_view text, int dec, std::int64_t& out) {
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  std::int64_t v = 0;
  int digits = 0, frac = -1;
  for (char c : s) {
    if (c == '.' && frac < 0) {
      frac = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    if (frac >= 0 && frac == dec) continue;  // beyond the field's decimals
    if (++digits > 17) return false;
    v = v * 10 + (c - '0');
    if (frac >= 0) ++frac;
  }
  for (int k = frac < 0 ? 0 : frac; k < dec; ++k) v *= 10;
  out = negative ? -v : v;
  return true;
}

std::string totals_text(TableReader& t) {
  struct Total {
    const dbf::Field* field;
    Sum sum;
    std::uint64_t not_numbers = 0;
  };
  std::vector<Total> totals;
  for (const dbf::Field& f : t.fields()) {
    if (f.type == 'N' || f.type == 'F') totals.push_back({&f, {}, 0});
  }
  if (totals.empty()) return "no numeric fields";
  if (!t.each([&](std::uint32_t, std::string_view rec) {
        for (Total& x : totals) {
          std::int64_t v = 0;
          if (stored_number(TableReader::bytes(rec, *x.field), x.field->dec, v)) {
            x.sum.add(v);
          } else {
            ++x.not_numbers;
          }
        }
      })) {
    return "the table ends before its last record";
  }
  std::string s;
  for (const Total& x : totals) {
    if (!s.empty()) s += ", ";
    s += x.field->name + " " + x.sum.text(x.field->dec);
    if (x.not_numbers > 0)
      s += " (and " + plural(x.not_numbers, "value", "values") + " not a number)";
  }
  return s;
}

// --- look-ups, worked out again from the tables ---

// The keys a seek finds in: sorted by key bytes, equal keys by record number.
struct KeyIndex {
  std::vector<std::pair<std::string, std::uint32_t>> keys;  // key bytes, record number
  // The record the seek of `sought` finds (the first key at or after it that begins
  // with it), 0 when none.
  std::uint32_t find(const std::string& sought) const {
    auto it = std::lower_bound(keys.begin(), keys.end(), sought,
                               [](const auto& k, const std::string& s) { return k.first < s; });
    if (it == keys.end() || it->first.compare(0, sought.size(), sought) != 0) return 0;
    return it->second;
  }
};

bool key_index(const std::string& table, const char* field, KeyIndex& out,
               std::vector<std::string>* values = nullptr, const char* value_field = nullptr) {
  TableReader t;
  if (!t.open(table)) return false;
  const dbf::Field* key = t.field(field);
  const dbf::Field* value = value_field ? t.field(value_field) : nullptr;
  if (key == nullptr || (value_field && value == nullptr)) return false;
  if (values) values->assign(1, std::string());  // record numbers from 1
  if (!t.each([&](std::uint32_t recno, std::string_view rec) {
        out.keys.emplace_back(std::string(TableReader::bytes(rec, *key)), recno);
        if (values) values->emplace_back(TableReader::bytes(rec, *value));
      })) {
    return false;
  }
  std::stable_sort(out.keys.begin(), out.keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return true;
}

std::string fit(std::string s, std::size_t width) {
  s.resize(width, ' ');
  return s;
}

// The payables' supplier look-up: each written movement's legacy code sought again among
// the suppliers' OBS_FOR, and COD_FOR compared with what the look-up gives.
std::string suppliers_text() {
  KeyIndex suppliers;
  std::vector<std::string> codes;
  TableReader staging, target;
  if (!key_index("\\LUM\\FIRMA1\\FORNECED", "OBS_FOR", suppliers, &codes, "CODIGO_FOR") ||
      !staging.open("cbPAG") || !target.open("\\lum\\firma1\\LUPGMOV")) {
    return "cannot be worked out: a table cannot be read";
  }
  const dbf::Field* cli = staging.field("CLI");
  const dbf::Field* cod_for = target.field("COD_FOR");
  if (cli == nullptr || cod_for == nullptr) return "cannot be worked out: a field is missing";
  std::vector<std::string> sought;
  if (!staging.each([&](std::uint32_t, std::string_view rec) {
        sought.push_back(STRZERO(VAL(Value::string(TableReader::bytes(rec, *cli))), 5).str());
      })) {
    return "cannot be worked out: cbPAG.dbf ends before its last record";
  }
  std::uint64_t movements = 0, missing = 0, disagree = 0;
  std::vector<std::string> shown;
  target.each([&](std::uint32_t recno, std::string_view rec) {
    if (recno > sought.size()) return;
    ++movements;
    const std::string& code = sought[recno - 1];
    const std::uint32_t found = suppliers.find(code);
    if (found == 0) {
      if (++missing <= kShown) shown.push_back(code);
    }
    const std::string want = fit(found == 0 ? code : codes[found], cod_for->len);
    if (TableReader::bytes(rec, *cod_for) != want) ++disagree;
  });
  std::string s = missing == 0 ? "every movement's supplier found"
                               : std::to_string(missing) + " of " +
                                     plural(movements, "movement", "movements") +
                                     " without their supplier:" + list(shown, missing);
  if (disagree > 0) {
    s += "; FAULT: COD_FOR disagrees with the look-up in " +
         plural(disagree, "movement", "movements");
  }
  return s;
}

// The balance pass: type-1 records sought again among the items' codes.
std::string balances_text() {
  KeyIndex items;
  TableReader saldo;
  if (!key_index("\\lum\\firma1\\item", "CODITEM", items) || !saldo.open("CBSALDO")) {
    return "cannot be worked out: a table cannot be read";
  }
  const dbf::Field* reg = saldo.field("REG");
  const dbf::Field* codigo = saldo.field("CODIGO");
  if (reg == nullptr || codigo == nullptr) return "cannot be worked out: a field is missing";
  std::uint64_t applied = 0, unmatched = 0, other = 0;
  std::vector<std::string> shown;
  saldo.each([&](std::uint32_t, std::string_view rec) {
    if (!compare_eq(VAL(Value::string(TableReader::bytes(rec, *reg))), Value::int32(1))) {
      ++other;
      return;
    }
    const std::string key = STR(VAL(Value::string(TableReader::bytes(rec, *codigo))), 5).str();
    if (items.find(key) != 0) {
      ++applied;
    } else if (++unmatched <= kShown) {
      shown.push_back(trimmed(key));
    }
  });
  std::string s = plural(applied, "balance record", "balance records") + " applied";
  if (unmatched > 0)
    s += ", " + std::to_string(unmatched) + " matching no item:" + list(shown, unmatched);
  if (other > 0) s += ", " + std::to_string(other) + " not of type 1 (left out)";
  return s;
}

// --- indexes, walked page by page ---

}  // namespace

std::string index_verification(const std::string& ntx_name, const std::string& table_name) {
  File f;
  if (f.open(ntx_name, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return "not there";
  std::string bytes(static_cast<std::size_t>(f.size().bytes), '\0');
  if (f.read_at(0, bytes.data(), bytes.size()).bytes != bytes.size() ||
      bytes.size() < kNtxBlockSize) {
    return "FAULT: cannot be read";
  }
  auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
  NtxHeader h;
  std::string why;
  if (!decode_ntx_header(data, h, &why)) return "FAULT: " + why;
  TableReader table;
  if (!table.open(table_name)) return "FAULT: its table cannot be read";
  const dbf::Field* field = table.field(trimmed(h.key_expr));
  if (field == nullptr || field->len != h.key_size)
    return "FAULT: the key is not a field of its table";

  // In key order: the child of key i holds the keys before it; entry n's child the rest.
  std::vector<std::pair<std::string, std::uint32_t>> entries;
  std::vector<bool> visited(bytes.size() / kNtxBlockSize, false);
  std::string fault;
  std::function<void(NtxAddr, int)> walk = [&](NtxAddr a, int depth) {
    if (!fault.empty() || a == 0) return;
    if (a % kNtxBlockSize != 0 || a / kNtxBlockSize >= visited.size() || depth > kNtxMaxLevels ||
        visited[a / kNtxBlockSize]) {
      fault = "a page address leads outside the tree";
      return;
    }
    visited[a / kNtxBlockSize] = true;
    NtxPageView page(data + a, h.max_keys, h.key_size);
    if (!page.check()) {
      fault = "a page is damaged";
      return;
    }
    for (int i = 0; i < page.count(); ++i) {
      walk(page.child(i), depth + 1);
      entries.emplace_back(std::string(reinterpret_cast<const char*>(page.key(i)), h.key_size),
                           page.record(i));
    }
    walk(page.child(page.count()), depth + 1);
  };
  walk(h.root, 0);
  if (!fault.empty()) return "FAULT: " + fault;

  std::vector<std::uint32_t> seen(table.count() + 1, 0);
  std::uint64_t out_of_order = 0, wrong_key = 0, foreign = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].first < entries[i - 1].first) ++out_of_order;
    const std::uint32_t r = entries[i].second;
    if (r == 0 || r > table.count()) {
      ++foreign;
    } else {
      ++seen[r];
    }
  }
  std::uint64_t missing = 0, twice = 0;
  for (std::uint32_t r = 1; r <= table.count(); ++r) {
    if (seen[r] == 0) ++missing;
    if (seen[r] > 1) ++twice;
  }
  // Each key against its record's field bytes.
  std::vector<std::string> values(table.count() + 1);
  table.each([&](std::uint32_t recno, std::string_view rec) {
    values[recno] = std::string(TableReader::bytes(rec, *field));
  });
  for (const auto& [key, r] : entries) {
    if (r >= 1 && r <= table.count() && key != values[r]) ++wrong_key;
  }
  std::string s = plural(entries.size(), "key", "keys") + " on " + field->name;
  if (out_of_order + wrong_key + foreign + missing + twice == 0) {
    return s + ": one for every record, in order, each its record's value (verified)";
  }
  s += ": FAULT:";
  if (missing) s += " " + plural(missing, "record", "records") + " without a key;";
  if (twice) s += " " + plural(twice, "record", "records") + " with several;";
  if (foreign) s += " " + plural(foreign, "key", "keys") + " for no record;";
  if (out_of_order) s += " " + plural(out_of_order, "key", "keys") + " out of order;";
  if (wrong_key) s += " " + plural(wrong_key, "key", "keys") + " unlike their record;";
  s.pop_back();
  return s;
}

std::string control_totals(const std::string& table) {
  TableReader t;
  if (!t.open(table)) return t.name() + " " + t.why();
  return totals_text(t);
}

namespace {

// --- the conversions, in run order ---

struct TextImport {
  const char* text;
  const char* staging;
  const char* alias;
};
struct IndexBuilt {
  const char* file;
  const char* table;
};
enum class Extra { kNone, kSupplierLookUp, kBalances };
struct Conversion {
  const char* title;
  const char* function;
  const char* trigger;
  std::vector<TextImport> imports;
  const char* target;
  const char* target_alias;
  std::vector<IndexBuilt> indexes;
  Extra extra;
};

const std::vector<Conversion>& conversions() {
  static const std::vector<Conversion> kRun = {
      {"Suppliers",
       "CVFORN",
       "FORNECED.TXT",
       {{"forneced.txt", "cbFORN.dbf", "CBFORN"}},
       "\\LUM\\FIRMA1\\FORNECED",
       "FORNECED",
       {},
       Extra::kNone},
      {"Payables",
       "CVPAGAR",
       "PAGAR.txt",
       {{"PAGAR.txt", "cbPAG", "QOREC"}},
       "\\lum\\firma1\\LUPGMOV",
       "LUPGMOV",
       {{"LUTMPFOR.ntx", "\\LUM\\FIRMA1\\FORNECED"}},
       Extra::kSupplierLookUp},
      {"Products and stock balances",
       "CVPROD",
       "prod.txt",
       {{"prod.txt", "cbPROD.dbf", "CBPROD"}, {"SALDO.txt", "CBSALDO", "CBSALDO"}},
       "\\lum\\firma1\\item",
       "ITEM",
       {{"coditem.ntx", "\\lum\\firma1\\item"}, {"saldo.ntx", "CBSALDO"}},
       Extra::kBalances},
      {"Clients",
       "CVCLI",
       "clientes.txt",
       {{"clientes.txt", "cbCli.dbf", "CBCLI"}},
       "\\lum\\firma1\\clientes",
       "CLIENTES",
       {},
       Extra::kNone},
      {"Receivables",
       "CVRECEBER",
       "clientes.txt",
       {{"receber.txt", "cbRec", "QOREC"}},
       "\\lum\\firma1\\lurbmov",
       "LURBMOV",
       {},
       Extra::kNone},
  };
  return kRun;
}

std::string item(const std::string& label, const std::string& text) {
  return "   " + label + ": " + text + "\n";
}

std::string conversion_text(const CheckOutcome& c, const Conversion& k, bool stopped) {
  std::string s;
  for (const TextImport& imp : k.imports) {
    TableReader staging;
    const bool readable = staging.open(imp.staging);
    LineTally tally;
    if (!FILE(imp.text)) {
      s += item(imp.text, "not in the working directory, so the run stops at its import");
      continue;
    }
    if (!readable) {
      s += item(imp.text, "not compared: " + with_dbf(imp.staging) + " " + staging.why());
      continue;
    }
    const std::uint64_t length = text_record_length(staging);
    s += item(imp.text, scan_lines(imp.text, length, tally)
                            ? lines_text(tally, length, staging.name())
                            : std::string("cannot be read"));
    s += item(staging.name(), changed_by_run(staging.name())
                                  ? plural(staging.count(), "record", "records") + " imported"
                                  : "unchanged");
  }
  TableReader target;
  if (!target.open(k.target)) {
    s += item(k.target, target.why());
  } else if (!changed_by_run(with_dbf(k.target))) {
    s += item(k.target, "unchanged, " + plural(target.count(), "record", "records"));
  } else {
    s += item(k.target, plural(target.count(), "record", "records") + " written");
    s += item("totals as stored", totals_text(target));
    if (k.extra == Extra::kSupplierLookUp) s += item("suppliers", suppliers_text());
    if (k.extra == Extra::kBalances) s += item("balances", balances_text());
  }
  for (const IndexBuilt& ix : k.indexes) {
    if (changed_by_run(ix.file)) s += item(ix.file, index_verification(ix.file, ix.table));
  }
  if (stopped) {
    // Where the conversion stood, in the tables it had changed by then.
    std::string where;
    for (const AreaSummary& a : c.areas_at_error) {
      for (const TextImport& imp : k.imports) {
        if (a.alias == imp.alias && changed_by_run(with_dbf(imp.staging))) {
          where = "on record " + std::to_string(a.recno) + " of " + with_dbf(imp.staging) +
                  " (line " + std::to_string(a.recno) + " of " + imp.text + ")";
        }
      }
    }
    for (const AreaSummary& a : c.areas_at_error) {
      if (a.alias == k.target_alias && changed_by_run(with_dbf(k.target))) {
        where += std::string(where.empty() ? "" : ", ") + "with record " + std::to_string(a.recno) +
                 " of " + k.target + " the last written";
      }
    }
    s += item("stopped", "by the error below" + (where.empty() ? std::string() : ", " + where));
  }
  return s;
}

}  // namespace

std::string conversions_check_report(const CheckOutcome& c) {
  std::string s = "lumconv --check: the whole run on scratch copies; your files are only read.\n";
  if (!c.interrupted) {
    int stopped = -1;
    const std::vector<Conversion>& run = conversions();
    if (!c.ended_normally) {
      for (std::size_t i = 0; i < run.size(); ++i) {
        if (std::find(c.error_levels.begin(), c.error_levels.end(), run[i].function) !=
            c.error_levels.end()) {
          stopped = static_cast<int>(i);
        }
      }
    }
    for (std::size_t i = 0; i < run.size(); ++i) {
      const Conversion& k = run[i];
      s += "\n" + std::to_string(i + 1) + ". " + k.title + " (" + k.function + ")";
      if (stopped >= 0 && static_cast<int>(i) > stopped) {
        s += ": not reached, the run ends before it\n";
      } else if (!FILE(k.trigger)) {
        s += ": not run, no " + std::string(k.trigger) + " in the working directory\n";
      } else {
        s += "\n" + conversion_text(c, k, static_cast<int>(i) == stopped);
      }
    }
    s += "\n";
  }
  return s + check_verdict(c);
}

}  // namespace lum
