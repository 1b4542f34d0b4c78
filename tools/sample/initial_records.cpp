// The records the tables hold before the run: stale staging records, and old records of
// the target tables, with memo text in their memo files.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sample/content.h"
#include "tools/sample/dataset.h"
#include "tools/sample/layouts.h"
#include "tools/sample/line_fields.h"
#include "tools/sample/lines.h"

namespace lum::sample {
namespace {

void set_field(std::string& rec, const TableDef& d, std::string_view name, std::string_view v) {
  const FieldDef& f = d.at(name);
  std::size_t n = std::min<std::size_t>(v.size(), static_cast<std::size_t>(f.length));
  std::memcpy(rec.data() + f.offset, v.data(), n);
  std::memset(rec.data() + f.offset + n, ' ', static_cast<std::size_t>(f.length) - n);
}

// Right-aligned text, as numbers and memo references are stored.
void set_right(std::string& rec, const TableDef& d, std::string_view name, std::string_view v) {
  const FieldDef& f = d.at(name);
  std::string text(static_cast<std::size_t>(f.length) - std::min<std::size_t>(v.size(), f.length),
                   ' ');
  text.append(v.substr(0, static_cast<std::size_t>(f.length)));
  set_field(rec, d, name, text);
}

// The 512-byte memo header: next free block and block size in the kind's byte order.
std::string memo_header(const TableDef& d, std::uint32_t next_block) {
  std::vector<std::uint8_t> h = build_memo(dbf_layout(d), next_block);
  return std::string(h.begin(), h.end());
}

void be32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k)
    s[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (24 - 8 * k));
}

// Two old lines and one deleted record from a former export: plain text, the field
// names as content.
std::vector<std::string> stale_records(const TableDef& d) {
  std::vector<std::string> records;
  for (int k = 0; k < 3; ++k) {
    std::string rec = d.blank_record();
    for (const FieldDef& f : d.fields) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%s%d", f.name.c_str(), k + 1);
      std::size_t n = std::min<std::size_t>(std::strlen(buf), static_cast<std::size_t>(f.length));
      std::memcpy(rec.data() + f.offset, buf, n);
    }
    if (k == 2) rec[0] = '*';
    records.push_back(std::move(rec));
  }
  return records;
}

// Clients: three old records, two of them with memo text in the DBT file.
std::vector<std::string> client_records(const TableDef& d, std::string& memo_file) {
  std::vector<std::string> records;
  const char* names[] = {"CLIENTE ANTIGO UM", "CLIENTE ANTIGO DOIS", "CLIENTE ANTIGO TRES"};
  std::string memo;  // blocks after the header
  std::uint32_t next_block = 1;
  for (int k = 0; k < 3; ++k) {
    std::string rec = d.blank_record();
    char code[8];
    std::snprintf(code, sizeof code, "%5d", 900 + k);
    set_field(rec, d, "CODIGO_CLI", code);
    set_field(rec, d, "NOME_CLI", names[k]);
    set_field(rec, d, "CIDADE_CLI", "CAMPINAS");
    set_field(rec, d, "ESTADO_CLI", "SP");
    set_field(rec, d, "DT_CAD", "20091130");
    set_right(rec, d, "LIMITE", "1500.00");
    set_field(rec, d, "VENDEDOR", "00003");
    if (k != 1) {
      std::string text = "OBSERVACAO DO CLIENTE " + std::to_string(900 + k);
      std::string block(512, '\0');
      std::memcpy(block.data(), text.data(), text.size());
      block[text.size()] = 0x1A;
      block[text.size() + 1] = 0x1A;
      memo += block;
      set_right(rec, d, "OBS", std::to_string(next_block));
      ++next_block;
    }
    records.push_back(std::move(rec));
  }
  memo_file = memo_header(d, next_block) + memo;
  return records;
}

// Items: three old records, two with memo text in the FPT file (64-byte blocks; the
// 512-byte header fills blocks 0 to 7).
std::vector<std::string> item_records(const TableDef& d, std::string& memo_file) {
  std::vector<std::string> records;
  std::string memo;  // blocks after the header
  std::uint32_t next_block = 512 / 64;
  for (int k = 0; k < 3; ++k) {
    std::string rec = d.blank_record();
    char code[8];
    std::snprintf(code, sizeof code, "%d", 80000 + k);
    set_right(rec, d, "CODITEM", code);
    set_field(rec, d, "DESCRICAO", "ITEM DESCONTINUADO");
    set_right(rec, d, "SALATUAL", "12.500");
    set_right(rec, d, "PESO", "0.250");
    set_field(rec, d, "ATIVO", k == 0 ? "T" : "F");
    set_field(rec, d, "DT_ALT", "20120315");
    if (k != 2) {
      std::string text = "FICHA TECNICA DO ITEM " + std::to_string(80000 + k);
      std::string block(8, '\0');
      be32(block, 0, 1);  // type 1: text
      be32(block, 4, static_cast<std::uint32_t>(text.size()));
      block += text;
      block.resize((block.size() + 63) / 64 * 64, '\0');
      set_right(rec, d, "OBS", std::to_string(next_block));
      next_block += static_cast<std::uint32_t>(block.size() / 64);
      memo += block;
    }
    records.push_back(std::move(rec));
  }
  memo_file = memo_header(d, next_block) + memo;
  return records;
}

// Realistic: supplier k (from 0) migrated before, with the code the old system gave it
// in OBS_FOR.
std::string realistic_legacy_supplier(const TableDef& d, std::uint64_t seed, std::size_t k) {
  Rng r(line_seed(seed, 100, k));
  std::string rec = d.blank_record();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%5zu", 101 + k);
  set_field(rec, d, "CODIGO_FOR", buf);
  std::string name(40, ' '), trade(30, ' '), addr(40, ' ');
  {
    FieldText t(name, Slot{0, 40});
    company_name(r, t);
    FieldText f(trade, Slot{0, 30});
    f.word(r.pick(kSurnames)).word(r.pick(kCompanyWords));
    FieldText a(addr, Slot{0, 40});
    street(r, a);
  }
  set_field(rec, d, "NOME_FOR", name);
  set_field(rec, d, "FANT_FOR", trade);
  set_field(rec, d, "END_FOR", addr);
  set_field(rec, d, "BAIRRO_FOR", r.pick(kDistricts));
  const Place& p = r.pick(kPlaces);
  const std::uint32_t cep = cep_of(r, p);
  std::snprintf(buf, sizeof buf, "%05u-%03u", cep / 1000, cep % 1000);
  set_field(rec, d, "CEP_FOR", buf);
  set_field(rec, d, "CIDADE_FOR", p.city);
  set_field(rec, d, "ESTADO_FOR", p.state);
  std::string phone(15, ' ');
  phone_of(r, p, false, phone, Slot{0, 15});
  set_field(rec, d, "FONE_FOR", phone);
  set_field(rec, d, "CGC_FOR", digit_text(buf, valid_cnpj(r), 14));
  set_field(rec, d, "INSEST_FOR",
            digit_text(buf, 100000000000ull + r.below64(899999999999ull), 12));
  set_field(rec, d, "COD_EST", "016");
  std::snprintf(buf, sizeof buf, "%05zu", k + 1);
  set_field(rec, d, "OBS_FOR", buf);
  set_field(rec, d, "DT_CAD", "20190301");
  set_right(rec, d, "LIMCRED", std::to_string(5000 * (1 + r.below(10))) + ".00");
  return rec;
}

// Suppliers: realistic, the legacy suppliers above. Test data with legacy codes: twelve
// records whose OBS_FOR begins with the code the old system gave them (one deleted, two
// sharing code 00005, one not matching because its code is not zero-padded); otherwise
// three records without codes.
std::vector<std::string> supplier_records(const TableDef& d, const DatasetOptions& options) {
  std::vector<std::string> records;
  if (!options.edge_cases && options.legacy_suppliers) {
    for (std::size_t k = 0; k < kLegacySuppliers; ++k) {
      records.push_back(realistic_legacy_supplier(d, options.seed, k));
    }
    return records;
  }
  struct Old {
    const char* obs;
    bool deleted;
  };
  const Old legacy[] = {{"00001", false},        {"00002 COD.ANTIGO", false},
                        {"00003", false},        {"00005 FILIAL", false},
                        {"00004", false},        {"00006", false},
                        {"00777", true},         {"  008", false},
                        {"00009", false},        {"00005", false},
                        {"00042 MATRIZ", false}, {"", false}};
  const Old plain[] = {{"", false}, {"FORNECEDOR ANTIGO", false}, {"", true}};
  const std::size_t n = options.legacy_suppliers ? std::size(legacy) : std::size(plain);
  for (std::size_t k = 0; k < n; ++k) {
    const Old& o = options.legacy_suppliers ? legacy[k] : plain[k];
    std::string rec = d.blank_record();
    char code[8];
    std::snprintf(code, sizeof code, "%5zu", 500 + k);
    set_field(rec, d, "CODIGO_FOR", code);
    set_field(rec, d, "NOME_FOR", "FORNECEDOR " + std::to_string(500 + k));
    set_field(rec, d, "CEP_FOR", "13000-000");
    set_field(rec, d, "CGC_FOR", "11222333000181");
    set_field(rec, d, "COD_EST", "016");
    set_field(rec, d, "OBS_FOR", o.obs);
    set_field(rec, d, "DT_CAD", "20080101");
    set_right(rec, d, "LIMCRED", "25000.00");
    if (o.deleted) rec[0] = '*';
    records.push_back(std::move(rec));
  }
  return records;
}

// Movements: two old records each.
std::vector<std::string> movement_records(const TableDef& d, bool receivables) {
  std::vector<std::string> records;
  const bool rb = receivables;
  for (int k = 0; k < 2; ++k) {
    std::string rec = d.blank_record();
    set_field(rec, d, rb ? "CODIGO_RB" : "CODIGO_PG", k == 0 ? "000001" : "000002");
    set_field(rec, d, rb ? "COD_CLI" : "COD_FOR", "  900");
    set_field(rec, d, "DT_EMISSAO", "20111005");
    set_field(rec, d, "DT_VENC", "20111105");
    set_field(rec, d, rb ? "DTBASE_RB" : "DTBASE_PG", "20111005");
    set_right(rec, d, "VALOR", "310.75");
    set_field(rec, d, "HISTORICO", "LANCAMENTO ANTERIOR");
    records.push_back(std::move(rec));
  }
  return records;
}

}  // namespace

void Dataset::build_initial_records() {
  for (int s = 0; s < kTextSetCount; ++s) stale_[s] = stale_records(staging_[s]);
  auto at = [](Target t) { return static_cast<int>(t); };
  const int clients = at(Target::kClients), items = at(Target::kItems);
  initial_[clients] = client_records(targets_[clients], initial_memo_[clients]);
  initial_[items] = item_records(targets_[items], initial_memo_[items]);
  initial_[at(Target::kSuppliers)] = supplier_records(targets_[at(Target::kSuppliers)], options_);
  for (Target t : {Target::kReceivables, Target::kPayables}) {
    initial_[at(t)] = movement_records(targets_[at(t)], t == Target::kReceivables);
  }
}

}  // namespace lum::sample
