#include "tests/support/expected.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <stdexcept>

namespace lum::test {

using sample::Dataset;
using sample::FieldDef;
using sample::kTargetCount;
using sample::kTextSetCount;
using sample::MemoKind;
using sample::TableDef;
using sample::Target;
using sample::TextSet;

// ---------------------------------------------------------------------------------
// The small routines, each written from its rule.

namespace oracle {

std::string conv_hex(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  if (!out.empty()) out.pop_back();  // the last half-byte: a sign, never read
  return out;
}

std::string alltrim(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  return std::string(s);
}

std::string substr(std::string_view s, int start, int count) {
  std::size_t from = start > 0 ? static_cast<std::size_t>(start - 1) : 0;
  if (from >= s.size() || count <= 0) return "";
  return std::string(s.substr(from, static_cast<std::size_t>(count)));
}

std::string left(std::string_view s, int n) {
  if (n <= 0) return "";
  return std::string(s.substr(0, static_cast<std::size_t>(n)));
}

std::string right(std::string_view s, int n) {
  if (n <= 0) return "";
  std::size_t k = static_cast<std::size_t>(n);
  return std::string(k < s.size() ? s.substr(s.size() - k) : s);
}

int at(std::string_view search, std::string_view target) {
  if (search.empty()) return 0;
  std::size_t p = target.find(search);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

bool equals(std::string_view a, std::string_view b) {
  // With exact comparison off, "=" looks only at as many bytes as the right operand
  // has; a shorter left operand is never equal to a longer right one.
  if (b.empty()) return true;
  if (a.size() < b.size()) return false;
  return a.compare(0, b.size(), b) == 0;
}

namespace {

std::int64_t pow10(int n) {
  std::int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// |v| rounded half away from zero to `decimals` decimals, as a scaled integer, and
// whether v is negative.
std::int64_t scaled_abs(Dec v, int decimals, bool& negative) {
  negative = v.mantissa < 0;
  std::int64_t m = v.mantissa < 0 ? -v.mantissa : v.mantissa;
  int s = v.scale;
  while (s < decimals) {
    if (m > INT64_MAX / 10) throw std::range_error("number too large for the expectation");
    m *= 10;
    ++s;
  }
  if (s > decimals) {
    std::int64_t p = pow10(s - decimals);
    std::int64_t q = m / p, r = m % p;
    if (2 * r >= p) ++q;
    m = q;
  }
  return m;
}

std::string number_text(Dec v, int decimals) {
  bool negative = false;
  std::int64_t m = scaled_abs(v, decimals, negative);
  std::string digits = std::to_string(m);
  if (static_cast<int>(digits.size()) <= decimals) {
    digits.insert(0, static_cast<std::size_t>(decimals + 1) - digits.size(), '0');
  }
  if (decimals > 0) digits.insert(digits.size() - static_cast<std::size_t>(decimals), 1, '.');
  if (negative && m != 0) digits.insert(0, 1, '-');
  return digits;
}

}  // namespace

Dec val(std::string_view s) {
  std::size_t k = 0;
  while (k < s.size() && (s[k] == ' ' || s[k] == '\t' || s[k] == '\n' || s[k] == '\v' ||
                          s[k] == '\f' || s[k] == '\r')) {
    ++k;
  }
  bool negative = false;
  if (k < s.size() && s[k] == '-') {
    negative = true;
    ++k;
  } else if (k < s.size() && s[k] == '+') {
    ++k;
  }
  Dec d;
  bool point = false;
  int digits = 0;
  for (; k < s.size(); ++k) {
    char c = s[k];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (++digits > 18) throw std::range_error("VAL text too long for the expectation");
    d.mantissa = d.mantissa * 10 + (c - '0');
    if (point) ++d.scale;
  }
  if (negative) d.mantissa = -d.mantissa;
  return d;
}

int compare(Dec a, Dec b) {
  int s = std::max(a.scale, b.scale);
  bool na = false, nb = false;
  std::int64_t ma = scaled_abs(a, s, na), mb = scaled_abs(b, s, nb);
  std::int64_t x = na ? -ma : ma, y = nb ? -mb : mb;
  return x < y ? -1 : (x > y ? 1 : 0);
}

Dec subtract(Dec a, Dec b) {
  int s = std::max(a.scale, b.scale);
  bool na = false, nb = false;
  std::int64_t ma = scaled_abs(a, s, na), mb = scaled_abs(b, s, nb);
  return Dec{(na ? -ma : ma) - (nb ? -mb : mb), s};
}

std::string str(Dec v, int width) {
  std::string t = number_text(v, 0);
  if (static_cast<int>(t.size()) > width) return std::string(static_cast<std::size_t>(width), '*');
  return std::string(static_cast<std::size_t>(width) - t.size(), ' ') + t;
}

std::string strzero(Dec v, int width) {
  std::string t = str(v, width);
  std::size_t minus = t.find('-');
  if (minus != std::string::npos) t[minus] = ' ';
  for (char& c : t) {
    if (c != ' ') break;
    c = '0';
  }
  if (minus != std::string::npos) t[0] = '-';
  return t;
}

std::string numeric_field(Dec v, int length, int decimals) {
  std::string t = number_text(v, decimals);
  if (static_cast<int>(t.size()) > length) {
    throw std::range_error("value " + t + " does not fit a numeric field of " +
                           std::to_string(length));
  }
  return std::string(static_cast<std::size_t>(length) - t.size(), ' ') + t;
}

std::string ctod(std::string_view text) {
  // "dd/mm/yyyy": day first, month second, year third. The field whose position is 1
  // takes the digits; a separator after digits moves every position down by one.
  int pos_day = 1, pos_month = 2, pos_year = 3;
  std::int64_t day = 0, month = 0, year = 0;
  bool after_digit = false;
  for (char c : text) {
    bool digit = c >= '0' && c <= '9';
    if (day > 0 && month > 0 && year > 0 && !digit) break;
    if (digit) {
      std::int64_t* field = pos_day == 1     ? &day
                            : pos_month == 1 ? &month
                            : pos_year == 1  ? &year
                                             : nullptr;
      if (field != nullptr && *field < 100000000) *field = *field * 10 + (c - '0');
      after_digit = true;
    } else if (c == ' ') {
      continue;
    } else {
      if (after_digit) {
        --pos_day;
        --pos_month;
        --pos_year;
      }
      after_digit = false;
    }
  }
  if (year <= 99) year += 1900;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool valid = year <= 9999 && month >= 1 && month <= 12 && day >= 1;
  if (valid) {
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    std::int64_t last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    valid = day <= last;
  }
  if (!valid) return std::string(8, ' ');
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld%02lld%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day));
  return buf;
}

}  // namespace oracle

// ---------------------------------------------------------------------------------
// Records

namespace {

using oracle::alltrim;
using oracle::conv_hex;
using oracle::Dec;
using oracle::equals;
using oracle::left;
using oracle::right;
using oracle::substr;
using oracle::val;

// A staging record as the conversion reads it: fields by name out of the piece.
class Staged {
 public:
  Staged(const TableDef& d, std::string_view piece) : d_(d), piece_(piece) {}
  std::string_view operator[](std::string_view name) const {
    const FieldDef& f = d_.at(name);
    return piece_.substr(static_cast<std::size_t>(f.offset - 1),
                         static_cast<std::size_t>(f.length));
  }

 private:
  const TableDef& d_;
  std::string_view piece_;
};

// A target record being filled, with the stores of the table engine: text padded or
// cut, numbers right-aligned with the field's decimals, dates as YYYYMMDD.
class Record {
 public:
  explicit Record(const TableDef& d) : d_(d), image_(d.blank_record()) {}
  void text(std::string_view name, std::string_view v) {
    const FieldDef& f = d_.at(name);
    if (f.type != 'C') throw std::logic_error("text into non-character field " + f.name);
    store(f, v);
  }
  void number(std::string_view name, Dec v) {
    const FieldDef& f = d_.at(name);
    if (f.type != 'N') throw std::logic_error("number into non-numeric field " + f.name);
    store(f, oracle::numeric_field(v, f.length, f.decimals));
  }
  void date(std::string_view name, std::string_view yyyymmdd) {
    const FieldDef& f = d_.at(name);
    if (f.type != 'D' || f.length != 8) throw std::logic_error("date into field " + f.name);
    store(f, yyyymmdd);
  }
  bool has(std::string_view name) const { return d_.field(name) != nullptr; }
  std::string_view get(std::string_view name) const {
    const FieldDef& f = d_.at(name);
    return std::string_view(image_).substr(static_cast<std::size_t>(f.offset),
                                           static_cast<std::size_t>(f.length));
  }
  const std::string& image() const { return image_; }

 private:
  void store(const FieldDef& f, std::string_view v) {
    std::size_t len = static_cast<std::size_t>(f.length);
    std::size_t n = std::min(v.size(), len);
    std::memcpy(image_.data() + f.offset, v.data(), n);
    std::memset(image_.data() + f.offset + n, ' ', len - n);
  }
  const TableDef& d_;
  std::string image_;
};

Dec whole(std::int64_t n) { return Dec{n, 0}; }

std::string client_record(const TableDef& t, const Staged& s) {
  Record r(t);
  r.text("CODIGO_CLI", oracle::str(val(s["CODIGO_CLI"]), 5));
  r.text("NOME_CLI", s["NOME_CLI"]);
  r.text("FANT_CLI", s["FANT_CLI"]);
  if (alltrim(r.get("FANT_CLI")).empty()) r.text("FANT_CLI", s["NOME_CLI"]);
  std::string vcpf = conv_hex(right(s["CPF_CLI"], 7));
  if (equals(vcpf, "00000000000")) vcpf.clear();
  r.text("CPF_CLI", vcpf);
  r.text("END_CLI", s["END_CLI"]);
  r.text("BAIRRO_CLI", s["BAIRRO_CLI"]);
  r.text("CIDADE_CLI", s["CIDADE_CLI"]);
  r.text("ESTADO_CLI", s["ESTADO_CLI"]);
  std::string vcep = right(conv_hex(right(s["CEP_CLI"], 5)), 8);
  if (equals(vcep, "00000000")) vcep.clear();
  r.text("CEP_CLI", left(vcep, 5) + "-" + right(vcep, 3));
  std::string vcgc = right(conv_hex(right(s["CNPJ_CLI"], 8)), 14);
  if (equals(vcgc, "00000000000000")) vcgc.clear();
  r.text("CGC_CLI", vcgc);
  r.text("INSEST_CLI", s["INSEST_CLI"]);
  r.text("TRABALHO", s["PROFIS_CLI"]);
  r.text("FONE_CLI", s["FONE_CLI"]);
  r.text("FAX_CLI", s["FAX_CLI"]);
  r.text("CELULAR", s["CEL_CLI"]);
  r.text("CONCEITO", s["CONCEITO"]);
  r.text("PRACA_CLI", s["END_CLI"]);
  r.text("CID_COB", s["CIDADE_CLI"]);
  r.text("UF_COB", s["ESTADO_CLI"]);
  r.text("CEP_COB", std::string(r.get("CEP_CLI")));
  r.text("MAE", s["NOMEMA_CLI"]);
  r.text("PAI", s["NOMEPA_CLI"]);
  r.text("EMAIL", s["EMAIL"]);
  r.text("VENDEDOR", "00001");
  r.text("COD_PG_CLI", "00001");
  r.text("CODTAB_CLI", "001");
  r.text("GRUPO_CLI", "00001");
  r.text("COD_EST", "001");
  r.text("AJUNTA", "S");
  r.text("CONTRIB", alltrim(r.get("INSEST_CLI")).empty() ? "N" : "S");
  return r.image();
}

Record item_record(const TableDef& t, const Staged& s) {
  Record r(t);
  int xtam = t.at("CODITEM").length;
  r.text("CODITEM", oracle::str(val(s["CODIGO_PRD"]), xtam));
  if (xtam > 12 && !alltrim(s["LIVRE22"]).empty()) r.text("CODITEM", s["LIVRE22"]);
  r.text("DESCRICAO", s["DESCRI_PRD"]);
  r.text("DESCNUM", alltrim(s["LIVRE21"]) + std::string(s["LIVRE22"]));
  r.text("TP_PRODUTO", "1");
  if (r.has("LOCALIZA")) r.text("LOCALIZA", s["REFER_PRD"]);
  if (r.has("MARCA")) {
    r.text("MARCA", alltrim(alltrim(s["OBS_PRD"]) + " " + alltrim(s["NOMELV_PRD"])));
  }
  r.text("GRUPO", "01.01.001");
  r.text("ICMS_EST", "001");
  r.text("COD_OBS", "001");
  for (const char* f :
       {"SALINICIAL", "SALATUAL", "CUSTINICIA", "CUSTMEDIO", "CUSTREPOS", "VENDANORM"}) {
    r.number(f, whole(0));
  }
  r.text("UNIDADE", s["UNIDAD_PRD"]);
  return r;
}

struct BalanceValues {
  Dec stock, cost, last_cost, price;
};

BalanceValues balance_values(const Staged& s) {
  std::string vcampo = std::string(s["LIVRE"]) + std::string(s["LIVRE2"]) +
                       std::string(s["LIVRE3"]) + std::string(s["LIVRE4"]) +
                       std::string(s["LIVRE5"]);
  std::string vdad = conv_hex(vcampo);
  std::string vsal = substr(vdad, 23, 9), vcust = substr(vdad, 131, 13),
              vucompra = substr(vdad, 145, 13), vvenda = substr(vdad, 75, 13);
  BalanceValues b;
  b.stock = val(left(vsal, 6) + "." + right(vsal, 3));
  b.cost = val(left(vcust, 10) + "." + right(vcust, 3));
  b.last_cost = val(left(vucompra, 10) + "." + right(vucompra, 3));
  b.price = val(left(vvenda, 10) + "." + right(vvenda, 3));
  const Dec million = whole(1000000);
  for (Dec* v : {&b.last_cost, &b.price, &b.cost, &b.stock}) {
    if (oracle::compare(*v, million) > 0) *v = whole(0);
  }
  return b;
}

void apply_balance(Record& r, const BalanceValues& b) {
  r.number("SALINICIAL", b.stock);
  r.number("SALATUAL", b.stock);
  r.number("CUSTINICIA", b.cost);
  r.number("CUSTMEDIO", b.cost);
  r.number("CUSTREPOS", b.last_cost);
  r.number("VENDANORM", b.price);
}

std::string supplier_record(const TableDef& t, const Staged& s) {
  Record r(t);
  r.text("CODIGO_FOR", oracle::str(val(s["CODIGO_FOR"]), 5));
  r.text("NOME_FOR", s["RAZAO_FOR"]);
  r.text("FANT_FOR", s["FANT_FOR"]);
  r.text("END_FOR", s["END_FOR"]);
  r.text("BAIRRO_FOR", s["BAIRRO_FOR"]);
  std::string d = right(conv_hex(right(s["CEP_FOR"], 5)), 8);
  r.text("CEP_FOR", left(d, 5) + "-" + right(d, 3));
  r.text("CIDADE_FOR", s["CIDADE_FOR"]);
  r.text("ESTADO_FOR", s["ESTADO_FOR"]);
  r.text("FONE_FOR", s["FONE1_FOR"]);
  r.text("FAX_FOR", s["FAX_FOR"]);
  r.text("CONTAT_FOR", s["CONTAT_FOR"]);
  std::string vcgc(s["CNPJ_FOR"]);
  int pos = oracle::at("/", vcgc), pos1 = oracle::at("-", vcgc);
  int cut = pos > 0 ? pos : pos1;
  if (cut > 0) {
    vcgc = substr(vcgc, 1, cut - 1) + substr(vcgc, cut + 1, 14);
    r.text("CGC_FOR", left(vcgc, 8) + right(vcgc, 6));
  } else {
    r.text("CGC_FOR", vcgc);
  }
  if (val(r.get("CGC_FOR")).mantissa == 0) r.text("CGC_FOR", std::string(14, ' '));
  r.text("INSEST_FOR", s["INSEST_FOR"]);
  if (val(left(r.get("INSEST_FOR"), 3)).mantissa == 0) {
    r.text("INSEST_FOR", std::string(18, ' '));
  }
  r.text("COD_EST", "016");
  return r.image();
}

std::string packed_area(const Staged& s) {
  return std::string(s["LIVRE"]) + std::string(s["LIVRE2"]) + std::string(s["LIVRE3"]) +
         std::string(s["LIVRE4"]) + std::string(s["LIVRE5"]);
}

// "dd/mm/yyyy" text out of eight digits DDMMYYYY.
std::string dmy(std::string_view digits) {
  return substr(digits, 1, 2) + "/" + substr(digits, 3, 2) + "/" + substr(digits, 5, 4);
}

std::string receivable_record(const TableDef& t, const Staged& s, std::size_t a,
                              std::string* line_525) {
  std::string vdad = conv_hex(packed_area(s));
  std::string vvalor_digits = right(conv_hex(s["TEXTO3"]), 14);
  Dec vvalor = val(left(vvalor_digits, 12) + "." + right(vvalor_digits, 2));
  std::string vvrpago_digits = substr(vdad, 1, 13);
  Dec vvrpago = val(left(vvrpago_digits, 11) + "." + right(vvrpago_digits, 2));
  if (line_525 != nullptr && oracle::compare(val(s["CLI"]), whole(525)) == 0) *line_525 = vdad;

  Record r(t);
  r.text("CODIGO_RB", oracle::strzero(whole(static_cast<std::int64_t>(a)), 6));
  r.text("COD_CLI", oracle::str(val(s["CLI"]), 5));
  r.date("DT_EMISSAO", oracle::ctod(dmy(s["DT_EMISSAO"])));
  r.date("DT_VENC", oracle::ctod(dmy(s["DT_VECTO"])));
  r.date("DTBASE_RB", r.get("DT_EMISSAO"));
  r.text("NUMERO_DOC", s["NUMERO"]);
  if (vvrpago.mantissa != 0) {
    r.date("DT_PG", oracle::ctod(dmy(substr(vdad, 18, 8))));
    r.number("VALOR", vvalor);
    r.number("VR_NOMINAL", val(r.get("VALOR")));
    r.number("VR_PAGO", vvrpago);
    r.text("COD_TDC", "00001");
  } else {
    r.number("VALOR", oracle::subtract(vvalor, vvrpago));
  }
  r.text("BAI_PARC", "N");
  r.text("COD_DOC", "001");
  return r.image();
}

// Decoded payables amounts: STRZERO(VAL(slice), 14), then two decimals.
Dec payable_amount(std::string_view slice) {
  std::string z = oracle::strzero(val(slice), 14);
  return val(left(z, 12) + "." + right(z, 2));
}

}  // namespace

// ---------------------------------------------------------------------------------
// Expected

Expected::Expected(const Dataset& dataset, MissingText missing) : ds_(dataset) {
  auto present = [&](TextSet s) { return ds_.text_present(s); };
  auto mark = [&](TextSet s) { import_runs_[static_cast<int>(s)] = true; };
  bool emptied_first = missing == MissingText::kEmptiedFirst;
  // The supplier and payables conversions are started by their own text files.
  if (present(TextSet::kSuppliers)) mark(TextSet::kSuppliers);
  if (present(TextSet::kPayables)) mark(TextSet::kPayables);
  if (present(TextSet::kProducts)) {
    if (!present(TextSet::kBalances)) failing_ = TextSet::kBalances;
    if (present(TextSet::kBalances) || emptied_first) {
      mark(TextSet::kProducts);
      mark(TextSet::kBalances);
    }
  }
  // The receivables follow the client file, whether receber.txt is there or not.
  if (present(TextSet::kClients) && !failing_) {
    mark(TextSet::kClients);
    if (!present(TextSet::kReceivables)) failing_ = TextSet::kReceivables;
    if (present(TextSet::kReceivables) || emptied_first) mark(TextSet::kReceivables);
  }
  plan_suppliers();
  plan_balances();
}

bool Expected::runs(TextSet set) const { return import_runs_[static_cast<int>(set)]; }

void Expected::for_each_piece(TextSet set,
                              const std::function<void(const std::string&)>& piece) const {
  if (!runs(set) || !ds_.text_present(set)) return;
  std::size_t n = ds_.line_count(set);
  std::string line, out;
  for (std::size_t i = 0; i < n; ++i) {
    ds_.line(set, i, line);
    std::size_t width = line.size();
    // A CR LF inside the data ends the record there; the bytes after it start the next
    // record, which ends at the line's own CR LF. In the file's last line a CR LF
    // inside the data ends the import: from its start exactly one record and its line
    // end remain, and that is taken as the last record.
    std::size_t pos = 0;
    while (true) {
      std::size_t p = pos;
      while (p + 1 < width && !(line[p] == '\r' && line[p + 1] == '\n')) ++p;
      if (p + 1 >= width) p = width;
      out.assign(line, pos, p - pos);
      out.resize(width, ' ');
      piece(out);
      if (p == width || (i + 1 == n && pos == 0)) break;
      pos = p + 2;
    }
  }
}

void Expected::plan_suppliers() {
  if (!runs(TextSet::kPayables) || !ds_.text_present(TextSet::kPayables)) return;
  const TableDef& t = ds_.target(Target::kSuppliers);
  if (runs(TextSet::kSuppliers)) {
    // The rebuilt table holds only blank OBS_FOR keys; the first record stands for
    // them all, as equal keys are ordered by record number.
    bool first = true;
    for_each_piece(TextSet::kSuppliers, [&](const std::string& piece) {
      if (!first) return;
      first = false;
      std::string rec = supplier_record(t, Staged(ds_.staging(TextSet::kSuppliers), piece));
      const FieldDef& code = t.at("CODIGO_FOR");
      supplier_index_.push_back(
          SupplierKey{std::string(static_cast<std::size_t>(t.at("OBS_FOR").length), ' '),
                      rec.substr(static_cast<std::size_t>(code.offset),
                                 static_cast<std::size_t>(code.length))});
    });
    return;
  }
  const FieldDef& obs = t.at("OBS_FOR");
  const FieldDef& code = t.at("CODIGO_FOR");
  for (const std::string& rec : ds_.initial_records(Target::kSuppliers)) {
    // Deleted records are indexed and found too: deleted records are not hidden.
    supplier_index_.push_back(SupplierKey{
        rec.substr(static_cast<std::size_t>(obs.offset), static_cast<std::size_t>(obs.length)),
        rec.substr(static_cast<std::size_t>(code.offset), static_cast<std::size_t>(code.length))});
  }
  std::stable_sort(supplier_index_.begin(), supplier_index_.end(),
                   [](const SupplierKey& a, const SupplierKey& b) { return a.key < b.key; });
}

void Expected::plan_balances() {
  if (!runs(TextSet::kProducts) || !ds_.text_present(TextSet::kProducts)) return;
  const TableDef& t = ds_.target(Target::kItems);
  const TableDef& stg = ds_.staging(TextSet::kProducts);
  struct ItemKey {
    std::string key;
    std::uint32_t rec;
  };
  std::vector<ItemKey> items;
  for_each_piece(TextSet::kProducts, [&](const std::string& piece) {
    Record r = item_record(t, Staged(stg, piece));
    items.push_back(
        ItemKey{std::string(r.get("CODITEM")), static_cast<std::uint32_t>(items.size())});
  });
  item_balance_.assign(items.size(), 0);
  std::stable_sort(items.begin(), items.end(),
                   [](const ItemKey& a, const ItemKey& b) { return a.key < b.key; });
  if (!ds_.text_present(TextSet::kBalances)) return;

  // Balance records that pass the filter VAL(REG) = 1, in CODIGO order (equal codes by
  // record number). Balance lines carry no CR LF, so record j is line j.
  const TableDef& bal = ds_.staging(TextSet::kBalances);
  struct BalKey {
    std::string code;
    std::uint32_t line;
  };
  std::vector<BalKey> visible;
  std::uint32_t j = 0;
  for_each_piece(TextSet::kBalances, [&](const std::string& piece) {
    Staged s(bal, piece);
    if (oracle::compare(val(s["REG"]), whole(1)) == 0) {
      visible.push_back(BalKey{std::string(s["CODIGO"]), j});
    }
    ++j;
  });
  if (j != ds_.line_count(TextSet::kBalances)) {
    throw std::logic_error("balance lines must map one to one onto records");
  }
  visible_balances_ = visible.size();
  std::stable_sort(visible.begin(), visible.end(),
                   [](const BalKey& a, const BalKey& b) { return a.code < b.code; });
  for (const BalKey& b : visible) {
    std::string vchave = oracle::str(val(b.code), 5);
    // DBSEEK: the first key (lowest record number among equal keys) whose first
    // LEN(VCHAVE) bytes are not below VCHAVE; found when they are equal.
    std::size_t k = items.empty() ? 0 : items.front().key.size();
    std::size_t l = std::min(vchave.size(), k);
    std::string_view sought = std::string_view(vchave).substr(0, l);
    auto it = std::lower_bound(items.begin(), items.end(), sought,
                               [l](const ItemKey& a, std::string_view v) {
                                 return std::string_view(a.key).substr(0, l) < v;
                               });
    if (it != items.end() && std::string_view(it->key).substr(0, l) == sought) {
      item_balance_[it->rec] = b.line + 1;  // the later balance overwrites the earlier
    }
  }
}

const std::string* Expected::supplier_code(std::string_view vcodfor) const {
  // FORNECED->(DBSEEK(VCODFOR)) in the order on OBS_FOR: the first key whose first
  // LEN(VCODFOR) bytes are not below VCODFOR; found when they are equal.
  if (supplier_index_.empty()) return nullptr;
  std::size_t l = std::min(vcodfor.size(), supplier_index_.front().key.size());
  std::string_view sought = vcodfor.substr(0, l);
  auto it = std::lower_bound(supplier_index_.begin(), supplier_index_.end(), sought,
                             [l](const SupplierKey& k, std::string_view v) {
                               return std::string_view(k.key).substr(0, l) < v;
                             });
  if (it == supplier_index_.end() || std::string_view(it->key).substr(0, l) != sought) {
    return nullptr;
  }
  return &it->code;
}

bool Expected::rewritten(Target t) const {
  switch (t) {
    case Target::kClients:
      return runs(TextSet::kClients);
    case Target::kItems:
      return runs(TextSet::kProducts);
    case Target::kSuppliers:
      return runs(TextSet::kSuppliers);
    case Target::kReceivables:
      return runs(TextSet::kReceivables);
    case Target::kPayables:
      return runs(TextSet::kPayables);
  }
  return false;
}

void Expected::for_each_record(Target t, const TextSink& sink) const {
  if (!rewritten(t)) {
    for (const std::string& r : ds_.initial_records(t)) sink(r);
    return;
  }
  const TableDef& td = ds_.target(t);
  switch (t) {
    case Target::kClients:
      for_each_piece(TextSet::kClients, [&](const std::string& piece) {
        sink(client_record(td, Staged(ds_.staging(TextSet::kClients), piece)));
      });
      break;
    case Target::kItems: {
      std::size_t k = 0;
      std::string line;
      const TableDef& bal = ds_.staging(TextSet::kBalances);
      for_each_piece(TextSet::kProducts, [&](const std::string& piece) {
        Record r = item_record(td, Staged(ds_.staging(TextSet::kProducts), piece));
        if (std::uint32_t b = item_balance_[k++]; b != 0) {
          ds_.line(TextSet::kBalances, b - 1, line);
          apply_balance(r, balance_values(Staged(bal, line)));
        }
        sink(r.image());
      });
      break;
    }
    case Target::kSuppliers:
      for_each_piece(TextSet::kSuppliers, [&](const std::string& piece) {
        sink(supplier_record(td, Staged(ds_.staging(TextSet::kSuppliers), piece)));
      });
      break;
    case Target::kReceivables: {
      std::size_t a = 0;
      for_each_piece(TextSet::kReceivables, [&](const std::string& piece) {
        sink(
            receivable_record(td, Staged(ds_.staging(TextSet::kReceivables), piece), ++a, nullptr));
      });
      break;
    }
    case Target::kPayables: {
      std::size_t a = 0;
      const TableDef& stg = ds_.staging(TextSet::kPayables);
      for_each_piece(TextSet::kPayables, [&](const std::string& piece) {
        Staged s(stg, piece);
        std::string dt = conv_hex(s["DT_EMISSAO"]);
        std::string vdtemi = substr(dt, 2, 8), vdtemi2 = substr(dt, 12, 8);
        std::string vdtemi3 = substr(conv_hex(s["DT_VENCTO"]), 2, 8);
        std::string vdad = conv_hex(s["TEXTO3"]);
        Dec vvalor = payable_amount(substr(vdad, 1, 11));
        Dec vvrpago = payable_amount(substr(vdad, 13, 14));
        Record r(td);
        r.text("CODIGO_PG", oracle::strzero(whole(static_cast<std::int64_t>(++a)), 6));
        std::string vcodfor = oracle::strzero(val(s["CLI"]), 5);
        if (const std::string* code = supplier_code(vcodfor)) vcodfor = *code;
        r.text("COD_FOR", vcodfor);
        r.date("DT_EMISSAO", oracle::ctod(dmy(vdtemi)));
        r.date("DT_VENC", oracle::ctod(dmy(vdtemi3)));
        r.date("DTBASE_PG", r.get("DT_EMISSAO"));
        r.text("NUMERO_PGD", s["NUMERO"]);
        if (vvrpago.mantissa != 0) {
          r.date("DT_PG", oracle::ctod(dmy(vdtemi2)));
          r.number("VALOR", vvalor);
          r.number("VR_NOMINAL", val(r.get("VALOR")));
          r.number("VR_PAGO", vvrpago);
          r.text("COD_TDC", "00001");
        } else {
          r.number("VALOR", vvalor);
        }
        r.text("COD_PGDOC", "001");
        sink(r.image());
      });
      break;
    }
  }
}

std::size_t Expected::record_count(Target t) const {
  std::size_t n = 0;
  if (!rewritten(t)) return ds_.initial_records(t).size();
  TextSet set = t == Target::kClients       ? TextSet::kClients
                : t == Target::kItems       ? TextSet::kProducts
                : t == Target::kSuppliers   ? TextSet::kSuppliers
                : t == Target::kReceivables ? TextSet::kReceivables
                                            : TextSet::kPayables;
  for_each_piece(set, [&](const std::string&) { ++n; });
  return n;
}

std::vector<std::string> Expected::records(Target t) const {
  std::vector<std::string> out;
  for_each_record(t, [&](std::string_view r) { out.emplace_back(r); });
  return out;
}

std::string Expected::memo_file(Target t) const {
  const TableDef& d = ds_.target(t);
  if (d.memo == MemoKind::kNone) return "";
  if (!rewritten(t)) return ds_.initial_memo(t);
  // The zap makes the memo file anew: a 512-byte header holding the next free block
  // (the first block after the header) and the block size, in the kind's byte order,
  // and the signature at offset 8; zeros up to that first free block.
  std::uint32_t block = static_cast<std::uint32_t>(d.memo_block_size);
  std::uint32_t next = (512 + block - 1) / block;
  std::string m(static_cast<std::size_t>(next) * block, '\0');
  bool big_endian = d.memo == MemoKind::kFpt;
  for (int k = 0; k < 4; ++k) {
    int shift = big_endian ? 24 - 8 * k : 8 * k;
    m[static_cast<std::size_t>(k)] = static_cast<char>(next >> shift);
    m[static_cast<std::size_t>(4 + k)] = static_cast<char>(block >> shift);
  }
  std::memcpy(m.data() + 8, "Tessera", 7);
  return m;
}

namespace {

std::string rewritten_file(const std::string& initial, const TableDef& d,
                           const std::vector<std::string>& records, Expected::Date today) {
  std::size_t header_len = static_cast<unsigned char>(initial[8]) |
                           static_cast<std::size_t>(static_cast<unsigned char>(initial[9])) << 8;
  std::string f = initial.substr(0, header_len);
  f[0] = static_cast<char>(d.memo == MemoKind::kDbt   ? 0x83
                           : d.memo == MemoKind::kFpt ? 0xF5
                                                      : 0x03);
  f[1] = static_cast<char>(today.year - 1900);
  f[2] = static_cast<char>(today.month);
  f[3] = static_cast<char>(today.day);
  std::uint32_t count = static_cast<std::uint32_t>(records.size());
  for (int k = 0; k < 4; ++k)
    f[static_cast<std::size_t>(4 + k)] = static_cast<char>(count >> (8 * k));
  int rl = d.record_length();
  f[10] = static_cast<char>(rl & 0xFF);
  f[11] = static_cast<char>(rl >> 8);
  f[28] = static_cast<char>(f[28] & 1);
  for (const std::string& r : records) f += r;
  if (records.empty()) f.push_back('\x1A');
  return f;
}

}  // namespace

std::string Expected::table_file(Target t, Date today) const {
  if (!rewritten(t)) return ds_.initial_table_file(t);
  return rewritten_file(ds_.initial_table_file(t), ds_.target(t), records(t), today);
}

std::string Expected::staging_file(TextSet set, Date today) const {
  if (!staging_rewritten(set)) return ds_.initial_staging_file(set);
  return rewritten_file(ds_.initial_staging_file(set), ds_.staging(set), staging_records(set),
                        today);
}

namespace {

std::string shown(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c <= 0x7E) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string read_file(const std::filesystem::path& p, bool& ok) {
  std::FILE* f = std::fopen(p.string().c_str(), "rb");
  ok = f != nullptr;
  std::string bytes;
  if (!ok) return bytes;
  char buf[1 << 16];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  std::fclose(f);
  return bytes;
}

// Differences between two images of one table file, by header byte, record and field.
void compare_table(const std::string& name, const TableDef& d, const std::string& want,
                   const std::string& got, std::vector<std::string>& out, std::size_t limit) {
  auto add = [&](std::string line) {
    if (out.size() < limit) out.push_back(name + ": " + std::move(line));
  };
  std::size_t hl = static_cast<unsigned char>(want[8]) |
                   static_cast<std::size_t>(static_cast<unsigned char>(want[9])) << 8;
  for (std::size_t k = 0; k < hl && k < got.size(); ++k) {
    if (want[k] != got[k]) {
      char b[96];
      std::snprintf(b, sizeof b, "header byte %zu is 0x%02X, expected 0x%02X", k,
                    static_cast<unsigned char>(got[k]), static_cast<unsigned char>(want[k]));
      add(b);
    }
  }
  std::size_t rl = static_cast<std::size_t>(d.record_length());
  std::size_t want_n = want.size() > hl ? (want.size() - hl) / rl : 0;
  std::size_t got_n = got.size() > hl ? (got.size() - hl) / rl : 0;
  for (std::size_t r = 0; r < std::min(want_n, got_n); ++r) {
    std::string_view a = std::string_view(want).substr(hl + r * rl, rl);
    std::string_view b = std::string_view(got).substr(hl + r * rl, rl);
    if (a == b) continue;
    std::string where = "record " + std::to_string(r + 1);
    if (a[0] != b[0])
      add(where + " deletion flag '" + shown(b.substr(0, 1)) + "', expected '" +
          shown(a.substr(0, 1)) + "'");
    for (const FieldDef& f : d.fields) {
      std::string_view fa =
          a.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length));
      std::string_view fb =
          b.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length));
      if (fa != fb)
        add(where + " " + f.name + " '" + shown(fb) + "', expected '" + shown(fa) + "'");
    }
  }
  if (want.size() != got.size()) {
    add("file has " + std::to_string(got.size()) + " bytes (" + std::to_string(got_n) +
        " records), expected " + std::to_string(want.size()) + " (" + std::to_string(want_n) +
        " records)");
  } else if (want.substr(hl + want_n * rl) != got.substr(hl + got_n * rl)) {
    add("bytes after the last record differ");
  }
}

}  // namespace

std::vector<std::string> Expected::differences(const std::filesystem::path& dir, Date today,
                                               std::size_t limit) const {
  std::vector<std::string> out;
  auto check = [&](const std::filesystem::path& path, const TableDef& d, const std::string& want) {
    bool ok = false;
    std::string got = read_file(path, ok);
    if (!ok) {
      if (out.size() < limit) out.push_back(path.filename().string() + ": cannot be read");
      return;
    }
    if (got != want) compare_table(path.filename().string(), d, want, got, out, limit);
  };
  std::filesystem::path target = Dataset::target_dir(dir);
  for (int k = 0; k < kTargetCount; ++k) {
    Target t = static_cast<Target>(k);
    const TableDef& d = ds_.target(t);
    check(target / d.file_name, d, table_file(t, today));
    if (d.memo != MemoKind::kNone) {
      bool ok = false;
      std::string got = read_file(target / d.memo_file_name, ok);
      if (got != memo_file(t) && out.size() < limit) {
        out.push_back(d.memo_file_name + ": memo file differs (" + std::to_string(got.size()) +
                      " bytes, expected " + std::to_string(memo_file(t).size()) + ")");
      }
    }
  }
  for (int s = 0; s < kTextSetCount; ++s) {
    TextSet set = static_cast<TextSet>(s);
    check(dir / ds_.staging(set).file_name, ds_.staging(set), staging_file(set, today));
  }
  return out;
}

bool Expected::staging_rewritten(TextSet set) const { return runs(set); }

std::size_t Expected::staging_count(TextSet set) const {
  if (!runs(set)) return ds_.staging_records(set).size();
  std::size_t n = 0;
  for_each_piece(set, [&](const std::string&) { ++n; });
  return n;
}

void Expected::for_each_staging_record(TextSet set, const TextSink& sink) const {
  if (!runs(set)) {
    for (const std::string& r : ds_.staging_records(set)) sink(r);
    return;
  }
  std::string rec;
  for_each_piece(set, [&](const std::string& piece) {
    rec.assign(1, ' ');
    rec += piece;
    sink(rec);
  });
}

std::vector<std::string> Expected::staging_records(TextSet set) const {
  std::vector<std::string> out;
  for_each_staging_record(set, [&](std::string_view r) { out.emplace_back(r); });
  return out;
}

int Expected::coditem_width() const { return ds_.target(Target::kItems).at("CODITEM").length; }

void Expected::for_each_console_line(const TextSink& sink) const {
  // Payables: one line per legacy code not found among the suppliers.
  if (runs(TextSet::kPayables)) {
    const TableDef& stg = ds_.staging(TextSet::kPayables);
    for_each_piece(TextSet::kPayables, [&](const std::string& piece) {
      std::string vcodfor = oracle::strzero(val(Staged(stg, piece)["CLI"]), 5);
      if (supplier_code(vcodfor) == nullptr) sink("Fornecedor nao encontrado" + vcodfor);
    });
  }
  // Products: QOUT(XTAM), a number of width 10.
  if (runs(TextSet::kProducts)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%10d", coditem_width());
    sink(buf);
  }
  // Receivables: the packed area's digits for every movement of client 525.
  if (runs(TextSet::kReceivables)) {
    const TableDef& td = ds_.target(Target::kReceivables);
    const TableDef& stg = ds_.staging(TextSet::kReceivables);
    std::size_t a = 0;
    for_each_piece(TextSet::kReceivables, [&](const std::string& piece) {
      std::string line;
      receivable_record(td, Staged(stg, piece), ++a, &line);
      if (!line.empty()) sink(line);
    });
  }
}

std::vector<std::string> Expected::console_lines() const {
  std::vector<std::string> out;
  for_each_console_line([&](std::string_view l) { out.emplace_back(l); });
  return out;
}

std::optional<std::size_t> Expected::counter(Counter c) const {
  auto pieces = [&](TextSet set) -> std::optional<std::size_t> {
    if (!runs(set) || !ds_.text_present(set)) return std::nullopt;
    std::size_t n = 0;
    for_each_piece(set, [&](const std::string&) { ++n; });
    return n;
  };
  switch (c) {
    case Counter::kProducts:
      return pieces(TextSet::kProducts);
    case Counter::kBalances:
      if (!runs(TextSet::kBalances) || !ds_.text_present(TextSet::kBalances)) return std::nullopt;
      return visible_balances_;
    case Counter::kSuppliers:
      return pieces(TextSet::kSuppliers);
    case Counter::kClients:
      return pieces(TextSet::kClients);
    case Counter::kReceivables:
      return pieces(TextSet::kReceivables);
    case Counter::kPayables:
      return pieces(TextSet::kPayables);
  }
  return std::nullopt;
}

std::string Expected::counter_text(std::size_t value) {
  if (value > 999999) return std::string(7, '*');
  char digits[8];
  std::snprintf(digits, sizeof digits, "%6zu", value);
  std::string out;
  for (int k = 0; k < 3; ++k) out.push_back(digits[k]);
  out.push_back(digits[2] >= '0' && digits[2] <= '9' ? '.' : ' ');
  for (int k = 3; k < 6; ++k) out.push_back(digits[k]);
  return out;
}

}  // namespace lum::test
