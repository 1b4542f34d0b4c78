// The sample dataset generator: the files it writes are the tables and lines it
// declares (which the oracle works from), its options shape them, its packed fields are
// well formed, its case lines carry the cases the oracle's tests cannot see, the
// realistic sample looks like a real export, and the same seed gives the same bytes.
#include "tools/sample/dataset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "table/dbf_format.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dbf_builder.h"

namespace lum::test {

using sample::Dataset;
using sample::DatasetOptions;
using sample::FieldDef;
using sample::kTargetCount;
using sample::kTextSetCount;
using sample::le32;
using sample::read_bytes;
using sample::TableDef;
using sample::Target;
using sample::TextSet;
using sample::write_bytes;
namespace {

namespace fs = std::filesystem;

struct Table {
  dbf::Header header;
  std::vector<std::string> records;  // record images
};

// Reads a table through the engine's header decoding, records straight from the file.
Table read_table(const fs::path& file) {
  std::vector<std::uint8_t> bytes = read_bytes(file);
  Table t;
  std::uint32_t n = 0;
  dbf::Status st = dbf::decode_table(bytes, t.header, n);
  EXPECT_EQ(st, dbf::Status::Ok) << file;
  for (std::uint32_t k = 0; k < n; ++k) {
    std::size_t at = t.header.header_len + static_cast<std::size_t>(k) * t.header.record_len;
    t.records.emplace_back(reinterpret_cast<const char*>(bytes.data()) + at, t.header.record_len);
  }
  return t;
}

std::string file_text(const fs::path& file) {
  std::vector<std::uint8_t> b = read_bytes(file);
  return std::string(b.begin(), b.end());
}

// Digits and sign letter of packed bytes, decoded here half-byte by half-byte.
struct Unpacked {
  std::string digits;
  char sign = '?';
  bool valid = true;  // every half-byte but the last is a digit, the last C, D or F
};
Unpacked unpack(std::string_view bytes) {
  Unpacked u;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    unsigned char b = static_cast<unsigned char>(bytes[k]);
    int hi = b >> 4, lo = b & 15;
    if (hi > 9) u.valid = false;
    u.digits.push_back(static_cast<char>('0' + hi));
    if (k + 1 < bytes.size()) {
      if (lo > 9) u.valid = false;
      u.digits.push_back(static_cast<char>('0' + lo));
    } else {
      u.sign = "0123456789ABCDEF"[lo];
      if (lo != 0xC && lo != 0xD && lo != 0xF) u.valid = false;
    }
  }
  return u;
}

std::string field_of(const TableDef& d, std::string_view line, std::string_view name) {
  const FieldDef& f = d.at(name);
  return std::string(
      line.substr(static_cast<std::size_t>(f.offset - 1), static_cast<std::size_t>(f.length)));
}

// The packed area LIVRE + LIVRE2 + ... + LIVRE5 of a line.
std::string area_of(const TableDef& d, std::string_view line) {
  std::string a;
  for (const char* f : {"LIVRE", "LIVRE2", "LIVRE3", "LIVRE4", "LIVRE5"}) a += field_of(d, line, f);
  return a;
}

class DatasetFiles : public ::testing::Test {
 protected:
  TempDir dir_;
};

// Read back through the engine's header decoding: the structures, records and bytes
// the generator declares (and the oracle starts from), the target files' letter cases,
// and memo files whose headers and blocks are the ones the records name.
TEST_F(DatasetFiles, WrittenTablesAreTheDeclaredOnes) {
  Dataset ds(DatasetOptions::with_lines(30, 5));
  ds.write(dir_.path());
  for (int s = 0; s < kTextSetCount; ++s) {
    const TableDef& d = ds.staging(static_cast<TextSet>(s));
    Table t = read_table(dir_ / d.file_name);
    ASSERT_EQ(t.header.fields.size(), d.fields.size()) << d.file_name;
    for (std::size_t k = 0; k < d.fields.size(); ++k) {
      EXPECT_EQ(t.header.fields[k].name, d.fields[k].name);
      EXPECT_EQ(t.header.fields[k].type, 'C') << "staging fields are all character";
      EXPECT_EQ(static_cast<int>(t.header.fields[k].len), d.fields[k].length);
      EXPECT_EQ(static_cast<int>(t.header.fields[k].offset), d.fields[k].offset);
    }
    EXPECT_EQ(t.records, ds.staging_records(static_cast<TextSet>(s))) << "stale records";
    EXPECT_FALSE(t.records.empty());
  }
  const fs::path target = Dataset::target_dir(dir_.path());
  for (int k = 0; k < kTargetCount; ++k) {
    const TableDef& d = ds.target(static_cast<Target>(k));
    Table t = read_table(target / d.file_name);
    EXPECT_EQ(t.header.version, d.version);
    ASSERT_EQ(t.header.fields.size(), d.fields.size());
    for (std::size_t f = 0; f < d.fields.size(); ++f) {
      EXPECT_EQ(t.header.fields[f].name, d.fields[f].name);
      EXPECT_EQ(t.header.fields[f].type, d.fields[f].type);
      EXPECT_EQ(static_cast<int>(t.header.fields[f].len), d.fields[f].length);
      EXPECT_EQ(static_cast<int>(t.header.fields[f].dec), d.fields[f].decimals);
    }
    EXPECT_EQ(t.records, ds.initial_records(static_cast<Target>(k)));
    EXPECT_EQ(file_text(target / d.file_name), ds.initial_table_file(static_cast<Target>(k)));
  }
  // The product staging table's records start after a 263-byte area.
  Table prod = read_table(dir_ / "cbPROD.dbf");
  EXPECT_EQ(static_cast<std::size_t>(prod.header.header_len),
            32 + 32 * prod.header.fields.size() + 1 + 263);
  // The run finds the targets whatever their letter case.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(target))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"CLIENTES.dbt", "Clientes.DBF", "Forneced.Dbf", "ITEM.dbf",
                                      "Item.FPT", "LurbMov.DBF", "lupgmov.dbf"}));

  // DBT: little-endian next free block, 512-byte blocks, text ended by 0x1A 0x1A.
  std::vector<std::uint8_t> dbt = read_bytes(target / "CLIENTES.dbt");
  ASSERT_EQ(dbt.size(), 3u * 512);
  EXPECT_EQ(le32(dbt, 0), 3u);
  Table cli = read_table(target / "Clientes.DBF");
  const FieldDef& obs = ds.target(Target::kClients).at("OBS");
  EXPECT_EQ(cli.records[0].substr(obs.offset, 10), "         1");
  EXPECT_EQ(cli.records[1].substr(obs.offset, 10), std::string(10, ' '));
  std::string block1(dbt.begin() + 512, dbt.begin() + 1024);
  EXPECT_EQ(block1.substr(0, block1.find('\x1A')), "OBSERVACAO DO CLIENTE 900");
  // FPT: big-endian next free block and block size 64; blocks of type 1 and length.
  std::vector<std::uint8_t> fpt = read_bytes(target / "Item.FPT");
  auto be32 = [&](std::size_t at) {
    return (static_cast<std::uint32_t>(fpt[at]) << 24) | (fpt[at + 1] << 16) | (fpt[at + 2] << 8) |
           fpt[at + 3];
  };
  EXPECT_EQ(be32(4), 64u);
  EXPECT_EQ(be32(0) * 64, fpt.size());
  Table item = read_table(target / "ITEM.dbf");
  const FieldDef& iobs = ds.target(Target::kItems).at("OBS");
  std::uint32_t block = static_cast<std::uint32_t>(
      std::stoul(item.records[1].substr(static_cast<std::size_t>(iobs.offset), 10)));
  EXPECT_EQ(be32(block * 64), 1u);
  std::uint32_t len = be32(block * 64 + 4);
  EXPECT_EQ(std::string(fpt.begin() + block * 64 + 8, fpt.begin() + block * 64 + 8 + len),
            "FICHA TECNICA DO ITEM 80001");
}

// Each text file holds its lines, each ended by CR LF; without the deliberate one no
// line holds a CR LF inside its data; no line at all makes empty files.
TEST_F(DatasetFiles, TextFilesHoldTheLines) {
  for (std::size_t n : {0, 40}) {
    DatasetOptions o = DatasetOptions::with_lines(n, 9);
    o.crlf_split = false;
    Dataset ds(o);
    EXPECT_EQ(ds.crlf_line(), SIZE_MAX);
    ds.write(dir_.path());
    for (int s = 0; s < kTextSetCount; ++s) {
      TextSet set = static_cast<TextSet>(s);
      SCOPED_TRACE(std::string(Dataset::text_file_name(set)) + " of " + std::to_string(n));
      std::size_t width = static_cast<std::size_t>(ds.staging(set).record_length() - 1);
      std::string text = file_text(dir_ / Dataset::text_file_name(set));
      ASSERT_EQ(text.size(), n * (width + 2));
      std::string line;
      for (std::size_t i = 0; i < n; ++i) {
        ds.line(set, i, line);
        EXPECT_EQ(text.substr(i * (width + 2), width), line);
        EXPECT_EQ(text.substr(i * (width + 2) + width, 2), "\r\n");
        EXPECT_EQ(line.find("\r\n"), std::string::npos) << i;
      }
    }
  }
}

// The options the end-to-end cases vary, as the engine reads the files: which text
// files exist (the staging tables always do) and the shape of the item and receivable
// tables.
TEST_F(DatasetFiles, OptionsShapeTheFilesAndTables) {
  auto widths = [&](const char* table) {
    std::map<std::string, unsigned> w;
    for (const dbf::Field& f : read_table(Dataset::target_dir(dir_.path()) / table).header.fields)
      w[f.name] = f.len;
    return w;
  };
  DatasetOptions o = DatasetOptions::with_lines(4);
  o.write_text[static_cast<int>(TextSet::kReceivables)] = false;
  o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
  o.item_localiza = false;
  o.wide_coditem = true;
  o.narrow_receivable_amounts = true;
  Dataset(o).write(dir_.path());
  EXPECT_FALSE(fs::exists(dir_ / "receber.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "forneced.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "clientes.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "cbRec.dbf")) << "staging tables are always there";
  std::map<std::string, unsigned> item = widths("ITEM.dbf");
  EXPECT_EQ(item.count("LOCALIZA"), 0u);
  EXPECT_EQ(item["MARCA"], 25u);
  EXPECT_EQ(item["CODITEM"], 14u);
  EXPECT_EQ(widths("LurbMov.DBF")["VALOR"], 8u);
  o = DatasetOptions::with_lines(4);
  o.item_marca = false;
  Dataset(o).write(dir_.path());
  item = widths("ITEM.dbf");
  EXPECT_EQ(item.count("MARCA"), 0u);
  EXPECT_EQ(item["LOCALIZA"], 10u);
  EXPECT_EQ(item["CODITEM"], 5u);
  EXPECT_EQ(widths("LurbMov.DBF")["VALOR"], 14u);
}

// True when `dir` holds an entry spelled exactly `name` (on a case-blind file system
// fs::exists finds every spelling).
bool spelled(const fs::path& dir, const std::string& name) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string() == name) return true;
  }
  return false;
}

TEST_F(DatasetFiles, RewritingADirectoryLeavesNoOtherSpellingOrLeftOutFile) {
  Dataset(DatasetOptions::with_lines(3)).write(dir_.path());
  write_bytes(dir_ / "CLIENTES.TXT", {'x'});
  write_bytes(Dataset::target_dir(dir_.path()) / "clientes.dbf", {'x'});
  DatasetOptions o = DatasetOptions::with_lines(2);
  o.write_text[static_cast<int>(TextSet::kReceivables)] = false;
  Dataset(o).write(dir_.path());
  EXPECT_FALSE(fs::exists(dir_ / "receber.txt")) << "left out this time";
  EXPECT_FALSE(spelled(dir_.path(), "CLIENTES.TXT"));
  EXPECT_TRUE(spelled(dir_.path(), "clientes.txt"));
  EXPECT_FALSE(spelled(Dataset::target_dir(dir_.path()), "clientes.dbf"));
  EXPECT_TRUE(spelled(Dataset::target_dir(dir_.path()), "Clientes.DBF"));
}

TEST(DatasetLines, SameSeedSameBytesOtherSeedOtherBytes) {
  Dataset a(DatasetOptions::with_lines(50, 42)), b(DatasetOptions::with_lines(50, 42)),
      c(DatasetOptions::with_lines(50, 43));
  std::string la, lb, lc;
  int differ = 0;
  for (int s = 0; s < kTextSetCount; ++s) {
    for (std::size_t i = 0; i < 50; ++i) {
      a.line(static_cast<TextSet>(s), i, la);
      b.line(static_cast<TextSet>(s), i, lb);
      c.line(static_cast<TextSet>(s), i, lc);
      EXPECT_EQ(la, lb);
      differ += la != lc;
    }
  }
  EXPECT_GT(differ, 250) << "another seed gives other lines";
  // A product line depends on the seed and its number only, not on how many there are.
  Dataset big(DatasetOptions::with_lines(1000, 42));
  big.line(TextSet::kProducts, 7, lb);
  a.line(TextSet::kProducts, 7, la);
  EXPECT_EQ(la, lb);
}

// Every packed field the conversions read holds valid packed bytes (digits, then a
// C, D or F sign), except where a line deliberately holds something else.
TEST(DatasetLines, PackedFieldsAreWellFormed) {
  struct Packed {
    TextSet set;
    const char* field;
    int skip;   // bytes before the packed run inside the field
    int bytes;  // 0: to the end of the field
  };
  const Packed fields[] = {
      {TextSet::kClients, "CPF_CLI", 0, 0},     {TextSet::kClients, "CEP_CLI", 0, 0},
      {TextSet::kClients, "CNPJ_CLI", 0, 0},    {TextSet::kSuppliers, "CEP_FOR", 0, 0},
      {TextSet::kPayables, "DT_EMISSAO", 0, 5}, {TextSet::kPayables, "DT_EMISSAO", 5, 5},
      {TextSet::kPayables, "DT_VENCTO", 0, 0},  {TextSet::kPayables, "TEXTO3", 0, 6},
      {TextSet::kPayables, "TEXTO3", 6, 6},     {TextSet::kPayables, "TEXTO3", 12, 2},
      {TextSet::kReceivables, "TEXTO3", 0, 0},  {TextSet::kProducts, "LIVRE", 0, 7},
  };
  Dataset ds(DatasetOptions::with_lines(250, 3));
  std::string line;
  for (const Packed& p : fields) {
    const TableDef& d = ds.staging(p.set);
    for (std::size_t i = 0; i < 250; ++i) {
      ds.line(p.set, i, line);
      if (p.set == TextSet::kClients && i == ds.crlf_line()) continue;
      if (p.set == TextSet::kPayables && std::string_view(p.field) == "DT_VENCTO" && i % 101 == 7) {
        EXPECT_EQ(field_of(d, line, p.field), "     ") << "the unset due date holds blanks";
        continue;
      }
      std::string f = field_of(d, line, p.field);
      std::string run = f.substr(static_cast<std::size_t>(p.skip),
                                 p.bytes ? static_cast<std::size_t>(p.bytes) : std::string::npos);
      EXPECT_TRUE(unpack(run).valid) << p.field << " line " << i;
    }
  }
}

// The case lines carry their cases. Most cases show in the converted values, which the
// oracle's own tests (expected_test.cpp) check against literal values, so a case line
// that lost its case fails there; here are the cases whose converted value could be the
// same without them (a sign that is not read, digits that are not taken, a separator
// that is removed either way, a balance whose values are not applied, a zero that an
// ordinary line of that seed may hold as well).
TEST(DatasetLines, CaseLinesCarryTheirCases) {
  enum Show { kText, kDigits, kSign };
  struct Case {
    TextSet set;
    std::size_t line;
    const char* field;        // "" for the packed area LIVRE + ... + LIVRE5
    std::size_t from, bytes;  // the slice of the field; 0 bytes: to its end
    Show show;
    const char* want;
  };
  const Case cases[] = {
      // Clients: digits after the first 11 that count nowhere, two leading digits the
      // conversion drops, signs it does not read; the cases come back every 101 lines.
      {TextSet::kClients, 6, "CPF_CLI", 0, 0, kDigits, "000000000000012"},
      {TextSet::kClients, 7, "CPF_CLI", 0, 0, kDigits, "470012345678901"},
      {TextSet::kClients, 12, "CPF_CLI", 0, 0, kSign, "F"},
      {TextSet::kClients, 12, "CNPJ_CLI", 0, 0, kSign, "D"},
      {TextSet::kClients, 5, "CPF_CLI", 0, 0, kDigits, "000000000000000"},
      {TextSet::kClients, 5, "CNPJ_CLI", 0, 0, kDigits, "000000000000000"},
      {TextSet::kClients, 9, "CPF_CLI", 0, 0, kDigits, "000098765432100"},
      {TextSet::kClients, 10, "INSEST_CLI", 0, 0, kText, "                  "},
      {TextSet::kClients, 13, "CODIGO_CLI", 0, 0, kText, " 42  "},
      {TextSet::kClients, 101, "CODIGO_CLI", 0, 0, kText, "00042"},
      // Suppliers: the taxpayer number with a slash, a hyphen, both; all zeros; a blank
      // registration; a negative postal code.
      {TextSet::kSuppliers, 3, "CNPJ_FOR", 8, 1, kText, "/"},
      {TextSet::kSuppliers, 4, "CNPJ_FOR", 8, 1, kText, "-"},
      {TextSet::kSuppliers, 6, "CNPJ_FOR", 10, 1, kText, "/"},
      {TextSet::kSuppliers, 6, "CNPJ_FOR", 15, 1, kText, "-"},
      {TextSet::kSuppliers, 8, "CNPJ_FOR", 0, 0, kText, "00000000000000    "},
      {TextSet::kSuppliers, 10, "INSEST_FOR", 0, 0, kText, "                  "},
      {TextSet::kSuppliers, 13, "CEP_FOR", 0, 0, kSign, "D"},
      // Unpaid movements; negative amounts paid and stock.
      {TextSet::kPayables, 3, "TEXTO3", 6, 6, kDigits, "00000000000"},
      {TextSet::kReceivables, 2, "", 0, 7, kDigits, "0000000000000"},
      {TextSet::kPayables, 9, "TEXTO3", 6, 6, kSign, "D"},
      {TextSet::kReceivables, 10, "", 0, 7, kSign, "D"},
      {TextSet::kBalances, 9, "", 11, 5, kSign, "D"},
      // Balances: types 2, blank, " 1" and 10; a code no item has, code 42 with blanks.
      {TextSet::kBalances, 0, "REG", 0, 0, kText, "02"},
      {TextSet::kBalances, 1, "REG", 0, 0, kText, "  "},
      {TextSet::kBalances, 2, "REG", 0, 0, kText, " 1"},
      {TextSet::kBalances, 12, "REG", 0, 0, kText, "02"},
      {TextSet::kBalances, 14, "REG", 0, 0, kText, "10"},
      {TextSet::kBalances, 3, "CODIGO", 0, 1, kText, "9"},
      {TextSet::kBalances, 11, "CODIGO", 0, 0, kText, " 42  "},
      // Products: no bar code.
      {TextSet::kProducts, 4, "LIVRE22", 0, 0, kText, "             "},
  };
  // Several seeds, as an ordinary line may hold a zero or a blank by chance.
  std::string line;
  for (std::uint64_t seed = 11; seed < 19; ++seed) {
    Dataset ds(DatasetOptions::with_lines(120, seed));
    for (const Case& c : cases) {
      ds.line(c.set, c.line, line);
      const TableDef& d = ds.staging(c.set);
      std::string f = *c.field == '\0' ? area_of(d, line) : field_of(d, line, c.field);
      f = f.substr(c.from, c.bytes ? c.bytes : std::string::npos);
      const std::string got = c.show == kText     ? f
                              : c.show == kDigits ? unpack(f).digits
                                                  : std::string(1, unpack(f).sign);
      EXPECT_EQ(got, c.want) << Dataset::text_file_name(c.set) << " line " << c.line << " "
                             << c.field << ", seed " << seed;
    }
  }
}

// Modulus-11 check digits of a taxpayer number, worked out here.
bool valid_taxpayer(const std::string& digits, std::vector<int> weights) {
  for (int check = 0; check < 2; ++check) {
    int sum = 0;
    for (std::size_t k = 0; k < weights.size(); ++k) sum += (digits[k] - '0') * weights[k];
    const int want = sum % 11 < 2 ? 0 : 11 - sum % 11;
    if (digits[weights.size()] - '0' != want) return false;
    weights.insert(weights.begin(), weights.front() + 1);
    if (weights.size() == 13) weights.front() = 6;  // the company number's second weights
  }
  return true;
}

// A packed date's digits DDMMYYYY (the filler digit dropped) as YYYYMMDD, for ordering.
std::string packed_day(std::string_view five) {
  const std::string d = unpack(five).digits.substr(1, 8);
  return d.substr(4, 4) + d.substr(2, 2) + d.substr(0, 2);
}

// The realistic sample: every taxpayer number has valid check digits, postal and area
// codes belong to the client's state, dates follow each other, stocks and prices are
// plausible, and about four payables in five find their supplier by its old code.
TEST(DatasetLines, RealisticDataLooksLikeARealExport) {
  DatasetOptions o = DatasetOptions::with_lines(400, 7);
  o.edge_cases = false;
  o.legacy_suppliers = true;
  Dataset ds(o);
  EXPECT_EQ(SIZE_MAX, ds.crlf_line());
  // The check itself, on numbers known to be valid and one that is not.
  ASSERT_TRUE(valid_taxpayer("52998224725", {10, 9, 8, 7, 6, 5, 4, 3, 2}));
  ASSERT_FALSE(valid_taxpayer("52998224724", {10, 9, 8, 7, 6, 5, 4, 3, 2}));
  ASSERT_TRUE(valid_taxpayer("11222333000181", {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
  // The first digits of the postal codes and the area codes of each state.
  const std::map<std::string, std::pair<std::string, std::string>> states = {
      {"SP", {"01", "19"}}, {"PR", {"80", "87"}}, {"SC", {"88", "89"}},
      {"RS", {"90", "99"}}, {"MG", {"30", "39"}}, {"GO", {"72", "76"}}};
  const std::map<std::string, std::pair<int, int>> areas = {{"SP", {11, 19}}, {"PR", {41, 46}},
                                                            {"SC", {47, 49}}, {"RS", {51, 55}},
                                                            {"MG", {31, 38}}, {"GO", {61, 64}}};
  const TableDef& cli = ds.staging(TextSet::kClients);
  std::string line;
  int people = 0, companies = 0;
  for (std::size_t i = 0; i < 400; ++i) {
    ds.line(TextSet::kClients, i, line);
    SCOPED_TRACE("client line " + std::to_string(i));
    EXPECT_EQ(std::string::npos, line.find("\r\n"));
    const std::string cpf = unpack(field_of(cli, line, "CPF_CLI")).digits.substr(4, 11);
    const std::string cnpj = unpack(field_of(cli, line, "CNPJ_CLI")).digits.substr(1, 14);
    const bool person = cpf != std::string(11, '0');
    EXPECT_NE(person, cnpj != std::string(14, '0')) << "one taxpayer number, not two";
    if (person) {
      ++people;
      EXPECT_TRUE(valid_taxpayer(cpf, {10, 9, 8, 7, 6, 5, 4, 3, 2})) << cpf;
    } else {
      ++companies;
      EXPECT_TRUE(valid_taxpayer(cnpj, {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2})) << cnpj;
    }
    const std::string state = field_of(cli, line, "ESTADO_CLI");
    ASSERT_TRUE(states.contains(state)) << state;
    const std::string cep = unpack(field_of(cli, line, "CEP_CLI")).digits.substr(1, 2);
    EXPECT_TRUE(cep >= states.at(state).first && cep <= states.at(state).second) << cep;
    const int area = std::stoi(field_of(cli, line, "FONE_CLI").substr(1, 2));
    EXPECT_TRUE(area >= areas.at(state).first && area <= areas.at(state).second) << area;
    EXPECT_NE(std::string::npos,
              std::string("0123456789").find(field_of(cli, line, "CODIGO_CLI")[4]));
  }
  EXPECT_GT(people, 200);
  EXPECT_GT(companies, 80);

  // Issued, then due, then paid; the payables' old supplier codes against the supplier
  // table's OBS_FOR.
  std::vector<std::string> known;
  const FieldDef& obs = ds.target(Target::kSuppliers).at("OBS_FOR");
  for (const std::string& r : ds.initial_records(Target::kSuppliers)) {
    known.push_back(r.substr(static_cast<std::size_t>(obs.offset), 5));
  }
  const TableDef& rec = ds.staging(TextSet::kReceivables);
  const TableDef& pag = ds.staging(TextSet::kPayables);
  int paid = 0, found = 0;
  for (std::size_t i = 0; i < 400; ++i) {
    ds.line(TextSet::kReceivables, i, line);
    auto ymd = [](const std::string& t) {
      return t.substr(4, 4) + t.substr(2, 2) + t.substr(0, 2);
    };
    const std::string issued = ymd(field_of(rec, line, "DT_EMISSAO")),
                      due = ymd(field_of(rec, line, "DT_VECTO"));
    EXPECT_LE(issued, due) << i;
    const std::string area = area_of(rec, line);
    if (unpack(area.substr(0, 7)).digits != std::string(13, '0')) {
      ++paid;
      EXPECT_LE(due, packed_day(area.substr(8, 5))) << i;
    }
    ds.line(TextSet::kPayables, i, line);
    const std::string em = field_of(pag, line, "DT_EMISSAO");
    EXPECT_LE(packed_day(em.substr(0, 5)), packed_day(field_of(pag, line, "DT_VENCTO"))) << i;
    if (unpack(field_of(pag, line, "TEXTO3").substr(6, 6)).digits != std::string(11, '0')) {
      EXPECT_LE(packed_day(field_of(pag, line, "DT_VENCTO")), packed_day(em.substr(5, 5))) << i;
    }
    found += std::find(known.begin(), known.end(), field_of(pag, line, "CLI")) != known.end();
  }
  EXPECT_GT(paid, 150);
  EXPECT_GT(found, 250);
  EXPECT_LT(found, 400);

  // Stocks below a few hundred units, prices above costs, nothing near the clamp.
  const TableDef& bal = ds.staging(TextSet::kBalances);
  for (std::size_t i = 0; i < 400; ++i) {
    ds.line(TextSet::kBalances, i, line);
    const std::string area = area_of(bal, line);
    const double stock = std::stod(unpack(area.substr(11, 5)).digits) / 1000;
    const double price = std::stod(unpack(area.substr(37, 7)).digits) / 1000;
    const double cost = std::stod(unpack(area.substr(65, 7)).digits) / 1000;
    EXPECT_LT(stock, 1000) << i;
    EXPECT_GT(cost, 0.4) << i;
    EXPECT_LT(cost, 2000) << i;
    EXPECT_GE(price, cost) << i;
  }
}

}  // namespace
}  // namespace lum::test
