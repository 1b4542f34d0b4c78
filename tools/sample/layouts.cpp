#include "tools/sample/layouts.h"

#include <cctype>
#include <initializer_list>
#include <iterator>
#include <stdexcept>

namespace lum::sample {
namespace {

// ---------------------------------------------------------------------------------
// Staging layouts: one entry per field of the text record, in the order of the enums.

struct TextField {
  const char* name;
  int width;
};

const TextField kSupplierLayout[] = {{"CODIGO_FOR", 5},  {"RAZAO_FOR", 40},  {"FANT_FOR", 30},
                                     {"END_FOR", 40},    {"BAIRRO_FOR", 20}, {"CEP_FOR", 5},
                                     {"CIDADE_FOR", 25}, {"ESTADO_FOR", 2},  {"FONE1_FOR", 15},
                                     {"FONE2_FOR", 15},  {"FAX_FOR", 15},    {"CONTAT_FOR", 25},
                                     {"CNPJ_FOR", 18},   {"INSEST_FOR", 18}, {"LIVRE", 10}};
const TextField kPayableLayout[] = {{"NUMERO", 10},   {"CLI", 5},     {"DT_EMISSAO", 10},
                                    {"DT_VENCTO", 5}, {"TEXTO3", 14}, {"HISTOR", 30},
                                    {"LIVRE", 10},    {"LIVRE2", 10}, {"LIVRE3", 10},
                                    {"LIVRE4", 5},    {"LIVRE5", 5}};
const TextField kProductLayout[] = {{"CODIGO_PRD", 5}, {"DESCRI_PRD", 40}, {"LIVRE21", 10},
                                    {"LIVRE22", 13},   {"REFER_PRD", 15},  {"UNIDAD_PRD", 3},
                                    {"OBS_PRD", 20},   {"NOMELV_PRD", 20}, {"LIVRE", 16}};
const TextField kBalanceLayout[] = {{"REG", 2},     {"CODIGO", 5},  {"LIVRE", 25}, {"LIVRE2", 20},
                                    {"LIVRE3", 20}, {"LIVRE4", 20}, {"LIVRE5", 15}};
const TextField kClientLayout[] = {
    {"CODIGO_CLI", 5},  {"NOME_CLI", 40},   {"FANT_CLI", 30},   {"CPF_CLI", 8},  {"END_CLI", 40},
    {"BAIRRO_CLI", 20}, {"CIDADE_CLI", 25}, {"ESTADO_CLI", 2},  {"CEP_CLI", 5},  {"CNPJ_CLI", 8},
    {"INSEST_CLI", 18}, {"PROFIS_CLI", 25}, {"FONE_CLI", 15},   {"FAX_CLI", 15}, {"CEL_CLI", 15},
    {"CONCEITO", 1},    {"NOMEMA_CLI", 40}, {"NOMEPA_CLI", 40}, {"EMAIL", 50},   {"DTCAD_CLI", 8},
    {"LIVRE", 12}};
const TextField kReceivableLayout[] = {
    {"NUMERO", 10}, {"CLI", 5},    {"DT_EMISSAO", 8}, {"DT_VECTO", 8}, {"LIVRE", 5},
    {"TEXTO3", 8},  {"LIVRE2", 5}, {"LIVRE3", 5},     {"LIVRE4", 10},  {"LIVRE5", 10}};

// Each enum names its layout's fields in order, one for one.
static_assert(std::size(kSupplierLayout) == kSupLivre + 1);
static_assert(std::size(kPayableLayout) == kPagLivre5 + 1);
static_assert(std::size(kProductLayout) == kPrdLivre + 1);
static_assert(std::size(kBalanceLayout) == kSalLivre5 + 1);
static_assert(std::size(kClientLayout) == kCliLivre + 1);
static_assert(std::size(kReceivableLayout) == kRecLivre5 + 1);

template <std::size_t N>
TableDef staging_def(const char* file, const TextField (&layout)[N]) {
  TableDef d;
  d.file_name = file;
  int off = 1;
  for (const TextField& f : layout) {
    d.fields.push_back(FieldDef{f.name, 'C', f.width, 0, off});
    off += f.width;
  }
  return d;
}

// ---------------------------------------------------------------------------------
// Target tables

struct Shape {
  const char* name;  // nullptr: the field is left out
  char type;
  int length;
  int decimals;
};

TableDef make(const char* file, std::uint8_t version, std::initializer_list<Shape> shapes) {
  TableDef d;
  d.file_name = file;
  d.version = version;
  int off = 1;
  for (const Shape& s : shapes) {
    if (s.name == nullptr) continue;
    d.fields.push_back(FieldDef{s.name, s.type, s.length, s.decimals, off});
    off += s.length;
  }
  return d;
}

// Clients: DBT memo; some target fields narrower than their staging fields, so that
// text is cut (FANT_CLI 25 < 30, PRACA_CLI 30 < 40, EMAIL 40 < 50).
TableDef client_table() {
  TableDef clients =
      make("Clientes.DBF", 0x83,
           {{"CODIGO_CLI", 'C', 5, 0}, {"NOME_CLI", 'C', 40, 0},   {"FANT_CLI", 'C', 25, 0},
            {"CPF_CLI", 'C', 14, 0},   {"CGC_CLI", 'C', 18, 0},    {"INSEST_CLI", 'C', 18, 0},
            {"END_CLI", 'C', 40, 0},   {"BAIRRO_CLI", 'C', 20, 0}, {"CIDADE_CLI", 'C', 25, 0},
            {"ESTADO_CLI", 'C', 2, 0}, {"CEP_CLI", 'C', 9, 0},     {"DT_CAD", 'D', 8, 0},
            {"TRABALHO", 'C', 30, 0},  {"FONE_CLI", 'C', 15, 0},   {"FAX_CLI", 'C', 15, 0},
            {"CELULAR", 'C', 15, 0},   {"CONCEITO", 'C', 1, 0},    {"LIMITE", 'N', 12, 2},
            {"PRACA_CLI", 'C', 30, 0}, {"CID_COB", 'C', 25, 0},    {"UF_COB", 'C', 2, 0},
            {"CEP_COB", 'C', 9, 0},    {"MAE", 'C', 40, 0},        {"PAI", 'C', 40, 0},
            {"EMAIL", 'C', 40, 0},     {"VENDEDOR", 'C', 5, 0},    {"COD_PG_CLI", 'C', 5, 0},
            {"CODTAB_CLI", 'C', 3, 0}, {"GRUPO_CLI", 'C', 5, 0},   {"COD_EST", 'C', 3, 0},
            {"AJUNTA", 'C', 1, 0},     {"CONTRIB", 'C', 1, 0},     {"OBS", 'M', 10, 0}});
  clients.memo = MemoKind::kDbt;
  clients.memo_file_name = "CLIENTES.dbt";
  clients.memo_block_size = 512;
  return clients;
}

// Items: FPT memo with 64-byte blocks; amounts with three decimals.
TableDef item_table(const DatasetOptions& options) {
  TableDef items = make("ITEM.dbf", 0xF5,
                        {{"CODITEM", 'C', options.wide_coditem ? 14 : 5, 0},
                         {"DESCRICAO", 'C', 40, 0},
                         {"DESCNUM", 'C', 20, 0},
                         {"TP_PRODUTO", 'C', 1, 0},
                         {options.item_localiza ? "LOCALIZA" : nullptr, 'C', 10, 0},
                         {options.item_marca ? "MARCA" : nullptr, 'C', 25, 0},
                         {"GRUPO", 'C', 9, 0},
                         {"ICMS_EST", 'C', 3, 0},
                         {"COD_OBS", 'C', 3, 0},
                         {"PESO", 'N', 8, 3},
                         {"SALINICIAL", 'N', 12, 3},
                         {"SALATUAL", 'N', 12, 3},
                         {"CUSTINICIA", 'N', 14, 3},
                         {"CUSTMEDIO", 'N', 14, 3},
                         {"CUSTREPOS", 'N', 14, 3},
                         {"VENDANORM", 'N', 14, 3},
                         {"UNIDADE", 'C', 3, 0},
                         {"ATIVO", 'L', 1, 0},
                         {"DT_ALT", 'D', 8, 0},
                         {"OBS", 'M', 10, 0}});
  items.memo = MemoKind::kFpt;
  items.memo_file_name = "Item.FPT";
  items.memo_block_size = 64;
  return items;
}

TableDef supplier_table() {
  return make("Forneced.Dbf", 0x03,
              {{"CODIGO_FOR", 'C', 5, 0},
               {"NOME_FOR", 'C', 40, 0},
               {"FANT_FOR", 'C', 30, 0},
               {"END_FOR", 'C', 40, 0},
               {"BAIRRO_FOR", 'C', 20, 0},
               {"CEP_FOR", 'C', 9, 0},
               {"CIDADE_FOR", 'C', 25, 0},
               {"ESTADO_FOR", 'C', 2, 0},
               {"FONE_FOR", 'C', 15, 0},
               {"FAX_FOR", 'C', 15, 0},
               {"CONTAT_FOR", 'C', 25, 0},
               {"CGC_FOR", 'C', 14, 0},
               {"INSEST_FOR", 'C', 18, 0},
               {"COD_EST", 'C', 3, 0},
               {"OBS_FOR", 'C', 20, 0},
               {"DT_CAD", 'D', 8, 0},
               {"LIMCRED", 'N', 12, 2}});
}

TableDef receivable_table(const DatasetOptions& options) {
  return make("LurbMov.DBF", 0x03,
              {{"CODIGO_RB", 'C', 6, 0},
               {"COD_CLI", 'C', 5, 0},
               {"DT_EMISSAO", 'D', 8, 0},
               {"DT_VENC", 'D', 8, 0},
               {"DTBASE_RB", 'D', 8, 0},
               {"NUMERO_DOC", 'C', 12, 0},
               {"DT_PG", 'D', 8, 0},
               {"VALOR", 'N', options.narrow_receivable_amounts ? 8 : 14, 2},
               {"VR_NOMINAL", 'N', 14, 2},
               {"VR_PAGO", 'N', 14, 2},
               {"VR_JUROS", 'N', 12, 2},
               {"COD_TDC", 'C', 5, 0},
               {"BAI_PARC", 'C', 1, 0},
               {"COD_DOC", 'C', 3, 0},
               {"HISTORICO", 'C', 40, 0}});
}

TableDef payable_table() {
  return make("lupgmov.dbf", 0x03,
              {{"CODIGO_PG", 'C', 6, 0},
               {"COD_FOR", 'C', 5, 0},
               {"DT_EMISSAO", 'D', 8, 0},
               {"DT_VENC", 'D', 8, 0},
               {"DTBASE_PG", 'D', 8, 0},
               {"NUMERO_PGD", 'C', 8, 0},
               {"DT_PG", 'D', 8, 0},
               {"VALOR", 'N', 14, 2},
               {"VR_NOMINAL", 'N', 14, 2},
               {"VR_PAGO", 'N', 14, 2},
               {"COD_TDC", 'C', 5, 0},
               {"COD_PGDOC", 'C', 3, 0},
               {"HISTORICO", 'C', 40, 0}});
}

}  // namespace

bool same_name_any_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(a[k])) !=
        std::tolower(static_cast<unsigned char>(b[k]))) {
      return false;
    }
  }
  return true;
}

std::array<TableDef, kTextSetCount> staging_tables() {
  std::array<TableDef, kTextSetCount> t;
  t[static_cast<int>(TextSet::kSuppliers)] = staging_def("cbFORN.dbf", kSupplierLayout);
  t[static_cast<int>(TextSet::kPayables)] = staging_def("cbPAG.dbf", kPayableLayout);
  t[static_cast<int>(TextSet::kProducts)] = staging_def("cbPROD.dbf", kProductLayout);
  t[static_cast<int>(TextSet::kBalances)] = staging_def("CBSALDO.dbf", kBalanceLayout);
  t[static_cast<int>(TextSet::kClients)] = staging_def("cbCli.dbf", kClientLayout);
  t[static_cast<int>(TextSet::kReceivables)] = staging_def("cbRec.dbf", kReceivableLayout);
  return t;
}

std::array<TableDef, kTargetCount> target_tables(const DatasetOptions& options) {
  std::array<TableDef, kTargetCount> t;
  t[static_cast<int>(Target::kClients)] = client_table();
  t[static_cast<int>(Target::kItems)] = item_table(options);
  t[static_cast<int>(Target::kSuppliers)] = supplier_table();
  t[static_cast<int>(Target::kReceivables)] = receivable_table(options);
  t[static_cast<int>(Target::kPayables)] = payable_table();
  return t;
}

DbfLayout dbf_layout(const TableDef& d) {
  DbfLayout shape;
  for (const FieldDef& f : d.fields)
    shape.fields.push_back(FieldLayout{f.name, f.type, f.length, f.decimals, 0});
  shape.version = d.version;
  shape.date[0] = 114;  // 2014-06-30
  shape.date[1] = 6;
  shape.date[2] = 30;
  shape.memo_block_size = static_cast<std::uint32_t>(d.memo_block_size);
  shape.memo = d.memo == MemoKind::kDbt   ? MemoFile::Dbt
               : d.memo == MemoKind::kFpt ? MemoFile::Fpt
                                          : MemoFile::None;
  return shape;
}

// ---------------------------------------------------------------------------------
// TableDef

int TableDef::record_length() const {
  int n = 1;
  for (const FieldDef& f : fields) n += f.length;
  return n;
}

const FieldDef* TableDef::field(std::string_view name) const {
  for (const FieldDef& f : fields) {
    if (same_name_any_case(f.name, name)) return &f;
  }
  return nullptr;
}

const FieldDef& TableDef::at(std::string_view name) const {
  const FieldDef* f = field(name);
  if (f == nullptr) throw std::out_of_range("no field " + std::string(name) + " in " + file_name);
  return *f;
}

std::string TableDef::blank_record() const {
  return std::string(static_cast<std::size_t>(record_length()), ' ');
}

}  // namespace lum::sample
