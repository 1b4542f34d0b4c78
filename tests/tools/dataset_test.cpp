// The sample dataset generator: the files it writes have the structures it declares,
// its packed fields decode to the digits it meant, its case lines carry their cases,
// and the same seed gives the same bytes.
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

class DatasetFiles : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(DatasetFiles, TablesOnDiskHaveTheDeclaredStructures) {
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
  for (int k = 0; k < kTargetCount; ++k) {
    const TableDef& d = ds.target(static_cast<Target>(k));
    fs::path file = Dataset::target_dir(dir_.path()) / d.file_name;
    ASSERT_TRUE(fs::exists(file)) << file;
    Table t = read_table(file);
    EXPECT_EQ(t.header.version, d.version);
    ASSERT_EQ(t.header.fields.size(), d.fields.size());
    for (std::size_t f = 0; f < d.fields.size(); ++f) {
      EXPECT_EQ(t.header.fields[f].name, d.fields[f].name);
      EXPECT_EQ(t.header.fields[f].type, d.fields[f].type);
      EXPECT_EQ(static_cast<int>(t.header.fields[f].len), d.fields[f].length);
      EXPECT_EQ(static_cast<int>(t.header.fields[f].dec), d.fields[f].decimals);
    }
    EXPECT_EQ(t.records, ds.initial_records(static_cast<Target>(k)));
    std::vector<std::uint8_t> bytes = read_bytes(file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              ds.initial_table_file(static_cast<Target>(k)));
  }
  // The product staging table's records start after a 263-byte area.
  Table prod = read_table(dir_ / "cbPROD.dbf");
  EXPECT_EQ(static_cast<std::size_t>(prod.header.header_len),
            32 + 32 * prod.header.fields.size() + 1 + 263);
}

TEST_F(DatasetFiles, TargetFileNamesVaryInLetterCase) {
  Dataset ds(DatasetOptions::with_lines(3));
  ds.write(dir_.path());
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(Dataset::target_dir(dir_.path()))) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"CLIENTES.dbt", "Clientes.DBF", "Forneced.Dbf", "ITEM.dbf",
                                      "Item.FPT", "LurbMov.DBF", "lupgmov.dbf"}));
}

TEST_F(DatasetFiles, TextLinesHaveTheStagingRecordWidthAndEndInCrLf) {
  DatasetOptions o = DatasetOptions::with_lines(40, 9);
  o.crlf_split = false;
  Dataset ds(o);
  ds.write(dir_.path());
  for (int s = 0; s < kTextSetCount; ++s) {
    TextSet set = static_cast<TextSet>(s);
    std::size_t width = static_cast<std::size_t>(ds.staging(set).record_length() - 1);
    std::string text = file_text(dir_ / Dataset::text_file_name(set));
    ASSERT_EQ(text.size(), 40 * (width + 2)) << Dataset::text_file_name(set);
    std::string line;
    for (std::size_t i = 0; i < 40; ++i) {
      ds.line(set, i, line);
      EXPECT_EQ(text.substr(i * (width + 2), width), line);
      EXPECT_EQ(text.substr(i * (width + 2) + width, 2), "\r\n");
      // Without the deliberate CR LF, no line holds one inside its data.
      EXPECT_EQ(line.find("\r\n"), std::string::npos) << Dataset::text_file_name(set) << i;
    }
  }
}

TEST_F(DatasetFiles, OptionsChooseTheFilesAndTheItemStructure) {
  DatasetOptions o = DatasetOptions::with_lines(4);
  o.write_text[static_cast<int>(TextSet::kReceivables)] = false;
  o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
  o.item_localiza = false;
  o.wide_coditem = true;
  Dataset ds(o);
  ds.write(dir_.path());
  EXPECT_FALSE(fs::exists(dir_ / "receber.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "forneced.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "clientes.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "cbRec.dbf")) << "staging tables are always there";
  Table item = read_table(Dataset::target_dir(dir_.path()) / "ITEM.dbf");
  std::map<std::string, unsigned> widths;
  for (const dbf::Field& f : item.header.fields) widths[f.name] = f.len;
  EXPECT_EQ(widths.count("LOCALIZA"), 0u);
  EXPECT_EQ(widths.count("MARCA"), 1u);
  EXPECT_EQ(widths["CODITEM"], 14u);
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

TEST_F(DatasetFiles, MemoFilesHaveHeadersAndTheBlocksTheRecordsName) {
  Dataset ds(DatasetOptions::with_lines(2));
  ds.write(dir_.path());
  fs::path target = Dataset::target_dir(dir_.path());
  // DBT: little-endian next free block, 512-byte blocks, text ended by 0x1A 0x1A.
  std::vector<std::uint8_t> dbt = read_bytes(target / "CLIENTES.dbt");
  ASSERT_EQ(dbt.size(), 3u * 512);
  EXPECT_EQ(le32(dbt, 0), 3u);
  Table cli = read_table(target / "Clientes.DBF");
  const TableDef& cd = ds.target(Target::kClients);
  const FieldDef& obs = cd.at("OBS");
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

// The case lines carry the cases the conversions' descriptions list, as packed or
// plain bytes decoded here.
TEST(DatasetLines, CaseLinesCarryTheirCases) {
  Dataset ds(DatasetOptions::with_lines(120, 11));
  std::string line;
  auto get = [&](TextSet set, std::size_t i, const char* name) {
    ds.line(set, i, line);
    return field_of(ds.staging(set), line, name);
  };
  auto area = [&](TextSet set, std::size_t i) {
    std::string a;
    for (const char* f : {"LIVRE", "LIVRE2", "LIVRE3", "LIVRE4", "LIVRE5"}) a += get(set, i, f);
    return a;
  };
  // Clients.
  EXPECT_EQ(get(TextSet::kClients, 0, "CODIGO_CLI"), "00042");
  EXPECT_EQ(get(TextSet::kClients, 1, "CODIGO_CLI"), "ABC12");
  EXPECT_EQ(get(TextSet::kClients, 2, "CODIGO_CLI"), "00525");
  EXPECT_EQ(get(TextSet::kClients, 3, "FANT_CLI"), std::string(30, ' '));
  EXPECT_EQ(unpack(get(TextSet::kClients, 5, "CPF_CLI")).digits, std::string(15, '0'));
  EXPECT_EQ(unpack(get(TextSet::kClients, 6, "CPF_CLI")).digits, "000000000000012");
  EXPECT_EQ(unpack(get(TextSet::kClients, 7, "CPF_CLI")).digits, "470012345678901");
  EXPECT_EQ(unpack(get(TextSet::kClients, 8, "CEP_CLI")).digits, "000000000");
  EXPECT_EQ(unpack(get(TextSet::kClients, 9, "CNPJ_CLI")).digits, std::string(15, '0'));
  Unpacked cnpj = unpack(get(TextSet::kClients, 12, "CNPJ_CLI"));
  EXPECT_EQ(cnpj.digits, "012345678000195");
  EXPECT_EQ(cnpj.sign, 'D');
  EXPECT_EQ(unpack(get(TextSet::kClients, 12, "CPF_CLI")).sign, 'F');
  std::string crlf = get(TextSet::kClients, ds.crlf_line(), "CNPJ_CLI");
  EXPECT_EQ(crlf.substr(3, 2), "\r\n");
  // Suppliers: the taxpayer-number forms and the state registrations.
  EXPECT_EQ(unpack(get(TextSet::kSuppliers, 2, "CEP_FOR")).digits, "000000000");
  EXPECT_EQ(get(TextSet::kSuppliers, 3, "CNPJ_FOR").find('/'), 8u);
  EXPECT_EQ(get(TextSet::kSuppliers, 4, "CNPJ_FOR").find('-'), 8u);
  std::string both = get(TextSet::kSuppliers, 6, "CNPJ_FOR");
  EXPECT_NE(both.find('/'), std::string::npos);
  EXPECT_NE(both.find('-'), std::string::npos);
  EXPECT_EQ(get(TextSet::kSuppliers, 8, "CNPJ_FOR"), "00000000000000    ");
  EXPECT_EQ(get(TextSet::kSuppliers, 9, "INSEST_FOR").substr(0, 3), "000");
  EXPECT_EQ(get(TextSet::kSuppliers, 10, "INSEST_FOR"), std::string(18, ' '));
  // Payables: legacy codes, the nominal amount 1234.56, invalid and blank dates.
  EXPECT_EQ(get(TextSet::kPayables, 0, "CLI"), "00042");
  EXPECT_EQ(get(TextSet::kPayables, 1, "CLI"), "ABC  ");
  EXPECT_EQ(unpack(get(TextSet::kPayables, 8, "TEXTO3").substr(0, 6)).digits, "00000123456");
  EXPECT_EQ(unpack(get(TextSet::kPayables, 3, "TEXTO3").substr(6, 6)).digits, "00000000000");
  EXPECT_EQ(unpack(get(TextSet::kPayables, 5, "DT_EMISSAO").substr(0, 5)).digits, "005132014");
  EXPECT_EQ(unpack(get(TextSet::kPayables, 6, "DT_EMISSAO").substr(0, 5)).digits, "000000000");
  EXPECT_EQ(unpack(get(TextSet::kPayables, 9, "TEXTO3").substr(6, 6)).sign, 'D');
  // Balances: types 1, 2 and blank, the stock 123.456, costs around 1000000.
  EXPECT_EQ(get(TextSet::kBalances, 0, "REG"), "02");
  EXPECT_EQ(get(TextSet::kBalances, 1, "REG"), "  ");
  EXPECT_EQ(unpack(area(TextSet::kBalances, 8).substr(11, 5)).digits, "000123456");
  EXPECT_EQ(unpack(area(TextSet::kBalances, 4).substr(65, 7)).digits, "0001000000001");
  EXPECT_EQ(unpack(area(TextSet::kBalances, 5).substr(65, 7)).digits, "0001000000000");
  EXPECT_EQ(get(TextSet::kBalances, 10, "CODIGO"), "00042");
  EXPECT_EQ(get(TextSet::kBalances, 11, "CODIGO"), " 42  ");
  EXPECT_EQ(get(TextSet::kBalances, 3, "CODIGO").substr(0, 1), "9");
  // Receivables: client 525, a paid and an unpaid movement, dates as text.
  EXPECT_EQ(get(TextSet::kReceivables, 0, "CLI"), "00525");
  EXPECT_EQ(unpack(area(TextSet::kReceivables, 2).substr(0, 7)).digits, "0000000000000");
  EXPECT_NE(unpack(area(TextSet::kReceivables, 3).substr(0, 7)).digits, "0000000000000");
  EXPECT_EQ(unpack(area(TextSet::kReceivables, 3).substr(8, 5)).digits, "000000000");
  EXPECT_EQ(get(TextSet::kReceivables, 4, "DT_EMISSAO"), "05132014");
  EXPECT_EQ(get(TextSet::kReceivables, 5, "DT_EMISSAO"), "        ");
  EXPECT_EQ(get(TextSet::kReceivables, 6, "DT_EMISSAO"), "05032014");
  // The cases come back every 101 lines.
  EXPECT_EQ(get(TextSet::kClients, 101, "CODIGO_CLI"), "00042");
}

TEST(DatasetLines, NoLineCountMakesEmptyTextFiles) {
  TempDir dir;
  Dataset ds(DatasetOptions::with_lines(0));
  EXPECT_EQ(ds.crlf_line(), SIZE_MAX);
  ds.write(dir.path());
  EXPECT_EQ(fs::file_size(dir / "clientes.txt"), 0u);
  EXPECT_EQ(fs::file_size(dir / "SALDO.txt"), 0u);
}

TEST(DatasetLines, ManyLinesStreamToDisk) {
  TempDir dir;
  DatasetOptions o = DatasetOptions::with_lines(0);
  o.lines[static_cast<int>(TextSet::kBalances)] = 60000;
  Dataset ds(o);
  ds.write(dir.path());
  std::size_t width = static_cast<std::size_t>(ds.staging(TextSet::kBalances).record_length() - 1);
  EXPECT_EQ(fs::file_size(dir / "SALDO.txt"), 60000 * (width + 2));
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

  // Issued, then due, then paid.
  const TableDef& rec = ds.staging(TextSet::kReceivables);
  const TableDef& pag = ds.staging(TextSet::kPayables);
  int paid = 0;
  for (std::size_t i = 0; i < 400; ++i) {
    ds.line(TextSet::kReceivables, i, line);
    auto ymd = [](const std::string& t) {
      return t.substr(4, 4) + t.substr(2, 2) + t.substr(0, 2);
    };
    const std::string issued = ymd(field_of(rec, line, "DT_EMISSAO")),
                      due = ymd(field_of(rec, line, "DT_VECTO"));
    EXPECT_LE(issued, due) << i;
    std::string area;
    for (const char* f : {"LIVRE", "LIVRE2", "LIVRE3", "LIVRE4", "LIVRE5"})
      area += field_of(rec, line, f);
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
  }
  EXPECT_GT(paid, 150);

  // Stocks below a few hundred units, prices above costs, nothing near the clamp.
  const TableDef& bal = ds.staging(TextSet::kBalances);
  for (std::size_t i = 0; i < 400; ++i) {
    ds.line(TextSet::kBalances, i, line);
    std::string area;
    for (const char* f : {"LIVRE", "LIVRE2", "LIVRE3", "LIVRE4", "LIVRE5"})
      area += field_of(bal, line, f);
    const double stock = std::stod(unpack(area.substr(11, 5)).digits) / 1000;
    const double price = std::stod(unpack(area.substr(37, 7)).digits) / 1000;
    const double cost = std::stod(unpack(area.substr(65, 7)).digits) / 1000;
    EXPECT_LT(stock, 1000) << i;
    EXPECT_GT(cost, 0.4) << i;
    EXPECT_LT(cost, 2000) << i;
    EXPECT_GE(price, cost) << i;
  }

  // Payables' old supplier codes against the supplier table's OBS_FOR.
  std::vector<std::string> known;
  const FieldDef& obs = ds.target(Target::kSuppliers).at("OBS_FOR");
  for (const std::string& r : ds.initial_records(Target::kSuppliers)) {
    known.push_back(r.substr(static_cast<std::size_t>(obs.offset), 5));
  }
  int found = 0;
  for (std::size_t i = 0; i < 400; ++i) {
    ds.line(TextSet::kPayables, i, line);
    found += std::find(known.begin(), known.end(), field_of(pag, line, "CLI")) != known.end();
  }
  EXPECT_GT(found, 250);
  EXPECT_LT(found, 400);
}

TEST(DatasetLines, LegacySuppliersCarryCodesInObsFor) {
  DatasetOptions o = DatasetOptions::with_lines(3);
  o.legacy_suppliers = true;
  Dataset ds(o);
  const TableDef& d = ds.target(Target::kSuppliers);
  const FieldDef& obs = d.at("OBS_FOR");
  int coded = 0, deleted = 0;
  for (const std::string& r : ds.initial_records(Target::kSuppliers)) {
    std::string v = r.substr(static_cast<std::size_t>(obs.offset), 5);
    coded += v.find_first_not_of("0123456789") == std::string::npos;
    deleted += r[0] == '*';
  }
  EXPECT_GE(coded, 9);
  EXPECT_EQ(deleted, 1);
}

}  // namespace
}  // namespace lum::test
