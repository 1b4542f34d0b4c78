// The expected-result oracle: its string, number and date routines against the worked
// examples of the run's functions, and its expectations for the case lines of a
// generated dataset against values worked out here by hand from the line bytes.
#include "tests/support/expected.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/function_cases.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dbf_builder.h"

namespace lum::test {

using sample::Dataset;
using sample::DatasetOptions;
using sample::FieldDef;
using sample::kTargetCount;
using sample::kTextSetCount;
using sample::le16;
using sample::MemoKind;
using sample::read_bytes;
using sample::TableDef;
using sample::Target;
using sample::TextSet;
using sample::write_bytes;
namespace {

namespace fs = std::filesystem;

using oracle::Dec;

// ---------------------------------------------------------------------------------
// Routines

// The worked cases the engine is held to as well.
TEST(OracleRoutines, SharedCases) {
  for (const ConvHexCase& c : kConvHexCases) {
    EXPECT_EQ(oracle::conv_hex(std::string(c.bytes)), c.want) << c.name;
  }
  for (const PrefixEqualsCase& c : kPrefixEqualsCases) {
    EXPECT_EQ(oracle::equals(c.a, c.b), c.want) << c.a << "=" << c.b;
  }
  for (const ValCase& c : kValCases) {
    Dec d = oracle::val(c.text);
    EXPECT_EQ(d.mantissa, c.mantissa) << c.text;
    EXPECT_EQ(d.scale, c.scale) << c.text;
  }
  for (const StrCase& c : kStrCases) {
    EXPECT_EQ(oracle::str({c.mantissa, c.scale}, c.width), c.str) << c.mantissa << "e-" << c.scale;
    EXPECT_EQ(oracle::strzero({c.mantissa, c.scale}, c.width), c.strzero)
        << c.mantissa << "e-" << c.scale;
  }
  for (const CtodCase& c : kCtodCases) {
    char want[9] = "        ";
    if (c.y != 0) std::snprintf(want, sizeof want, "%04d%02d%02d", c.y, c.m, c.d);
    EXPECT_EQ(oracle::ctod(c.text), want) << c.text;
  }
  for (const CounterCase& c : kCounterCases) {
    EXPECT_EQ(Expected::counter_text(static_cast<std::size_t>(c.value)), c.want);
  }
}

TEST(OracleRoutines, StringFunctions) {
  EXPECT_EQ(oracle::alltrim("\tA "), "A");
  EXPECT_EQ(oracle::alltrim("A\t"), "A\t");
  EXPECT_EQ(oracle::alltrim("   "), "");
  EXPECT_EQ(oracle::substr("ABCDEF", 2, 3), "BCD");
  EXPECT_EQ(oracle::substr("ABCDEF", 5, 14), "EF");
  EXPECT_EQ(oracle::substr("ABC", 4, 2), "");
  EXPECT_EQ(oracle::substr("ABC", 1, 0), "");
  EXPECT_EQ(oracle::left("ABCDE", 8), "ABCDE");
  EXPECT_EQ(oracle::right("ABCDE", 3), "CDE");
  EXPECT_EQ(oracle::right("", 8), "");
  EXPECT_EQ(oracle::at("/", "12.345.678/0001-90"), 11);
  EXPECT_EQ(oracle::at("-", "123"), 0);
  EXPECT_EQ(oracle::at("", "123"), 0);
}

TEST(OracleRoutines, NumericFieldsCarryTheirDecimals) {
  EXPECT_EQ(oracle::numeric_field({125, 1}, 6, 2), " 12.50");
  EXPECT_EQ(oracle::numeric_field({0, 0}, 12, 3), "       0.000");
  EXPECT_EQ(oracle::numeric_field({123456, 3}, 12, 3), "     123.456");
  EXPECT_EQ(oracle::numeric_field({-5, 2}, 8, 2), "   -0.05");
  EXPECT_EQ(oracle::numeric_field({99999999999, 2}, 14, 2), "  999999999.99");
  EXPECT_THROW(oracle::numeric_field({1234567, 0}, 5, 0), std::range_error);
}

// ---------------------------------------------------------------------------------
// Expectations for the case lines

// Digits of packed bytes, decoded here half-byte by half-byte (the sign dropped).
std::string digits_of(std::string_view packed) {
  std::string d;
  for (std::size_t k = 0; k < packed.size(); ++k) {
    unsigned char b = static_cast<unsigned char>(packed[k]);
    d.push_back(static_cast<char>('0' + (b >> 4)));
    if (k + 1 < packed.size()) d.push_back(static_cast<char>('0' + (b & 15)));
  }
  return d;
}

// A numeric field's text from digits with `dec` decimals, right-aligned in `width`.
std::string amount(std::string_view digits, int dec, int width) {
  long long v = std::stoll(std::string(digits));
  long long p = 1;
  for (int k = 0; k < dec; ++k) p *= 10;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%*lld.%0*lld", width - dec - 1, v / p, dec, v % p);
  return buf;
}

class CaseLines : public ::testing::Test {
 protected:
  static constexpr std::size_t kLines = 40;
  CaseLines() : ds_(DatasetOptions::with_lines(kLines, 21)), ex_(ds_) {}

  std::string stg(TextSet set, std::size_t line, std::string_view name) {
    ds_.line(set, line, buf_);
    const FieldDef& f = ds_.staging(set).at(name);
    return buf_.substr(static_cast<std::size_t>(f.offset - 1), static_cast<std::size_t>(f.length));
  }
  std::string area(TextSet set, std::size_t line) {
    std::string a;
    for (const char* f : {"LIVRE", "LIVRE2", "LIVRE3", "LIVRE4", "LIVRE5"}) a += stg(set, line, f);
    return a;
  }
  static std::string get(const TableDef& d, const std::string& rec, std::string_view name) {
    const FieldDef& f = d.at(name);
    return rec.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length));
  }
  static std::string pad(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
  }

  Dataset ds_;
  Expected ex_;
  std::string buf_;
};

TEST_F(CaseLines, Clients) {
  std::vector<std::string> recs = ex_.records(Target::kClients);
  ASSERT_EQ(recs.size(), kLines + 1) << "the CR LF line becomes two records";
  const TableDef& t = ds_.target(Target::kClients);
  auto rec = [&](std::size_t line) -> const std::string& {
    return recs[line <= ds_.crlf_line() ? line : line + 1];
  };
  EXPECT_EQ(get(t, rec(0), "CODIGO_CLI"), "   42");
  EXPECT_EQ(get(t, rec(1), "CODIGO_CLI"), "    0");
  EXPECT_EQ(get(t, rec(2), "CODIGO_CLI"), "  525");
  EXPECT_EQ(get(t, rec(14), "CODIGO_CLI"), "  -42");
  EXPECT_EQ(get(t, rec(21), "CODIGO_CLI"), "   22");
  // Blank trade names, and one whose text lies beyond the target's 25 characters.
  for (std::size_t line : {3u, 4u, 16u}) {
    EXPECT_EQ(get(t, rec(line), "FANT_CLI"), stg(TextSet::kClients, line, "NOME_CLI").substr(0, 25))
        << line;
  }
  EXPECT_EQ(get(t, rec(5), "CPF_CLI"), std::string(14, ' '));
  EXPECT_EQ(get(t, rec(6), "CPF_CLI"), std::string(14, ' ')) << "only the first 11 digits count";
  EXPECT_EQ(get(t, rec(7), "CPF_CLI"), "0012345678901 ") << "the two leading digits are not taken";
  EXPECT_EQ(get(t, rec(8), "CEP_CLI"), "-        ");
  EXPECT_EQ(get(t, rec(8), "CEP_COB"), "-        ");
  EXPECT_EQ(get(t, rec(9), "CGC_CLI"), std::string(18, ' '));
  EXPECT_EQ(get(t, rec(12), "CGC_CLI"), pad("12345678000195", 18)) << "the sign is not read";
  EXPECT_EQ(get(t, rec(10), "CONTRIB"), "N");
  EXPECT_EQ(get(t, rec(11), "CONTRIB"), "S");
  EXPECT_EQ(get(t, rec(16), "CONTRIB"), "N") << "a registration of spaces";
  EXPECT_EQ(get(t, rec(15), "EMAIL"), "contato.financeiro.departamento@exemplo.");
  for (const std::string& r : recs) {
    EXPECT_EQ(r[0], ' ');
    EXPECT_EQ(get(t, r, "VENDEDOR") + get(t, r, "COD_PG_CLI") + get(t, r, "CODTAB_CLI") +
                  get(t, r, "GRUPO_CLI") + get(t, r, "COD_EST") + get(t, r, "AJUNTA"),
              "000010000100100001001S");
    EXPECT_EQ(get(t, r, "CEP_COB"), get(t, r, "CEP_CLI"));
    EXPECT_EQ(get(t, r, "PRACA_CLI"), get(t, r, "END_CLI").substr(0, 30));
    EXPECT_EQ(get(t, r, "UF_COB"), get(t, r, "ESTADO_CLI"));
    EXPECT_EQ(get(t, r, "DT_CAD") + get(t, r, "LIMITE") + get(t, r, "OBS"), std::string(30, ' '))
        << "fields the run does not write stay blank";
  }
  // A postal code made of digits: 5 + "-" + 3.
  std::string cep = digits_of(stg(TextSet::kClients, 0, "CEP_CLI")).substr(1);
  EXPECT_EQ(get(t, rec(0), "CEP_CLI"), cep.substr(0, 5) + "-" + cep.substr(5));
}

TEST_F(CaseLines, CrLfInsidePackedBytesSplitsTheRecord) {
  std::size_t k = ds_.crlf_line();
  ASSERT_LT(k, kLines);
  std::vector<std::string> staged = ex_.staging_records(TextSet::kClients);
  ASSERT_EQ(staged.size(), kLines + 1);
  ds_.line(TextSet::kClients, k, buf_);
  std::size_t cut = buf_.find("\r\n");
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ(staged[k], " " + pad(buf_.substr(0, cut), buf_.size()));
  EXPECT_EQ(staged[k + 1], " " + pad(buf_.substr(cut + 2), buf_.size()));
  std::string next;
  ds_.line(TextSet::kClients, k + 1, next);
  EXPECT_EQ(staged[k + 2], " " + next);
  EXPECT_EQ(ex_.counter(Counter::kClients), kLines + 1);
  // Both halves are converted: the first keeps its code, the second's code is read
  // from the bytes that followed the CR LF.
  const TableDef& t = ds_.target(Target::kClients);
  std::vector<std::string> recs = ex_.records(Target::kClients);
  ASSERT_EQ(k, 20u);
  EXPECT_EQ(get(t, recs[k], "CODIGO_CLI"), "   21");
  EXPECT_EQ(get(t, recs[k], "INSEST_CLI"), std::string(18, ' '));
  EXPECT_EQ(get(t, recs[k], "CONTRIB"), "N");
}

TEST_F(CaseLines, ItemsAndBalances) {
  std::vector<std::string> recs = ex_.records(Target::kItems);
  ASSERT_EQ(recs.size(), kLines);
  const TableDef& t = ds_.target(Target::kItems);
  EXPECT_EQ(get(t, recs[0], "CODITEM"), "   42");
  EXPECT_EQ(get(t, recs[1], "CODITEM"), "    0");
  EXPECT_EQ(get(t, recs[7], "CODITEM"), "   77");
  EXPECT_EQ(get(t, recs[2], "MARCA"), pad("FORTEX", 25)) << "no leading space";
  EXPECT_EQ(get(t, recs[3], "MARCA"), std::string(25, ' '));
  EXPECT_EQ(get(t, recs[8], "MARCA"), "LINHA PROFISSIONAL X META");
  EXPECT_EQ(get(t, recs[9], "LOCALIZA"), "DEPOSITO 1");
  EXPECT_EQ(get(t, recs[5], "DESCNUM"), pad("AB 12" + stg(TextSet::kProducts, 5, "LIVRE22"), 20));
  for (const std::string& r : recs) {
    EXPECT_EQ(
        get(t, r, "TP_PRODUTO") + get(t, r, "GRUPO") + get(t, r, "ICMS_EST") + get(t, r, "COD_OBS"),
        "101.01.001001001");
  }
  // Code 42 has balances on lines 10 (" 00042", type 01), 11 (" 42  ", type "1 ")
  // and 12 (type 02). In CODIGO order " 42  " comes first, so line 10's values stay,
  // on the first item with code 42 (record 1); the second (record 7) keeps zeros.
  std::string a = area(TextSet::kBalances, 10);
  std::string stock = digits_of(a.substr(11, 5)), cost = digits_of(a.substr(65, 7));
  std::string last_cost = digits_of(a.substr(72, 7)), price = digits_of(a.substr(37, 7));
  EXPECT_EQ(get(t, recs[0], "SALINICIAL"), amount(stock, 3, 12));
  EXPECT_EQ(get(t, recs[0], "SALATUAL"), amount(stock, 3, 12));
  EXPECT_EQ(get(t, recs[0], "CUSTINICIA"), amount(cost, 3, 14));
  EXPECT_EQ(get(t, recs[0], "CUSTMEDIO"), amount(cost, 3, 14));
  EXPECT_EQ(get(t, recs[0], "CUSTREPOS"), amount(last_cost, 3, 14));
  EXPECT_EQ(get(t, recs[0], "VENDANORM"), amount(price, 3, 14));
  EXPECT_EQ(get(t, recs[6], "SALATUAL"), "       0.000");
  // Balance line j names product (7 j) mod 40.
  EXPECT_EQ(get(t, recs[16], "SALINICIAL"), "     123.456");    // line 8
  EXPECT_EQ(get(t, recs[28], "CUSTINICIA"), "         0.000");  // line 4: 1000000.001
  EXPECT_EQ(get(t, recs[35], "CUSTINICIA"), "   1000000.000");  // line 5: exactly 1000000
  EXPECT_EQ(get(t, recs[35], "CUSTMEDIO"), "   1000000.000");
  EXPECT_EQ(get(t, recs[(6 * 7) % 40], "CUSTREPOS"), "         0.000");  // line 6
  EXPECT_EQ(get(t, recs[(7 * 7) % 40], "VENDANORM"), "         0.000");  // line 7
  std::string negative = digits_of(area(TextSet::kBalances, 9).substr(11, 5));
  EXPECT_EQ(get(t, recs[(9 * 7) % 40], "SALATUAL"), amount(negative, 3, 12))
      << "a negative stock reads as its digits";
  // Types 02, blank and 10 are neither counted nor applied.
  std::size_t type1 = 0;
  for (std::size_t j = 0; j < kLines; ++j) {
    std::string reg = stg(TextSet::kBalances, j, "REG");
    type1 += reg == "01" || reg == " 1" || reg == "1 ";
  }
  EXPECT_EQ(ex_.counter(Counter::kBalances), type1);
  EXPECT_EQ(get(t, recs[0], "OBS") + get(t, recs[0], "PESO") + get(t, recs[0], "ATIVO"),
            std::string(19, ' '));
}

TEST_F(CaseLines, Suppliers) {
  std::vector<std::string> recs = ex_.records(Target::kSuppliers);
  ASSERT_EQ(recs.size(), kLines);
  const TableDef& t = ds_.target(Target::kSuppliers);
  EXPECT_EQ(get(t, recs[0], "CODIGO_FOR"), "   42");
  EXPECT_EQ(get(t, recs[1], "CODIGO_FOR"), "    0");
  EXPECT_EQ(get(t, recs[14], "CODIGO_FOR"), "    7");
  EXPECT_EQ(get(t, recs[2], "CEP_FOR"), "00000-000") << "zero postal codes are kept";
  // "RRRRRRRR/BBBBCC   ": the slash goes and the last 6 of the joined text, trailing
  // blanks included, follow the first 8.
  std::string slash = stg(TextSet::kSuppliers, 3, "CNPJ_FOR");
  EXPECT_EQ(get(t, recs[3], "CGC_FOR"), slash.substr(0, 8) + slash.substr(12));
  std::string hyphen = stg(TextSet::kSuppliers, 4, "CNPJ_FOR");
  EXPECT_EQ(get(t, recs[4], "CGC_FOR"), hyphen.substr(0, 8) + hyphen.substr(12));
  EXPECT_EQ(get(t, recs[5], "CGC_FOR"), stg(TextSet::kSuppliers, 5, "CNPJ_FOR").substr(0, 14));
  std::string both = get(t, recs[6], "CGC_FOR");
  EXPECT_EQ(both.find('/'), std::string::npos);
  EXPECT_NE(both.find('-'), std::string::npos) << "only the slash is removed";
  EXPECT_EQ(get(t, recs[7], "CGC_FOR"), std::string(14, ' '));
  EXPECT_EQ(get(t, recs[8], "CGC_FOR"), std::string(14, ' '));
  EXPECT_EQ(get(t, recs[11], "CGC_FOR"), std::string(14, ' '));
  EXPECT_EQ(get(t, recs[9], "INSEST_FOR"), std::string(18, ' '));
  EXPECT_EQ(get(t, recs[11], "INSEST_FOR"), std::string(18, ' '));
  EXPECT_EQ(get(t, recs[12], "INSEST_FOR"), pad("  12345", 18));
  for (const std::string& r : recs) {
    EXPECT_EQ(get(t, r, "COD_EST"), "016");
    EXPECT_EQ(get(t, r, "OBS_FOR"), std::string(20, ' '));
  }
}

TEST_F(CaseLines, Receivables) {
  std::vector<std::string> recs = ex_.records(Target::kReceivables);
  ASSERT_EQ(recs.size(), kLines);
  const TableDef& t = ds_.target(Target::kReceivables);
  for (std::size_t k = 0; k < recs.size(); ++k) {
    char num[32];
    std::snprintf(num, sizeof num, "%06zu", k + 1);
    EXPECT_EQ(get(t, recs[k], "CODIGO_RB"), num);
    EXPECT_EQ(get(t, recs[k], "DTBASE_RB"), get(t, recs[k], "DT_EMISSAO"));
    EXPECT_EQ(get(t, recs[k], "BAI_PARC") + get(t, recs[k], "COD_DOC"), "N001");
    std::string nominal = digits_of(stg(TextSet::kReceivables, k, "TEXTO3")).substr(1);
    EXPECT_EQ(get(t, recs[k], "VALOR"), amount(nominal, 2, 14)) << k;
  }
  EXPECT_EQ(get(t, recs[0], "COD_CLI"), "  525");
  // Not paid: blank payment fields.
  EXPECT_EQ(get(t, recs[2], "DT_PG") + get(t, recs[2], "VR_NOMINAL") + get(t, recs[2], "VR_PAGO") +
                get(t, recs[2], "COD_TDC"),
            std::string(8 + 14 + 14 + 5, ' '));
  // Paid with a zero payment date: an empty DT_PG, the rest filled.
  EXPECT_EQ(get(t, recs[3], "DT_PG"), std::string(8, ' '));
  EXPECT_EQ(get(t, recs[3], "COD_TDC"), "00001");
  EXPECT_EQ(get(t, recs[3], "VR_NOMINAL"), get(t, recs[3], "VALOR"));
  EXPECT_EQ(get(t, recs[3], "VR_PAGO"),
            amount(digits_of(area(TextSet::kReceivables, 3).substr(0, 7)), 2, 14));
  EXPECT_EQ(get(t, recs[4], "DT_EMISSAO"), std::string(8, ' ')) << "month 13";
  EXPECT_EQ(get(t, recs[5], "DT_EMISSAO"), std::string(8, ' ')) << "blank";
  EXPECT_EQ(get(t, recs[6], "DT_EMISSAO"), "20140305");
  EXPECT_EQ(get(t, recs[7], "DT_VENC"), std::string(8, ' '));
  EXPECT_EQ(get(t, recs[8], "DT_VENC"), "20120229");
  EXPECT_EQ(get(t, recs[9], "COD_CLI"), "    0");
  EXPECT_EQ(get(t, recs[11], "DT_PG"), std::string(8, ' ')) << "payment in month 13";
  // Paid: the payment date is half-bytes 18 to 25 of the packed area.
  std::string paid_on = digits_of(area(TextSet::kReceivables, 10).substr(8, 5)).substr(1);
  EXPECT_EQ(get(t, recs[10], "DT_PG"),
            paid_on.substr(4, 4) + paid_on.substr(2, 2) + paid_on.substr(0, 2));
  // The diagnostic lines of client 525: lines 0 and 1, and any ordinary line of 525.
  std::vector<std::string> lines = ex_.console_lines();
  std::vector<std::string> diag(lines.end() - 2, lines.end());
  EXPECT_EQ(diag[0], oracle::conv_hex(area(TextSet::kReceivables, 0)));
  EXPECT_EQ(diag[1], oracle::conv_hex(area(TextSet::kReceivables, 1)));
}

TEST_F(CaseLines, PayablesWithRebuiltSuppliersFindNoSupplier) {
  std::vector<std::string> recs = ex_.records(Target::kPayables);
  ASSERT_EQ(recs.size(), kLines);
  const TableDef& t = ds_.target(Target::kPayables);
  EXPECT_EQ(get(t, recs[0], "COD_FOR"), "00042");
  EXPECT_EQ(get(t, recs[1], "COD_FOR"), "00000");
  EXPECT_EQ(get(t, recs[2], "COD_FOR"), "00042");
  EXPECT_EQ(get(t, recs[10], "COD_FOR"), "00525");
  EXPECT_EQ(get(t, recs[8], "VALOR"), "       1234.56");
  EXPECT_EQ(get(t, recs[3], "DT_PG") + get(t, recs[3], "VR_PAGO") + get(t, recs[3], "COD_TDC"),
            std::string(8 + 14 + 5, ' '));
  EXPECT_EQ(get(t, recs[4], "DT_PG"), std::string(8, ' '));
  EXPECT_EQ(get(t, recs[4], "COD_TDC"), "00001");
  EXPECT_EQ(get(t, recs[5], "DT_EMISSAO") + get(t, recs[5], "DTBASE_PG"), std::string(16, ' '));
  EXPECT_EQ(get(t, recs[6], "DT_EMISSAO"), std::string(8, ' '));
  EXPECT_EQ(get(t, recs[7], "DT_VENC"), "02020202") << "blank packed bytes read as 02/02/0202";
  EXPECT_EQ(get(t, recs[11], "VALOR"), "  999999999.99");
  EXPECT_EQ(get(t, recs[9], "VR_PAGO"), get(t, recs[9], "VALOR")) << "the sign is not read";
  // The amount paid ends at its sign letter; the parcel digits after it are not read.
  EXPECT_EQ(get(t, recs[9], "VR_PAGO"),
            amount(digits_of(stg(TextSet::kPayables, 9, "TEXTO3").substr(6, 6)), 2, 14));
  std::vector<std::string> lines = ex_.console_lines();
  ASSERT_GE(lines.size(), kLines);
  for (std::size_t k = 0; k < kLines; ++k) {
    EXPECT_EQ(lines[k], "Fornecedor nao encontrado" + get(t, recs[k], "COD_FOR"));
  }
  EXPECT_EQ(lines[kLines], "         5") << "the width of CODITEM";
}

TEST(Expectations, LegacySuppliersAreFoundWhenTheSupplierFileIsAbsent) {
  DatasetOptions o = DatasetOptions::with_lines(25, 2);
  o.legacy_suppliers = true;
  o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
  Dataset ds(o);
  Expected ex(ds);
  EXPECT_FALSE(ex.rewritten(Target::kSuppliers));
  EXPECT_EQ(ex.records(Target::kSuppliers), ds.initial_records(Target::kSuppliers));
  EXPECT_FALSE(ex.counter(Counter::kSuppliers).has_value());
  const FieldDef& cod = ds.target(Target::kPayables).at("COD_FOR");
  std::vector<std::string> recs = ex.records(Target::kPayables);
  auto cod_for = [&](std::size_t k) {
    return recs[k].substr(static_cast<std::size_t>(cod.offset), 5);
  };
  // Case lines 0, 1, 2 and 12 name 00042, a non-number, 42 and 00777; ordinary line k
  // names legacy code k % 12 + 1.
  EXPECT_EQ(cod_for(0), "  510") << "OBS_FOR 00042 MATRIZ";
  EXPECT_EQ(cod_for(2), "  510") << "42 is sought as 00042";
  EXPECT_EQ(cod_for(1), "00000");
  ASSERT_EQ(ds.initial_records(Target::kSuppliers)[6][0], '*') << "supplier 506 is deleted";
  EXPECT_EQ(cod_for(12), "  506") << "a deleted supplier is indexed and found";
  EXPECT_EQ(cod_for(13), "  501") << "OBS_FOR 00002 COD.ANTIGO";
  EXPECT_EQ(cod_for(16), "  509") << "00005 sorts before 00005 FILIAL";
  EXPECT_EQ(cod_for(19), "00008") << "OBS_FOR '  008' does not begin with 00008";
  EXPECT_EQ(cod_for(23), "00012");
  EXPECT_EQ(cod_for(24), "  500");
  std::vector<std::string> lines = ex.console_lines();
  auto has = [&](const char* l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has("Fornecedor nao encontrado00008"));
  EXPECT_TRUE(has("Fornecedor nao encontrado00000"));
  EXPECT_FALSE(has("Fornecedor nao encontrado00042"));
  EXPECT_FALSE(has("Fornecedor nao encontrado00777"));
}

TEST(Expectations, WideCoditemTakesBarcodesAndOnlyThe78900BalanceMatches) {
  DatasetOptions o = DatasetOptions::with_lines(40, 4);
  o.wide_coditem = true;
  Dataset ds(o);
  Expected ex(ds);
  const TableDef& t = ds.target(Target::kItems);
  const FieldDef& code = t.at("CODITEM");
  const FieldDef& stock = t.at("SALATUAL");
  std::vector<std::string> recs = ex.records(Target::kItems);
  std::string line;
  std::size_t lowest = recs.size();
  std::string lowest_code;
  for (std::size_t k = 0; k < recs.size(); ++k) {
    ds.line(TextSet::kProducts, k, line);
    const FieldDef& l22 = ds.staging(TextSet::kProducts).at("LIVRE22");
    std::string barcode = line.substr(static_cast<std::size_t>(l22.offset - 1), 13);
    std::string c = recs[k].substr(static_cast<std::size_t>(code.offset), 14);
    if (barcode != std::string(13, ' ')) {
      EXPECT_EQ(c, barcode + " ");
      if (lowest == recs.size() || c < lowest_code) {
        lowest = k;
        lowest_code = c;
      }
    } else {
      EXPECT_EQ(c.substr(0, 9), std::string(9, ' ')) << "right-aligned in 14";
    }
  }
  ASSERT_LT(lowest, recs.size());
  for (std::size_t k = 0; k < recs.size(); ++k) {
    std::string s = recs[k].substr(static_cast<std::size_t>(stock.offset), 12);
    if (k == lowest) {
      ds.line(TextSet::kBalances, 13, line);
      std::string a;
      for (const char* f : {"LIVRE", "LIVRE2", "LIVRE3", "LIVRE4", "LIVRE5"}) {
        const FieldDef& fd = ds.staging(TextSet::kBalances).at(f);
        a += line.substr(static_cast<std::size_t>(fd.offset - 1),
                         static_cast<std::size_t>(fd.length));
      }
      EXPECT_EQ(s, amount(digits_of(a.substr(11, 5)), 3, 12));
    } else {
      EXPECT_EQ(s, "       0.000") << k;
    }
  }
  std::vector<std::string> lines = ex.console_lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "        14"), lines.end());
}

TEST(Expectations, AbsentFilesDecideWhatRunsAndWhereTheRunFails) {
  const std::vector<Target> all = {Target::kClients, Target::kItems, Target::kSuppliers,
                                   Target::kReceivables, Target::kPayables};
  struct Case {
    const char* name;
    std::vector<TextSet> without;
    MissingText missing;
    std::optional<TextSet> failing;
    std::vector<Target> rewritten;
  };
  const Case cases[] = {
      {"all present", {}, MissingText::kCheckedBeforeEmptying, std::nullopt, all},
      {"no receber.txt",
       {TextSet::kReceivables},
       MissingText::kCheckedBeforeEmptying,
       TextSet::kReceivables,
       {Target::kClients, Target::kItems, Target::kSuppliers, Target::kPayables}},
      {"no receber.txt, emptied first",
       {TextSet::kReceivables},
       MissingText::kEmptiedFirst,
       TextSet::kReceivables,
       all},
      {"no SALDO.txt",
       {TextSet::kBalances},
       MissingText::kCheckedBeforeEmptying,
       TextSet::kBalances,
       {Target::kSuppliers, Target::kPayables}},
      {"no SALDO.txt, emptied first",
       {TextSet::kBalances},
       MissingText::kEmptiedFirst,
       TextSet::kBalances,
       {Target::kItems, Target::kSuppliers, Target::kPayables}},
      {"no prod.txt",
       {TextSet::kProducts},
       MissingText::kCheckedBeforeEmptying,
       std::nullopt,
       {Target::kClients, Target::kSuppliers, Target::kReceivables, Target::kPayables}},
      {"no clientes.txt",
       {TextSet::kClients},
       MissingText::kCheckedBeforeEmptying,
       std::nullopt,
       {Target::kItems, Target::kSuppliers, Target::kPayables}},
      {"no forneced.txt nor PAGAR.txt",
       {TextSet::kSuppliers, TextSet::kPayables},
       MissingText::kCheckedBeforeEmptying,
       std::nullopt,
       {Target::kClients, Target::kItems, Target::kReceivables}},
  };
  for (const Case& c : cases) {
    DatasetOptions o = DatasetOptions::with_lines(6);
    for (TextSet s : c.without) o.write_text[static_cast<int>(s)] = false;
    Dataset ds(o);
    Expected ex(ds, c.missing);
    EXPECT_EQ(ex.failing_import(), c.failing) << c.name;
    EXPECT_EQ(ex.exit_code(), c.failing ? 1 : 0) << c.name;
    for (int k = 0; k < kTargetCount; ++k) {
      Target t = static_cast<Target>(k);
      bool want = std::find(c.rewritten.begin(), c.rewritten.end(), t) != c.rewritten.end();
      EXPECT_EQ(ex.rewritten(t), want) << c.name << " target " << k;
      if (!want) {
        EXPECT_EQ(ex.records(t), ds.initial_records(t)) << c.name;
        EXPECT_EQ(ex.memo_file(t), ds.initial_memo(t)) << c.name;
      }
    }
  }
}

TEST(Expectations, FailingImportsLeaveTheirTablesAsTheModeSays) {
  DatasetOptions o = DatasetOptions::with_lines(6);
  o.write_text[static_cast<int>(TextSet::kReceivables)] = false;
  Dataset ds(o);
  Expected ex(ds, MissingText::kEmptiedFirst);
  EXPECT_EQ(ex.record_count(Target::kReceivables), 0u);
  EXPECT_EQ(ex.staging_count(TextSet::kReceivables), 0u);
  EXPECT_FALSE(ex.counter(Counter::kReceivables).has_value());
  EXPECT_EQ(ex.counter(Counter::kClients), 7u);
  for (const std::string& l : ex.console_lines()) EXPECT_NE(l.size(), 69u) << "no 525 line";

  DatasetOptions p = DatasetOptions::with_lines(6);
  p.write_text[static_cast<int>(TextSet::kBalances)] = false;
  Dataset dp(p);
  Expected ep(dp, MissingText::kEmptiedFirst);
  EXPECT_EQ(ep.record_count(Target::kItems), 6u);
  const FieldDef& sal = dp.target(Target::kItems).at("SALATUAL");
  for (const std::string& r : ep.records(Target::kItems)) {
    EXPECT_EQ(r.substr(static_cast<std::size_t>(sal.offset), 12), "       0.000");
  }
  EXPECT_EQ(ep.staging_count(TextSet::kBalances), 0u);
  EXPECT_EQ(ep.staging_records(TextSet::kClients), dp.staging_records(TextSet::kClients))
      << "the client conversion never starts";
  EXPECT_FALSE(ep.counter(Counter::kBalances).has_value());
  EXPECT_EQ(ep.counter(Counter::kProducts), 6u);

  // Checked before anything is emptied: the failing conversion changes nothing (its
  // targets: AbsentFilesDecideWhatRunsAndWhereTheRunFails) and prints nothing (the
  // CODITEM width comes after the check).
  Expected checked(dp);
  EXPECT_EQ(checked.staging_records(TextSet::kProducts), dp.staging_records(TextSet::kProducts));
  EXPECT_FALSE(checked.counter(Counter::kProducts).has_value());
  for (const std::string& l : checked.console_lines()) EXPECT_NE(l, "         5");
  EXPECT_EQ(Expected(ds).counter(Counter::kClients), 7u);
}

TEST(Expectations, TableFilesKeepTheirHeaderWithTheNewCountAndDate) {
  DatasetOptions o = DatasetOptions::with_lines(5);
  o.write_text[static_cast<int>(TextSet::kReceivables)] = false;
  o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
  Dataset ds(o);
  Expected ex(ds, MissingText::kEmptiedFirst);
  const Expected::Date today{2024, 2, 29};
  auto u16 = [](const std::string& f, std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(f[at])) |
           static_cast<std::size_t>(static_cast<unsigned char>(f[at + 1])) << 8;
  };
  std::string initial = ds.initial_table_file(Target::kClients);
  std::string f = ex.table_file(Target::kClients, today);
  std::size_t hl = u16(initial, 8), rl = u16(initial, 10);
  ASSERT_EQ(f.size(), hl + 6 * rl) << "5 lines, one cut in two; no 0x1A after appends";
  EXPECT_EQ(f.substr(0, 4), std::string("\x83\x7C\x02\x1D", 4));
  EXPECT_EQ(f.substr(4, 4), std::string("\x06\x00\x00\x00", 4));
  EXPECT_EQ(f.substr(8, hl - 8), initial.substr(8, hl - 8));
  EXPECT_EQ(f.substr(hl), [&] {
    std::string all;
    for (const std::string& r : ex.records(Target::kClients)) all += r;
    return all;
  }());
  // Emptied by the zap and never appended to: the header and one 0x1A.
  std::string rb = ex.table_file(Target::kReceivables, today);
  std::string rb0 = ds.initial_table_file(Target::kReceivables);
  ASSERT_EQ(rb.size(), u16(rb0, 8) + 1);
  EXPECT_EQ(rb.back(), '\x1A');
  EXPECT_EQ(rb.substr(4, 4), std::string(4, '\0'));
  // Not touched: the file as written, with its old date.
  EXPECT_EQ(ex.table_file(Target::kSuppliers, today), ds.initial_table_file(Target::kSuppliers));
  EXPECT_EQ(ex.staging_file(TextSet::kSuppliers, today),
            ds.initial_staging_file(TextSet::kSuppliers));
  // The product staging table keeps its longer header.
  std::string prod = ex.staging_file(TextSet::kProducts, today);
  std::string prod0 = ds.initial_staging_file(TextSet::kProducts);
  EXPECT_EQ(prod.substr(8, u16(prod0, 8) - 8), prod0.substr(8, u16(prod0, 8) - 8));
  EXPECT_EQ(prod.size(), u16(prod0, 8) + 5 * u16(prod0, 10));
}

TEST(Expectations, DifferencesNameTheFileTheRecordAndTheField) {
  TempDir dir;
  DatasetOptions o = DatasetOptions::with_lines(4);
  o.write_text.fill(false);
  Dataset ds(o);
  ds.write(dir.path());
  Expected ex(ds);
  const Expected::Date today{2024, 1, 2};
  EXPECT_EQ(ex.differences(dir.path(), today), std::vector<std::string>{})
      << "with no text file the run changes nothing";

  fs::path sup = Dataset::target_dir(dir.path()) / "Forneced.Dbf";
  std::vector<std::uint8_t> bytes = read_bytes(sup);
  const TableDef& d = ds.target(Target::kSuppliers);
  std::size_t hl = le16(bytes, 8);
  bytes[hl + static_cast<std::size_t>(d.record_length()) +
        static_cast<std::size_t>(d.at("COD_EST").offset)] = 0x0D;
  bytes.push_back('x');
  write_bytes(sup, bytes);
  write_bytes(Dataset::target_dir(dir.path()) / "Item.FPT", {0});
  std::vector<std::string> diff = ex.differences(dir.path(), today);
  ASSERT_EQ(diff.size(), 3u);
  EXPECT_EQ(diff[0], "Item.FPT: memo file differs (1 bytes, expected 640)");
  EXPECT_EQ(diff[1], "Forneced.Dbf: record 2 COD_EST '\\x0D16', expected '016'");
  EXPECT_EQ(diff[2], "Forneced.Dbf: file has " + std::to_string(bytes.size()) +
                         " bytes (3 records), expected " + std::to_string(bytes.size() - 1) +
                         " (3 records)");
  EXPECT_EQ(ex.differences(dir.path(), today, 1).size(), 1u);
}

TEST(Expectations, FilesMadeFromTheExpectationsShowNoDifference) {
  TempDir dir;
  Dataset ds(DatasetOptions::with_lines(30, 8));
  ds.write(dir.path());
  Expected ex(ds);
  const Expected::Date today{2031, 12, 31};
  auto put = [](const fs::path& p, const std::string& s) {
    write_bytes(p, std::vector<std::uint8_t>(s.begin(), s.end()));
  };
  for (int k = 0; k < kTargetCount; ++k) {
    const TableDef& d = ds.target(static_cast<Target>(k));
    put(Dataset::target_dir(dir.path()) / d.file_name,
        ex.table_file(static_cast<Target>(k), today));
    if (d.memo != MemoKind::kNone) {
      put(Dataset::target_dir(dir.path()) / d.memo_file_name, ex.memo_file(static_cast<Target>(k)));
    }
  }
  for (int s = 0; s < kTextSetCount; ++s) {
    put(dir / ds.staging(static_cast<TextSet>(s)).file_name,
        ex.staging_file(static_cast<TextSet>(s), today));
  }
  EXPECT_EQ(ex.differences(dir.path(), today), std::vector<std::string>{});
  std::vector<std::string> stale = ex.differences(dir.path(), Expected::Date{2031, 12, 30});
  ASSERT_FALSE(stale.empty());
  EXPECT_EQ(stale[0], "Clientes.DBF: header byte 3 is 0x1F, expected 0x1E");
}

TEST(Expectations, ZappedMemoFilesAreMadeAnew) {
  Dataset ds(DatasetOptions::with_lines(2));
  Expected ex(ds);
  std::string dbt = ex.memo_file(Target::kClients);
  ASSERT_EQ(dbt.size(), 512u);
  EXPECT_EQ(dbt.substr(0, 8), std::string("\x01\x00\x00\x00\x00\x02\x00\x00", 8));
  EXPECT_EQ(dbt.substr(8, 8), std::string("Tessera\0", 8));
  std::string fpt = ex.memo_file(Target::kItems);
  ASSERT_EQ(fpt.size(), 512u);
  EXPECT_EQ(fpt.substr(0, 8), std::string("\x00\x00\x00\x08\x00\x00\x00\x40", 8));
  EXPECT_EQ(ex.memo_file(Target::kSuppliers), "");
}

}  // namespace
}  // namespace lum::test
