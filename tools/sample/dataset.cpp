#include "tools/sample/dataset.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>

#include "tools/sample/dbf_builder.h"
#include "tools/sample/packed.h"

namespace lum::sample {
namespace {

// ---------------------------------------------------------------------------------
// Deterministic random source: SplitMix64, identical on every platform, seeded per
// line from (seed, data set, line number) so that any line can be made alone.

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0. The slight modulo bias does not matter for test data.
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
  std::uint64_t below64(std::uint64_t n) { return next() % n; }
  bool one_in(std::uint32_t n) { return below(n) == 0; }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<std::uint32_t>(N))];
  }

 private:
  std::uint64_t s_;
};

std::uint64_t line_seed(std::uint64_t seed, int set, std::size_t i) {
  Rng r(seed * 0x100000001B3ull + static_cast<std::uint64_t>(set) * 0x9E3779B97F4A7C15ull);
  return r.next() ^ (static_cast<std::uint64_t>(i) * 0xD6E8FEB86659FD93ull);
}

// ---------------------------------------------------------------------------------
// Words for plausible names. Generic Portuguese words only.

const char* const kFirstNames[] = {"ANA",      "BRUNO",   "CARLOS",  "DANIELA", "EDUARDO",
                                   "FERNANDA", "GUSTAVO", "HELENA",  "IGOR",    "JULIANA",
                                   "LUCAS",    "MARIANA", "NELSON",  "OLGA",    "PAULO",
                                   "RENATA",   "SERGIO",  "TATIANA", "VITOR",   "ZELIA"};
const char* const kSurnames[] = {
    "SILVA",   "SOUZA",      "OLIVEIRA", "SANTOS", "PEREIRA",  "COSTA",    "RODRIGUES",
    "ALMEIDA", "NASCIMENTO", "LIMA",     "ARAUJO", "FERREIRA", "CARVALHO", "GOMES",
    "MARTINS", "ROCHA",      "RIBEIRO",  "ALVES",  "MONTEIRO", "MENDES",   "BARROS",
    "FREITAS", "BARBOSA",    "PINTO",    "MOURA",  "DIAS",     "CASTRO",   "CAMPOS"};
const char* const kStreetKinds[] = {"RUA", "AV.", "TRAVESSA", "ALAMEDA", "RODOVIA"};
const char* const kStreetNames[] = {
    "DAS FLORES",       "SETE DE SETEMBRO", "XV DE NOVEMBRO", "SAO JOAO",       "DOS ANDRADAS",
    "BRASIL",           "PARANA",           "DAS PALMEIRAS",  "SANTA CATARINA", "DO COMERCIO",
    "DA INDEPENDENCIA", "MARECHAL DEODORO", "DOS IMIGRANTES", "DAS ACACIAS",    "GETULIO VARGAS"};
const char* const kDistricts[] = {
    "CENTRO",     "JARDIM AMERICA",    "VILA NOVA",  "BOA VISTA",    "SAO JOSE",
    "SANTA CRUZ", "PARQUE INDUSTRIAL", "BELA VISTA", "CAMPO ALEGRE", "VILA RICA"};
struct City {
  const char* name;
  const char* state;
};
const City kCities[] = {{"CAMPINAS", "SP"},      {"CURITIBA", "PR"},       {"LONDRINA", "PR"},
                        {"JOINVILLE", "SC"},     {"BLUMENAU", "SC"},       {"PORTO ALEGRE", "RS"},
                        {"CAXIAS DO SUL", "RS"}, {"BELO HORIZONTE", "MG"}, {"UBERLANDIA", "MG"},
                        {"GOIANIA", "GO"},       {"RIBEIRAO PRETO", "SP"}, {"MARINGA", "PR"}};
const char* const kProfessions[] = {"COMERCIANTE", "PROFESSOR", "MOTORISTA", "ENGENHEIRO",
                                    "AGRICULTOR",  "ADVOGADO",  "MEDICO",    "ELETRICISTA",
                                    "CONTADOR",    "AUTONOMO"};
const char* const kCompanyWords[] = {"COMERCIAL", "DISTRIBUIDORA", "INDUSTRIA",   "ATACADO",
                                     "MATERIAIS", "FERRAGENS",     "TRANSPORTES", "PAPELARIA"};
const char* const kCompanySuffixes[] = {"LTDA", "ME", "S/A", "EIRELI", "LTDA EPP"};
const char* const kProductNouns[] = {"PARAFUSO",  "PORCA",       "ARRUELA", "CABO",      "TOMADA",
                                     "DISJUNTOR", "TINTA",       "PINCEL",  "MANGUEIRA", "TORNEIRA",
                                     "CANO",      "LUVA",        "JOELHO",  "FITA",      "COLA",
                                     "LAMPADA",   "INTERRUPTOR", "CADEADO", "DOBRADICA", "PREGO"};
const char* const kProductGrades[] = {"ACO INOX", "PVC",     "GALVANIZADO", "BRANCO", "PRETO",
                                     "1/2 POL",  "3/4 POL", "10MM",        "25MM",   "20M"};
const char* const kBrands[] = {"FORTEX", "METALUX", "PRIMUS",  "NORTEC",
                               "IDEAL",  "SOLIDA",  "TRIUNFO", "AVANTE"};
const char* const kUnits[] = {"UN", "KG", "CX", "PC", "LT", "MT"};
const char* const kShelves[] = {"PRAT", "GOND", "DEP", "CORR"};
const char* const kConcepts[] = {"A", "B", "C", " "};

// ---------------------------------------------------------------------------------
// Staging layouts. The enums follow the field order of their layout arrays.

struct TextField {
  const char* name;
  int width;
};

enum SupplierField {
  kSupCodigo,
  kSupRazao,
  kSupFant,
  kSupEnd,
  kSupBairro,
  kSupCep,
  kSupCidade,
  kSupEstado,
  kSupFone1,
  kSupFone2,
  kSupFax,
  kSupContato,
  kSupCnpj,
  kSupInsest,
  kSupLivre
};
const TextField kSupplierLayout[] = {{"CODIGO_FOR", 5},  {"RAZAO_FOR", 40},  {"FANT_FOR", 30},
                                     {"END_FOR", 40},    {"BAIRRO_FOR", 20}, {"CEP_FOR", 5},
                                     {"CIDADE_FOR", 25}, {"ESTADO_FOR", 2},  {"FONE1_FOR", 15},
                                     {"FONE2_FOR", 15},  {"FAX_FOR", 15},    {"CONTAT_FOR", 25},
                                     {"CNPJ_FOR", 18},   {"INSEST_FOR", 18}, {"LIVRE", 10}};

enum PayableField {
  kPagNumero,
  kPagCli,
  kPagEmissao,
  kPagVencto,
  kPagTexto3,
  kPagHistor,
  kPagLivre,
  kPagLivre2,
  kPagLivre3,
  kPagLivre4,
  kPagLivre5
};
const TextField kPayableLayout[] = {{"NUMERO", 10},   {"CLI", 5},     {"DT_EMISSAO", 10},
                                    {"DT_VENCTO", 5}, {"TEXTO3", 14}, {"HISTOR", 30},
                                    {"LIVRE", 10},    {"LIVRE2", 10}, {"LIVRE3", 10},
                                    {"LIVRE4", 5},    {"LIVRE5", 5}};

enum ProductField {
  kPrdCodigo,
  kPrdDescri,
  kPrdLivre21,
  kPrdLivre22,
  kPrdRefer,
  kPrdUnidad,
  kPrdObs,
  kPrdNomelv,
  kPrdLivre
};
const TextField kProductLayout[] = {{"CODIGO_PRD", 5}, {"DESCRI_PRD", 40}, {"LIVRE21", 10},
                                    {"LIVRE22", 13},   {"REFER_PRD", 15},  {"UNIDAD_PRD", 3},
                                    {"OBS_PRD", 20},   {"NOMELV_PRD", 20}, {"LIVRE", 16}};

enum BalanceField {
  kSalReg,
  kSalCodigo,
  kSalLivre,
  kSalLivre2,
  kSalLivre3,
  kSalLivre4,
  kSalLivre5
};
const TextField kBalanceLayout[] = {{"REG", 2},     {"CODIGO", 5},  {"LIVRE", 25}, {"LIVRE2", 20},
                                    {"LIVRE3", 20}, {"LIVRE4", 20}, {"LIVRE5", 15}};

enum ClientField {
  kCliCodigo,
  kCliNome,
  kCliFant,
  kCliCpf,
  kCliEnd,
  kCliBairro,
  kCliCidade,
  kCliEstado,
  kCliCep,
  kCliCnpj,
  kCliInsest,
  kCliProfis,
  kCliFone,
  kCliFax,
  kCliCel,
  kCliConceito,
  kCliNomema,
  kCliNomepa,
  kCliEmail,
  kCliDtcad,
  kCliLivre
};
const TextField kClientLayout[] = {
    {"CODIGO_CLI", 5},  {"NOME_CLI", 40},   {"FANT_CLI", 30},   {"CPF_CLI", 8},  {"END_CLI", 40},
    {"BAIRRO_CLI", 20}, {"CIDADE_CLI", 25}, {"ESTADO_CLI", 2},  {"CEP_CLI", 5},  {"CNPJ_CLI", 8},
    {"INSEST_CLI", 18}, {"PROFIS_CLI", 25}, {"FONE_CLI", 15},   {"FAX_CLI", 15}, {"CEL_CLI", 15},
    {"CONCEITO", 1},    {"NOMEMA_CLI", 40}, {"NOMEPA_CLI", 40}, {"EMAIL", 50},   {"DTCAD_CLI", 8},
    {"LIVRE", 12}};

enum ReceivableField {
  kRecNumero,
  kRecCli,
  kRecEmissao,
  kRecVecto,
  kRecLivre,
  kRecTexto3,
  kRecLivre2,
  kRecLivre3,
  kRecLivre4,
  kRecLivre5
};
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
// Writing into a line.

struct Slot {
  int off;  // from the start of the line (the text record, no deletion flag)
  int width;
};

Slot slot(const TableDef& d, int field_index) {
  const FieldDef& f = d.fields[static_cast<std::size_t>(field_index)];
  return Slot{f.offset - 1, f.length};
}

// Appends words into one field of a line, cutting at its width.
class FieldText {
 public:
  FieldText(std::string& line, Slot s) : p_(line.data() + s.off), left_(s.width) {}
  FieldText& add(std::string_view t) {
    std::size_t n = std::min<std::size_t>(t.size(), static_cast<std::size_t>(left_));
    std::memcpy(p_, t.data(), n);
    p_ += n;
    left_ -= static_cast<int>(n);
    return *this;
  }
  FieldText& word(std::string_view t) {  // a blank before every word but the first
    if (started_) add(" ");
    started_ = true;
    return add(t);
  }
  FieldText& digits(std::uint64_t v, int n) {
    char buf[24];
    for (int k = n - 1; k >= 0; --k) {
      buf[k] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    return add(std::string_view(buf, static_cast<std::size_t>(n)));
  }

 private:
  char* p_;
  int left_;
  bool started_ = false;
};

void put(std::string& line, Slot s, std::string_view text) {
  std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(s.width));
  std::memcpy(line.data() + s.off, text.data(), n);
  std::memset(line.data() + s.off + n, ' ', static_cast<std::size_t>(s.width) - n);
}

// n decimal digits of v with leading zeros (higher digits dropped) into buf.
std::string_view digit_text(char* buf, std::uint64_t v, int n) {
  for (int k = n - 1; k >= 0; --k) {
    buf[k] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return std::string_view(buf, static_cast<std::size_t>(n));
}

// The packed bytes of the n-digit number v into dst[0 .. bytes).
void put_packed(char* dst, std::size_t bytes, std::uint64_t v, int n, char sign) {
  char buf[24];
  std::string packed = pack_decimal(digit_text(buf, v, n), sign, bytes);
  std::memcpy(dst, packed.data(), bytes);
}

// A date as the eight digits DDMMYYYY.
std::uint64_t ddmmyyyy(int d, int m, int y) {
  return static_cast<std::uint64_t>(d) * 1000000 + static_cast<std::uint64_t>(m) * 10000 +
         static_cast<std::uint64_t>(y);
}
std::uint64_t random_date(Rng& r) {
  return ddmmyyyy(1 + static_cast<int>(r.below(28)), 1 + static_cast<int>(r.below(12)),
                  2010 + static_cast<int>(r.below(7)));
}
char random_sign(Rng& r) { return r.one_in(4) ? 'F' : 'C'; }

void person_name(Rng& r, FieldText& t) {
  t.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  if (!r.one_in(3)) t.word(r.pick(kSurnames));
}
void company_name(Rng& r, FieldText& t) {
  t.word(r.pick(kCompanyWords)).word(r.pick(kSurnames));
  if (r.one_in(2)) t.word("&").word(r.pick(kSurnames));
  t.word(r.pick(kCompanySuffixes));
}
void street(Rng& r, FieldText& t) {
  char buf[8];
  t.word(r.pick(kStreetKinds)).word(r.pick(kStreetNames)).add(", ");
  t.add(digit_text(buf, 1 + r.below(4999), 4));
}
void phone(Rng& r, std::string& line, Slot s) {
  FieldText t(line, s);
  t.add("(").digits(11 + r.below(88), 2).add(") ").digits(2000 + r.below(7999), 4).add("-");
  t.digits(r.below(10000), 4);
}
void lower_email(Rng& r, std::string& line, Slot s) {
  FieldText t(line, s);
  std::string_view first = r.pick(kFirstNames), last = r.pick(kSurnames);
  char buf[64];
  std::size_t n = 0;
  for (char c : first) buf[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  buf[n++] = '.';
  for (char c : last) buf[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  t.add(std::string_view(buf, n)).add("@exemplo.com.br");
}

// Which special case a line carries: lines 0, 1, ... carry cases 0, 1, ... and the
// cases come back every 101 lines, so a large set holds them throughout. -1: ordinary.
int special_case(std::size_t i, int cases) {
  std::size_t k = i % 101;
  return k < static_cast<std::size_t>(cases) ? static_cast<int>(k) : -1;
}

// A product code as the products file writes it for product number k (from 0). Codes
// 90001 to 99999 are never given, so balances can name codes that match no item.
std::uint64_t product_code(std::size_t k) { return k % 90000 + 1; }

}  // namespace

// ---------------------------------------------------------------------------------
// TableDef

int TableDef::record_length() const {
  int n = 1;
  for (const FieldDef& f : fields) n += f.length;
  return n;
}

const FieldDef* TableDef::field(std::string_view name) const {
  for (const FieldDef& f : fields) {
    if (f.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < name.size() && same; ++k) {
      same = std::toupper(static_cast<unsigned char>(name[k])) ==
             static_cast<unsigned char>(f.name[k]);
    }
    if (same) return &f;
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

DatasetOptions DatasetOptions::with_lines(std::size_t n, std::uint64_t seed) {
  DatasetOptions o;
  o.seed = seed;
  o.lines.fill(n);
  return o;
}

// ---------------------------------------------------------------------------------
// Dataset

Dataset::Dataset(const DatasetOptions& options) : options_(options) {
  std::size_t n = line_count(TextSet::kClients);
  // Never the first line (the case lines start there) and never the last: a CR LF in
  // the last line of a file would end the import there and lose the second half.
  crlf_line_ = options_.edge_cases && options_.crlf_split && n >= 3
                   ? n / 2
                   : std::numeric_limits<std::size_t>::max();
  build_tables();
  build_initial_records();
}

const char* Dataset::text_file_name(TextSet set) {
  static const char* const kNames[] = {"forneced.txt", "PAGAR.txt",    "prod.txt",
                                       "SALDO.txt",    "clientes.txt", "receber.txt"};
  return kNames[static_cast<int>(set)];
}

bool Dataset::text_set_by_name(std::string_view name, TextSet& set) {
  for (int k = 0; k < kTextSetCount; ++k) {
    std::string_view candidate = text_file_name(static_cast<TextSet>(k));
    if (candidate.size() != name.size()) continue;
    bool same = true;
    for (std::size_t j = 0; j < name.size() && same; ++j) {
      same = std::tolower(static_cast<unsigned char>(name[j])) ==
             std::tolower(static_cast<unsigned char>(candidate[j]));
    }
    if (same) {
      set = static_cast<TextSet>(k);
      return true;
    }
  }
  return false;
}

std::filesystem::path Dataset::target_dir(const std::filesystem::path& dir) {
  return dir / "lum" / "firma1";
}

void Dataset::build_tables() {
  staging_[static_cast<int>(TextSet::kSuppliers)] = staging_def("cbFORN.dbf", kSupplierLayout);
  staging_[static_cast<int>(TextSet::kPayables)] = staging_def("cbPAG.dbf", kPayableLayout);
  staging_[static_cast<int>(TextSet::kProducts)] = staging_def("cbPROD.dbf", kProductLayout);
  staging_[static_cast<int>(TextSet::kBalances)] = staging_def("CBSALDO.dbf", kBalanceLayout);
  staging_[static_cast<int>(TextSet::kClients)] = staging_def("cbCli.dbf", kClientLayout);
  staging_[static_cast<int>(TextSet::kReceivables)] = staging_def("cbRec.dbf", kReceivableLayout);

  struct Shape {
    const char* name;
    char type;
    int length;
    int decimals;
  };
  auto make = [](const char* file, std::uint8_t version, std::initializer_list<Shape> shapes) {
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
  };

  // Clients: DBT memo; some target fields narrower than their staging fields, so that
  // text is cut (FANT_CLI 25 < 30, PRACA_CLI 30 < 40, EMAIL 40 < 50).
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

  // Items: FPT memo with 64-byte blocks; amounts with three decimals.
  TableDef items = make("ITEM.dbf", 0xF5,
                        {{"CODITEM", 'C', options_.wide_coditem ? 14 : 5, 0},
                         {"DESCRICAO", 'C', 40, 0},
                         {"DESCNUM", 'C', 20, 0},
                         {"TP_PRODUTO", 'C', 1, 0},
                         {options_.item_localiza ? "LOCALIZA" : nullptr, 'C', 10, 0},
                         {options_.item_marca ? "MARCA" : nullptr, 'C', 25, 0},
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

  TableDef suppliers = make("Forneced.Dbf", 0x03,
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

  TableDef receivables = make("LurbMov.DBF", 0x03,
                              {{"CODIGO_RB", 'C', 6, 0},
                               {"COD_CLI", 'C', 5, 0},
                               {"DT_EMISSAO", 'D', 8, 0},
                               {"DT_VENC", 'D', 8, 0},
                               {"DTBASE_RB", 'D', 8, 0},
                               {"NUMERO_DOC", 'C', 12, 0},
                               {"DT_PG", 'D', 8, 0},
                               {"VALOR", 'N', options_.narrow_receivable_amounts ? 8 : 14, 2},
                               {"VR_NOMINAL", 'N', 14, 2},
                               {"VR_PAGO", 'N', 14, 2},
                               {"VR_JUROS", 'N', 12, 2},
                               {"COD_TDC", 'C', 5, 0},
                               {"BAI_PARC", 'C', 1, 0},
                               {"COD_DOC", 'C', 3, 0},
                               {"HISTORICO", 'C', 40, 0}});

  TableDef payables = make("lupgmov.dbf", 0x03,
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

  targets_[static_cast<int>(Target::kClients)] = std::move(clients);
  targets_[static_cast<int>(Target::kItems)] = std::move(items);
  targets_[static_cast<int>(Target::kSuppliers)] = std::move(suppliers);
  targets_[static_cast<int>(Target::kReceivables)] = std::move(receivables);
  targets_[static_cast<int>(Target::kPayables)] = std::move(payables);
}

// ---------------------------------------------------------------------------------
// Lines

namespace {

// Suppliers. Case lines: codes 00042 and non-numeric, a zero postal code, the taxpayer
// number forms the cleaning must handle, state registrations that are blanked.
void supplier_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out) {
  Rng r(seed);
  char buf[32];
  FieldText(out, slot(d, kSupCodigo)).digits(i % 99999 + 1, 5);
  {
    FieldText t(out, slot(d, kSupRazao));
    company_name(r, t);
  }
  if (!r.one_in(5)) {
    FieldText t(out, slot(d, kSupFant));
    t.word(r.pick(kSurnames)).word(r.pick(kCompanyWords));
  }
  {
    FieldText t(out, slot(d, kSupEnd));
    street(r, t);
  }
  put(out, slot(d, kSupBairro), r.pick(kDistricts));
  const City& city = r.pick(kCities);
  put(out, slot(d, kSupCidade), city.name);
  put(out, slot(d, kSupEstado), city.state);
  std::uint64_t cep = 10000000 + r.below64(89999999);
  char cep_sign = random_sign(r);
  phone(r, out, slot(d, kSupFone1));
  if (r.one_in(2)) phone(r, out, slot(d, kSupFone2));
  if (r.one_in(2)) phone(r, out, slot(d, kSupFax));
  {
    FieldText t(out, slot(d, kSupContato));
    person_name(r, t);
  }
  std::string_view base = digit_text(buf, r.below64(100000000), 8);
  std::string root(base);
  std::uint64_t branch = 1 + r.below(9);
  std::uint64_t check = r.below(100);
  char cnpj[32];
  int form = static_cast<int>(r.below(4));
  auto cnpj_text = [&](int f) -> std::string_view {
    switch (f) {
      case 0:  // 12345678/000195
        std::snprintf(cnpj, sizeof cnpj, "%s/%04llu%02llu", root.c_str(),
                      static_cast<unsigned long long>(branch),
                      static_cast<unsigned long long>(check));
        break;
      case 1:  // 12.345.678/0001-95: both separators, the field filled
        std::snprintf(cnpj, sizeof cnpj, "%.2s.%.3s.%.3s/%04llu-%02llu", root.c_str(),
                      root.c_str() + 2, root.c_str() + 5, static_cast<unsigned long long>(branch),
                      static_cast<unsigned long long>(check));
        break;
      case 2:  // 12345678000195
        std::snprintf(cnpj, sizeof cnpj, "%s%04llu%02llu", root.c_str(),
                      static_cast<unsigned long long>(branch),
                      static_cast<unsigned long long>(check));
        break;
      default:  // 12345678-000195
        std::snprintf(cnpj, sizeof cnpj, "%s-%04llu%02llu", root.c_str(),
                      static_cast<unsigned long long>(branch),
                      static_cast<unsigned long long>(check));
        break;
    }
    return cnpj;
  };
  std::string_view cnpj_value = cnpj_text(form);
  char insest[24];
  std::snprintf(insest, sizeof insest, "%03u.%03u.%03u.%03u", 100 + r.below(900), r.below(1000),
                r.below(1000), r.below(1000));
  std::string_view insest_value = r.one_in(4) ? std::string_view("ISENTO") : insest;
  put(out, slot(d, kSupLivre), "");
  put_packed(out.data() + slot(d, kSupLivre).off, 3, 30 + r.below(60), 5, 'C');

  switch (special_case(i, 15)) {
    case 0:
      put(out, slot(d, kSupCodigo), "00042");
      break;
    case 1:
      put(out, slot(d, kSupCodigo), "ABC12");
      break;
    case 2:
      cep = 0;
      break;
    case 3:
      cnpj_value = cnpj_text(0);
      break;
    case 4:
      cnpj_value = cnpj_text(3);
      break;
    case 5:
      cnpj_value = cnpj_text(2);
      break;
    case 6:
      cnpj_value = cnpj_text(1);
      break;
    case 7:
      cnpj_value = "";
      break;
    case 8:
      cnpj_value = "00000000000000";
      break;
    case 9:
      insest_value = "000123456789";
      break;
    case 10:
      insest_value = "";
      break;
    case 11:
      insest_value = "ISENTO";
      cnpj_value = "ISENTO";
      break;
    case 12:
      insest_value = "  12345";
      break;
    case 13:
      cep_sign = 'D';
      break;
    case 14:
      put(out, slot(d, kSupCodigo), " 7 ");
      break;
    default:
      break;
  }
  put_packed(out.data() + slot(d, kSupCep).off, 5, cep, 8, cep_sign);
  put(out, slot(d, kSupCnpj), cnpj_value);
  put(out, slot(d, kSupInsest), insest_value);
}

// Payables. The legacy code names a supplier; amounts and dates are packed.
void payable_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t suppliers,
                  bool legacy, std::string& out) {
  Rng r(seed);
  FieldText num(out, slot(d, kPagNumero));
  num.digits(1 + r.below(9999999), 7).add("/").digits(1 + r.below(12), 2);
  std::size_t code_range = legacy ? 12 : std::max<std::size_t>(suppliers, 1);
  FieldText(out, slot(d, kPagCli)).digits(i % code_range + 1, 5);

  std::uint64_t issue = random_date(r), due = random_date(r), paid_on = random_date(r);
  std::uint64_t nominal = 100 + r.below64(10000000);  // cents, 9 integer digits at most
  bool paid = r.one_in(2);
  std::uint64_t paid_amount = paid ? (r.one_in(3) ? nominal / 2 : nominal) : 0;
  char paid_sign = 'C';
  bool due_blank = false;
  {
    FieldText h(out, slot(d, kPagHistor));
    h.add("NF ").digits(r.below(1000000), 6).add(" PARC ").digits(1 + r.below(6), 1);
  }
  switch (special_case(i, 13)) {
    case 0:
      put(out, slot(d, kPagCli), "00042");
      break;
    case 1:
      put(out, slot(d, kPagCli), "ABC  ");
      break;
    case 2:
      put(out, slot(d, kPagCli), "42");
      break;
    case 3:  // not paid, though a payment date stands there
      paid_amount = 0;
      break;
    case 4:
      paid_amount = nominal;
      paid_on = 0;
      break;
    case 5:
      issue = ddmmyyyy(5, 13, 2014);
      break;
    case 6:
      issue = 0;
      break;
    case 7:
      due_blank = true;
      break;
    case 8:  // digits 00000123456: 1234.56
      nominal = 123456;
      break;
    case 9:
      paid_amount = nominal;
      paid_sign = 'D';
      break;
    case 10:
      put(out, slot(d, kPagCli), " 525 ");
      break;
    case 11:
      nominal = 99999999999ull;
      paid_amount = 0;
      break;
    case 12:
      put(out, slot(d, kPagCli), "00777");
      break;
    default:
      break;
  }
  Slot em = slot(d, kPagEmissao);
  put_packed(out.data() + em.off, 5, issue, 9, random_sign(r));
  put_packed(out.data() + em.off + 5, 5, paid_on, 9, random_sign(r));
  Slot ve = slot(d, kPagVencto);
  if (due_blank) {
    std::memset(out.data() + ve.off, ' ', 5);  // an unset packed field holds blanks
  } else {
    put_packed(out.data() + ve.off, 5, due, 9, random_sign(r));
  }
  Slot tx = slot(d, kPagTexto3);
  put_packed(out.data() + tx.off, 6, nominal, 11, 'C');
  put_packed(out.data() + tx.off + 6, 6, paid_amount, 11, paid_sign);
  put_packed(out.data() + tx.off + 12, 2, 1 + r.below(99), 3, 'F');

  // Packed area (diagnostics only): interest, fine and a copy of the nominal amount.
  char area[40];
  put_packed(area, 6, r.below64(100000), 11, 'C');
  put_packed(area + 6, 7, nominal, 13, 'C');
  put_packed(area + 13, 7, r.below64(10000), 13, 'C');
  put_packed(area + 20, 5, due, 9, 'F');
  put_packed(area + 25, 8, r.below64(1000000), 15, 'C');
  put_packed(area + 33, 7, 0, 13, 'C');
  std::size_t at = 0;
  for (int f : {kPagLivre, kPagLivre2, kPagLivre3, kPagLivre4, kPagLivre5}) {
    Slot s = slot(d, f);
    std::memcpy(out.data() + s.off, area + at, static_cast<std::size_t>(s.width));
    at += static_cast<std::size_t>(s.width);
  }
}

// Products. Codes repeat the pattern of product_code(); barcodes begin with 78900.
void product_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out) {
  Rng r(seed);
  char buf[32];
  FieldText(out, slot(d, kPrdCodigo)).digits(product_code(i), 5);
  {
    FieldText t(out, slot(d, kPrdDescri));
    t.word(r.pick(kProductNouns)).word(r.pick(kProductGrades));
    if (r.one_in(2)) t.word(r.pick(kProductGrades));
  }
  if (!r.one_in(4)) {
    FieldText t(out, slot(d, kPrdLivre21));
    t.add("R-").digits(r.below(100000), 5);
  }
  bool barcode = !r.one_in(4);
  std::string_view code13 = digit_text(buf, 7890000000000ull + r.below64(10000000), 13);
  if (barcode) put(out, slot(d, kPrdLivre22), code13);
  {
    FieldText t(out, slot(d, kPrdRefer));
    t.add(r.pick(kShelves)).add(" ").digits(r.below(100), 2).add("-").digits(r.below(10), 1);
  }
  put(out, slot(d, kPrdUnidad), r.pick(kUnits));
  if (!r.one_in(3)) {
    FieldText t(out, slot(d, kPrdObs));
    t.add("LINHA ").add(r.pick(kProductGrades));
  }
  if (!r.one_in(4)) put(out, slot(d, kPrdNomelv), r.pick(kBrands));
  Slot lv = slot(d, kPrdLivre);
  put_packed(out.data() + lv.off, 7, r.below64(100000000), 13, 'C');
  put_packed(out.data() + lv.off + 7, 5, random_date(r), 9, 'F');
  put_packed(out.data() + lv.off + 12, 4, r.below(1000000), 7, 'C');

  switch (special_case(i, 10)) {
    case 0:
      put(out, slot(d, kPrdCodigo), "00042");
      break;
    case 1:
      put(out, slot(d, kPrdCodigo), "XYZ01");
      break;
    case 2:
      put(out, slot(d, kPrdObs), "");
      put(out, slot(d, kPrdNomelv), "  FORTEX  ");
      break;
    case 3:
      put(out, slot(d, kPrdObs), "");
      put(out, slot(d, kPrdNomelv), "");
      break;
    case 4:
      put(out, slot(d, kPrdLivre22), "");
      break;
    case 5:
      put(out, slot(d, kPrdLivre21), "  AB 12");
      break;
    case 6:  // a second item with code 42
      put(out, slot(d, kPrdCodigo), "00042");
      break;
    case 7:
      put(out, slot(d, kPrdCodigo), " 77");
      break;
    case 8:
      put(out, slot(d, kPrdObs), "LINHA PROFISSIONAL X");
      put(out, slot(d, kPrdNomelv), "METALURGICA NORTEC");
      break;
    case 9:
      put(out, slot(d, kPrdRefer), "DEPOSITO 12-A-07");
      break;
    default:
      break;
  }
}

// Balances: packed area of 100 bytes; the run reads the stock balance at bytes 12-16,
// the sale price at 38-44, the cost at 66-72 and the last purchase cost at 73-79.
void balance_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t products,
                  std::string& out) {
  Rng r(seed);
  std::size_t p = std::max<std::size_t>(products, 1);
  put(out, slot(d, kSalReg), r.one_in(5) ? "02" : "01");
  FieldText(out, slot(d, kSalCodigo)).digits(product_code((i * 7) % p), 5);
  std::uint64_t stock = r.below64(1000000000);    // 6.3
  std::uint64_t price = r.below64(200000000ull);  // 10.3, below 200 000
  std::uint64_t cost = r.below64(900000000ull);   // below 900 000
  std::uint64_t last_cost = r.below64(900000000ull);
  char stock_sign = r.one_in(10) ? 'D' : 'C';
  int special = special_case(i, 15);
  if (special >= 3) put(out, slot(d, kSalReg), "01");  // the value cases must be applied
  switch (special) {
    case 0:
      put(out, slot(d, kSalReg), "02");
      put(out, slot(d, kSalCodigo), "00001");
      break;
    case 1:
      put(out, slot(d, kSalReg), "  ");
      put(out, slot(d, kSalCodigo), "00002");
      break;
    case 2:
      put(out, slot(d, kSalReg), " 1");
      break;
    case 3:
      put(out, slot(d, kSalCodigo), "9" + std::to_string(1000 + i % 8999));
      break;
    case 4:  // 1000000.001: cleared
      cost = 1000000001ull;
      break;
    case 5:  // exactly 1000000: kept
      cost = 1000000000ull;
      break;
    case 6:
      last_cost = 5000000000ull;
      break;
    case 7:
      price = 7000000000ull;
      break;
    case 8:  // 000123456: 123.456
      stock = 123456;
      break;
    case 9:
      stock_sign = 'D';
      break;
    case 10:
      put(out, slot(d, kSalReg), "01");
      put(out, slot(d, kSalCodigo), "00042");
      break;
    case 11:
      put(out, slot(d, kSalReg), "1 ");
      put(out, slot(d, kSalCodigo), " 42");
      break;
    case 12:
      put(out, slot(d, kSalReg), "02");
      put(out, slot(d, kSalCodigo), "00042");
      break;
    case 13:
      put(out, slot(d, kSalReg), "01");
      put(out, slot(d, kSalCodigo), "78900");
      break;
    case 14:
      put(out, slot(d, kSalReg), "10");
      break;
    default:
      break;
  }
  char area[100];
  put_packed(area, 5, r.below(100), 9, 'F');                 // 1-5 warehouse
  put_packed(area + 5, 6, r.below64(100000), 11, 'C');       // 6-11 minimum stock
  put_packed(area + 11, 5, stock, 9, stock_sign);            // 12-16 stock balance
  put_packed(area + 16, 7, r.below64(100000), 13, 'C');      // 17-23 reserved stock
  put_packed(area + 23, 7, r.below64(1000000000), 13, 'C');  // 24-30 previous price
  put_packed(area + 30, 7, r.below64(1000000000), 13, 'C');  // 31-37 promotion price
  put_packed(area + 37, 7, price, 13, 'C');                  // 38-44 sale price
  put_packed(area + 44, 7, r.below64(1000000), 13, 'C');     // 45-51
  put_packed(area + 51, 7, r.below64(1000000), 13, 'C');     // 52-58
  put_packed(area + 58, 7, r.below64(1000000), 13, 'F');     // 59-65
  put_packed(area + 65, 7, cost, 13, 'C');                   // 66-72 cost
  put_packed(area + 72, 7, last_cost, 13, 'C');              // 73-79 last purchase cost
  put_packed(area + 79, 5, random_date(r), 9, 'F');          // 80-84 last purchase date
  put_packed(area + 84, 8, r.below64(1000000000), 15, 'C');  // 85-92
  put_packed(area + 92, 8, 0, 15, 'C');                      // 93-100
  std::size_t at = 0;
  for (int f : {kSalLivre, kSalLivre2, kSalLivre3, kSalLivre4, kSalLivre5}) {
    Slot s = slot(d, f);
    std::memcpy(out.data() + s.off, area + at, static_cast<std::size_t>(s.width));
    at += static_cast<std::size_t>(s.width);
  }
}

// Clients. Identity numbers and the postal code are packed; people carry a CPF,
// companies a CNPJ, the other number being zero.
void client_line(const TableDef& d, std::uint64_t seed, std::size_t i, bool crlf,
                 std::string& out) {
  Rng r(seed);
  FieldText(out, slot(d, kCliCodigo)).digits(i % 99999 + 1, 5);
  bool company = r.one_in(3);
  {
    FieldText t(out, slot(d, kCliNome));
    if (company) {
      company_name(r, t);
    } else {
      person_name(r, t);
    }
  }
  if (!r.one_in(6)) {
    FieldText t(out, slot(d, kCliFant));
    t.word(r.pick(kSurnames)).word(company ? r.pick(kCompanyWords) : r.pick(kFirstNames));
  }
  {
    FieldText t(out, slot(d, kCliEnd));
    street(r, t);
  }
  put(out, slot(d, kCliBairro), r.pick(kDistricts));
  const City& city = r.pick(kCities);
  put(out, slot(d, kCliCidade), city.name);
  put(out, slot(d, kCliEstado), city.state);
  std::uint64_t cpf = company ? 0 : 1000000000ull + r.below64(98999999999ull);  // 11 digits
  std::uint64_t cnpj = company ? 10000000000000ull + r.below64(89999999999999ull) : 0;
  std::uint64_t cpf_prefix = 0;  // the two leading digits the conversion does not take
  std::uint64_t cep = 10000000 + r.below64(89999999);
  char cpf_sign = 'C', cnpj_sign = 'C', cep_sign = random_sign(r);
  if (!r.one_in(3)) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%03u.%03u.%03u", r.below(1000), r.below(1000), r.below(1000));
    put(out, slot(d, kCliInsest), buf);
  }
  put(out, slot(d, kCliProfis), r.pick(kProfessions));
  phone(r, out, slot(d, kCliFone));
  if (r.one_in(3)) phone(r, out, slot(d, kCliFax));
  if (r.one_in(2)) phone(r, out, slot(d, kCliCel));
  put(out, slot(d, kCliConceito), r.pick(kConcepts));
  {
    FieldText t(out, slot(d, kCliNomema));
    t.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  }
  if (!r.one_in(4)) {
    FieldText t(out, slot(d, kCliNomepa));
    t.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  }
  if (r.one_in(2)) lower_email(r, out, slot(d, kCliEmail));
  {
    char buf[16];
    put(out, slot(d, kCliDtcad), digit_text(buf, random_date(r), 8));
  }
  Slot lv = slot(d, kCliLivre);
  put_packed(out.data() + lv.off, 7, r.below64(100000000), 13, 'C');  // credit limit
  put_packed(out.data() + lv.off + 7, 5, random_date(r), 9, 'F');     // last purchase

  switch (special_case(i, 17)) {
    case 0:
      put(out, slot(d, kCliCodigo), "00042");
      break;
    case 1:
      put(out, slot(d, kCliCodigo), "ABC12");
      break;
    case 2:
      put(out, slot(d, kCliCodigo), "00525");
      break;
    case 3:
      put(out, slot(d, kCliFant), "");
      break;
    case 4:  // a trade name beyond the target's 25 characters reads as blank there
      put(out, slot(d, kCliFant), "                         LTDA");
      break;
    case 5:
      cpf = 0;
      cnpj = 0;
      break;
    case 6:  // 13 digits 0000000000012: the first 11 are zero
      cpf = 12;
      cnpj = 0;
      break;
    case 7:
      cpf = 12345678901ull;
      cpf_prefix = 47;
      break;
    case 8:
      cep = 0;
      break;
    case 9:
      cnpj = 0;
      cpf = 98765432100ull;
      break;
    case 10:
      put(out, slot(d, kCliInsest), "");
      break;
    case 11:
      put(out, slot(d, kCliInsest), "ISENTO");
      break;
    case 12:
      cpf_sign = 'F';
      cnpj_sign = 'D';
      cnpj = 12345678000195ull;
      break;
    case 13:
      put(out, slot(d, kCliCodigo), " 42");
      break;
    case 14:
      put(out, slot(d, kCliCodigo), "-0042");
      break;
    case 15:
      put(out, slot(d, kCliNome), "COMERCIAL DE FERRAGENS E MATERIAIS LTDA1");
      put(out, slot(d, kCliEmail), "contato.financeiro.departamento@exemplo.com.br.xx");
      break;
    case 16:
      put(out, slot(d, kCliInsest), "   ");
      put(out, slot(d, kCliFant), "\t");
      break;
    default:
      break;
  }
  // CPF_CLI: 8 bytes, 15 digits: two leading digits the run drops, then 13 digits
  // ("00" and the 11-digit number).
  put_packed(out.data() + slot(d, kCliCpf).off, 8, cpf_prefix * 10000000000000ull + cpf, 15,
             cpf_sign);
  put_packed(out.data() + slot(d, kCliCep).off, 5, cep, 8, cep_sign);
  put_packed(out.data() + slot(d, kCliCnpj).off, 8, cnpj, 14, cnpj_sign);
  if (crlf) {
    // A CR LF pair inside the packed CNPJ bytes: the import cuts the line there.
    Slot s = slot(d, kCliCnpj);
    out[static_cast<std::size_t>(s.off + 3)] = '\r';
    out[static_cast<std::size_t>(s.off + 4)] = '\n';
  }
}

// Receivables: text dates DDMMYYYY; the packed area holds the amount paid at bytes
// 1-7 and the payment date at 9-13.
void receivable_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t clients,
                     std::string& out) {
  Rng r(seed);
  char buf[24];
  FieldText num(out, slot(d, kRecNumero));
  num.digits(1 + r.below(9999999), 7).add("/").digits(1 + r.below(12), 2);
  FieldText(out, slot(d, kRecCli)).digits(i % std::max<std::size_t>(clients, 1) + 1, 5);
  std::uint64_t issue = random_date(r), due = random_date(r), paid_on = random_date(r);
  std::uint64_t nominal = 100 + r.below64(100000000);  // cents
  bool paid = r.one_in(2);
  std::uint64_t paid_amount = paid ? nominal + r.below(1000) : 0;
  char paid_sign = 'C';
  std::string_view issue_text = digit_text(buf, issue, 8);
  char due_buf[16];
  std::string_view due_text = digit_text(due_buf, due, 8);
  switch (special_case(i, 12)) {
    case 0:
      put(out, slot(d, kRecCli), "00525");
      break;
    case 1:
      put(out, slot(d, kRecCli), "525");
      break;
    case 2:
      paid_amount = 0;
      break;
    case 3:
      paid_amount = nominal;
      paid_on = 0;
      break;
    case 4:
      issue_text = "05132014";
      break;
    case 5:
      issue_text = "";
      break;
    case 6:
      issue_text = "05032014";
      break;
    case 7:
      due_text = "29022013";
      break;
    case 8:
      due_text = "29022012";
      break;
    case 9:
      put(out, slot(d, kRecCli), "ABCDE");
      break;
    case 10:
      paid_amount = nominal;
      paid_sign = 'D';
      break;
    case 11:
      paid_amount = nominal;
      paid_on = ddmmyyyy(10, 13, 2013);
      break;
    default:
      break;
  }
  put(out, slot(d, kRecEmissao), issue_text);
  put(out, slot(d, kRecVecto), due_text);
  put_packed(out.data() + slot(d, kRecTexto3).off, 8, nominal, 15, 'C');
  char area[35];
  put_packed(area, 7, paid_amount, 13, paid_sign);       // 1-7 amount paid
  put_packed(area + 7, 1, r.below(10), 1, 'C');          // 8 status
  put_packed(area + 8, 5, paid_on, 9, 'F');              // 9-13 payment date
  put_packed(area + 13, 7, r.below64(100000), 13, 'C');  // 14-20 interest
  put_packed(area + 20, 7, r.below64(10000), 13, 'C');   // 21-27 discount
  put_packed(area + 27, 5, random_date(r), 9, 'F');      // 28-32 last notice
  put_packed(area + 32, 3, r.below(100000), 5, 'C');     // 33-35 bank
  std::size_t at = 0;
  for (int f : {kRecLivre, kRecLivre2, kRecLivre3, kRecLivre4, kRecLivre5}) {
    Slot s = slot(d, f);
    std::memcpy(out.data() + s.off, area + at, static_cast<std::size_t>(s.width));
    at += static_cast<std::size_t>(s.width);
  }
}

// ---------------------------------------------------------------------------------
// Realistic lines: what a small business's export looks like, for the sample a new
// user runs. Ordinary records only: taxpayer numbers with valid check digits, postal
// and area codes that belong to the city, dates in order (issued, due, paid), plausible
// stocks, costs and prices.

struct Place {
  const char* city;
  const char* state;
  std::uint32_t cep_first, cep_last;  // the city's postal codes, 8 digits
  int area;                           // its telephone area code
};
const Place kPlaces[] = {
    {"CAMPINAS", "SP", 13000000, 13139999, 19},
    {"RIBEIRAO PRETO", "SP", 14000000, 14114999, 16},
    {"CURITIBA", "PR", 80000000, 82999999, 41},
    {"LONDRINA", "PR", 86000000, 86099999, 43},
    {"MARINGA", "PR", 87000000, 87119999, 44},
    {"JOINVILLE", "SC", 89200000, 89239999, 47},
    {"BLUMENAU", "SC", 89000000, 89099999, 47},
    {"PORTO ALEGRE", "RS", 90000000, 91999999, 51},
    {"CAXIAS DO SUL", "RS", 95000000, 95124999, 54},
    {"BELO HORIZONTE", "MG", 30000000, 31999999, 31},
    {"UBERLANDIA", "MG", 38400000, 38415999, 34},
    {"GOIANIA", "GO", 74000000, 74899999, 62},
};

// Days since 1 March of year 0 and back, for dates that follow each other.
std::int64_t day_number(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = y / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
}
std::uint64_t ddmmyyyy_of(std::int64_t n) {
  const std::int64_t era = n / 146097;
  const std::int64_t doe = n - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
  return ddmmyyyy(d, m, y);
}
// A day in 2023 or 2024.
std::int64_t recent_day(Rng& r) { return day_number(2023, 1, 1) + r.below(730); }

// The check digit of a taxpayer number over `digits` with weights `w` (modulus 11).
int check_digit(const std::vector<int>& digits, const std::vector<int>& w) {
  int sum = 0;
  for (std::size_t k = 0; k < digits.size(); ++k) sum += digits[k] * w[k];
  const int rest = sum % 11;
  return rest < 2 ? 0 : 11 - rest;
}
std::uint64_t number_of(const std::vector<int>& digits) {
  std::uint64_t v = 0;
  for (int d : digits) v = v * 10 + static_cast<std::uint64_t>(d);
  return v;
}
// An individual's taxpayer number: nine digits and their two check digits.
std::uint64_t valid_cpf(Rng& r) {
  std::vector<int> d;
  for (int k = 0; k < 9; ++k) d.push_back(static_cast<int>(k == 0 ? 1 + r.below(9) : r.below(10)));
  d.push_back(check_digit(d, {10, 9, 8, 7, 6, 5, 4, 3, 2}));
  d.push_back(check_digit(d, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2}));
  return number_of(d);
}
// A company's taxpayer number: an eight-digit root, branch 0001, two check digits.
std::uint64_t valid_cnpj(Rng& r) {
  std::vector<int> d;
  for (int k = 0; k < 8; ++k) d.push_back(static_cast<int>(k == 0 ? 1 + r.below(9) : r.below(10)));
  for (int b : {0, 0, 0, 1}) d.push_back(b);
  d.push_back(check_digit(d, {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
  d.push_back(check_digit(d, {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
  return number_of(d);
}
// A product's bar code: 789 (the country), nine digits, the EAN-13 check digit.
std::uint64_t valid_ean13(Rng& r) {
  std::vector<int> d = {7, 8, 9};
  for (int k = 0; k < 9; ++k) d.push_back(static_cast<int>(r.below(10)));
  int sum = 0;
  for (std::size_t k = 0; k < d.size(); ++k) sum += d[k] * (k % 2 == 0 ? 1 : 3);
  d.push_back((10 - sum % 10) % 10);
  return number_of(d);
}
std::uint32_t cep_of(Rng& r, const Place& p) {
  return p.cep_first + r.below(p.cep_last - p.cep_first + 1);
}
// "(19) 3234-5678" for a line, "(19) 99123-4567" for a mobile.
void phone_of(Rng& r, const Place& p, bool mobile, std::string& line, Slot s) {
  FieldText t(line, s);
  t.add("(").digits(static_cast<std::uint64_t>(p.area), 2).add(") ");
  if (mobile) {
    t.add("9").digits(8000 + r.below(2000), 4);
  } else {
    t.digits(3000 + r.below(2000), 4);
  }
  t.add("-").digits(r.below(10000), 4);
}
void address_of(Rng& r, const Place& p, std::string& line, Slot street_slot, Slot district,
                Slot city, Slot state) {
  {
    FieldText t(line, street_slot);
    street(r, t);
  }
  put(line, district, r.pick(kDistricts));
  put(line, city, p.city);
  put(line, state, p.state);
}
// Money in cents from a to b.
std::uint64_t cents(Rng& r, std::uint64_t a, std::uint64_t b) { return a + r.below64(b - a + 1); }

// The legacy codes the supplier table holds when there is no supplier export, so that
// about four payables in five find their supplier.
constexpr std::size_t kLegacySuppliers = 12;
constexpr std::size_t kLegacyCodes = 15;

void realistic_supplier_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                             std::string& out) {
  Rng r(seed);
  FieldText(out, slot(d, kSupCodigo)).digits(i % 99999 + 1, 5);
  {
    FieldText t(out, slot(d, kSupRazao));
    company_name(r, t);
  }
  {
    FieldText t(out, slot(d, kSupFant));
    t.word(r.pick(kSurnames)).word(r.pick(kCompanyWords));
  }
  const Place& p = r.pick(kPlaces);
  address_of(r, p, out, slot(d, kSupEnd), slot(d, kSupBairro), slot(d, kSupCidade),
             slot(d, kSupEstado));
  put_packed(out.data() + slot(d, kSupCep).off, 5, cep_of(r, p), 8, 'C');
  phone_of(r, p, false, out, slot(d, kSupFone1));
  if (r.one_in(2)) phone_of(r, p, true, out, slot(d, kSupFone2));
  if (r.one_in(3)) phone_of(r, p, false, out, slot(d, kSupFax));
  {
    FieldText t(out, slot(d, kSupContato));
    person_name(r, t);
  }
  char buf[24];
  put(out, slot(d, kSupCnpj), digit_text(buf, valid_cnpj(r), 14));  // digits only, as exported
  if (r.one_in(6)) {
    put(out, slot(d, kSupInsest), "ISENTO");
  } else {
    put(out, slot(d, kSupInsest),
        digit_text(buf, 100000000000ull + r.below64(899999999999ull), 12));
  }
  put(out, slot(d, kSupLivre), "");
  put_packed(out.data() + slot(d, kSupLivre).off, 3, 30 + r.below(60), 5, 'C');
}

void realistic_payable_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::size_t suppliers, bool legacy, std::string& out) {
  Rng r(seed);
  FieldText num(out, slot(d, kPagNumero));
  num.digits(100000 + r.below(900000), 6).add("/").digits(1 + r.below(6), 2);
  const std::size_t codes = legacy ? kLegacyCodes : std::max<std::size_t>(suppliers, 1);
  FieldText(out, slot(d, kPagCli)).digits(i % codes + 1, 5);
  {
    FieldText h(out, slot(d, kPagHistor));
    h.add("NF ").digits(1000 + r.below(900000), 6).add(" PARC ").digits(1 + r.below(3), 1);
  }
  const std::int64_t issue = recent_day(r);
  const std::int64_t due = issue + 30 * (1 + static_cast<std::int64_t>(r.below(3)));
  const bool paid = !r.one_in(3);
  const std::int64_t paid_on = due - 5 + static_cast<std::int64_t>(r.below(12));
  const std::uint64_t nominal = cents(r, 5000, 2500000);
  const std::uint64_t paid_amount = paid ? nominal + (paid_on > due ? nominal / 100 : 0) : 0;
  Slot em = slot(d, kPagEmissao);
  put_packed(out.data() + em.off, 5, ddmmyyyy_of(issue), 9, 'F');
  put_packed(out.data() + em.off + 5, 5, paid ? ddmmyyyy_of(std::max(paid_on, due)) : 0, 9, 'F');
  put_packed(out.data() + slot(d, kPagVencto).off, 5, ddmmyyyy_of(due), 9, 'F');
  Slot tx = slot(d, kPagTexto3);
  put_packed(out.data() + tx.off, 6, nominal, 11, 'C');
  put_packed(out.data() + tx.off + 6, 6, paid_amount, 11, 'C');
  put_packed(out.data() + tx.off + 12, 2, 1 + r.below(3), 3, 'F');
  char area[40];
  put_packed(area, 6, paid_amount > nominal ? paid_amount - nominal : 0, 11, 'C');  // interest
  put_packed(area + 6, 7, nominal, 13, 'C');
  put_packed(area + 13, 7, 0, 13, 'C');  // discount
  put_packed(area + 20, 5, ddmmyyyy_of(due), 9, 'F');
  put_packed(area + 25, 8, 1000 + r.below64(9000), 15, 'C');  // bank account
  put_packed(area + 33, 7, 0, 13, 'C');
  std::size_t at = 0;
  for (int f : {kPagLivre, kPagLivre2, kPagLivre3, kPagLivre4, kPagLivre5}) {
    Slot s = slot(d, f);
    std::memcpy(out.data() + s.off, area + at, static_cast<std::size_t>(s.width));
    at += static_cast<std::size_t>(s.width);
  }
}

void realistic_product_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::string& out) {
  Rng r(seed);
  char buf[24];
  FieldText(out, slot(d, kPrdCodigo)).digits(product_code(i), 5);
  {
    FieldText t(out, slot(d, kPrdDescri));
    t.word(r.pick(kProductNouns)).word(r.pick(kProductGrades)).word(r.pick(kBrands));
  }
  FieldText(out, slot(d, kPrdLivre21)).add("R-").digits(10000 + r.below(90000), 5);
  put(out, slot(d, kPrdLivre22), digit_text(buf, valid_ean13(r), 13));
  {
    FieldText t(out, slot(d, kPrdRefer));
    t.add(r.pick(kShelves)).add(" ").digits(1 + r.below(40), 2).add("-").digits(1 + r.below(6), 1);
  }
  put(out, slot(d, kPrdUnidad), r.pick(kUnits));
  if (!r.one_in(4)) {
    FieldText t(out, slot(d, kPrdObs));
    t.add("LINHA ").add(r.pick(kProductGrades));
  }
  put(out, slot(d, kPrdNomelv), r.pick(kBrands));
  Slot lv = slot(d, kPrdLivre);
  put_packed(out.data() + lv.off, 7, r.below64(1000000), 13, 'C');
  put_packed(out.data() + lv.off + 7, 5, ddmmyyyy_of(recent_day(r)), 9, 'F');
  put_packed(out.data() + lv.off + 12, 4, r.below(1000), 7, 'C');
}

// One balance of type 1 per product, then balances of another warehouse (type 2).
void realistic_balance_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::size_t products, std::string& out) {
  Rng r(seed);
  const std::size_t p = std::max<std::size_t>(products, 1);
  put(out, slot(d, kSalReg), i < p ? "01" : "02");
  FieldText(out, slot(d, kSalCodigo)).digits(product_code(i % p), 5);
  // Thousandths: whole units mostly, sometimes weighed or measured quantities.
  const std::uint64_t stock = r.below64(400) * 1000 + (r.one_in(4) ? r.below(1000) : 0);
  const std::uint64_t cost = 450 + r.below64(1200000);  // 0.450 to 1200.450
  const std::uint64_t price = cost * (130 + r.below(71)) / 100;
  const std::uint64_t last_cost = cost * (95 + r.below(11)) / 100;
  char area[100];
  put_packed(area, 5, 1 + r.below(3), 9, 'F');                   // 1-5 warehouse
  put_packed(area + 5, 6, stock / 10, 11, 'C');                  // 6-11 minimum stock
  put_packed(area + 11, 5, stock, 9, 'C');                       // 12-16 stock balance
  put_packed(area + 16, 7, 0, 13, 'C');                          // 17-23 reserved stock
  put_packed(area + 23, 7, price * 97 / 100, 13, 'C');           // 24-30 previous price
  put_packed(area + 30, 7, price * 90 / 100, 13, 'C');           // 31-37 promotion price
  put_packed(area + 37, 7, price, 13, 'C');                      // 38-44 sale price
  put_packed(area + 44, 7, 0, 13, 'C');                          // 45-51
  put_packed(area + 51, 7, 0, 13, 'C');                          // 52-58
  put_packed(area + 58, 7, 0, 13, 'F');                          // 59-65
  put_packed(area + 65, 7, cost, 13, 'C');                       // 66-72 cost
  put_packed(area + 72, 7, last_cost, 13, 'C');                  // 73-79 last purchase cost
  put_packed(area + 79, 5, ddmmyyyy_of(recent_day(r)), 9, 'F');  // 80-84 last purchase date
  put_packed(area + 84, 8, stock * 3, 15, 'C');                  // 85-92 sold this year
  put_packed(area + 92, 8, 0, 15, 'C');                          // 93-100
  std::size_t at = 0;
  for (int f : {kSalLivre, kSalLivre2, kSalLivre3, kSalLivre4, kSalLivre5}) {
    Slot s = slot(d, f);
    std::memcpy(out.data() + s.off, area + at, static_cast<std::size_t>(s.width));
    at += static_cast<std::size_t>(s.width);
  }
}

void realistic_client_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out) {
  Rng r(seed);
  FieldText(out, slot(d, kCliCodigo)).digits(i % 99999 + 1, 5);
  const bool company = r.one_in(3);
  {
    FieldText t(out, slot(d, kCliNome));
    if (company) {
      company_name(r, t);
    } else {
      person_name(r, t);
    }
  }
  if (company) {
    FieldText t(out, slot(d, kCliFant));
    t.word(r.pick(kSurnames)).word(r.pick(kCompanyWords));
  }
  const Place& p = r.pick(kPlaces);
  address_of(r, p, out, slot(d, kCliEnd), slot(d, kCliBairro), slot(d, kCliCidade),
             slot(d, kCliEstado));
  char buf[24];
  if (company)
    put(out, slot(d, kCliInsest), digit_text(buf, 100000000ull + r.below64(899999999), 9));
  put(out, slot(d, kCliProfis), company ? "COMERCIANTE" : r.pick(kProfessions));
  phone_of(r, p, false, out, slot(d, kCliFone));
  if (company && r.one_in(2)) phone_of(r, p, false, out, slot(d, kCliFax));
  if (!company || r.one_in(2)) phone_of(r, p, true, out, slot(d, kCliCel));
  put(out, slot(d, kCliConceito), r.one_in(5) ? "B" : "A");
  if (!company) {
    FieldText m(out, slot(d, kCliNomema));
    m.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
    FieldText f(out, slot(d, kCliNomepa));
    f.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  }
  if (!r.one_in(3)) lower_email(r, out, slot(d, kCliEmail));
  put(out, slot(d, kCliDtcad),
      digit_text(buf, ddmmyyyy_of(day_number(2015, 1, 1) + r.below(3000)), 8));
  Slot lv = slot(d, kCliLivre);
  put_packed(out.data() + lv.off, 7, 100000 * (1 + r.below(50)), 13, 'C');  // credit limit
  put_packed(out.data() + lv.off + 7, 5, ddmmyyyy_of(recent_day(r)), 9, 'F');
  // CPF_CLI: 15 digits, the 11 of the number after four zeros; CNPJ_CLI: 14 digits.
  put_packed(out.data() + slot(d, kCliCpf).off, 8, company ? 0 : valid_cpf(r), 15, 'C');
  put_packed(out.data() + slot(d, kCliCep).off, 5, cep_of(r, p), 8, 'C');
  put_packed(out.data() + slot(d, kCliCnpj).off, 8, company ? valid_cnpj(r) : 0, 14, 'C');
}

void realistic_receivable_line(const TableDef& d, std::uint64_t seed, std::size_t clients,
                               std::string& out) {
  Rng r(seed);
  char buf[24];
  FieldText num(out, slot(d, kRecNumero));
  num.digits(100000 + r.below(900000), 6).add("/").digits(1 + r.below(6), 2);
  FieldText(out, slot(d, kRecCli)).digits(r.below64(std::max<std::size_t>(clients, 1)) + 1, 5);
  const std::int64_t issue = recent_day(r);
  const std::int64_t due = issue + 30 * (1 + static_cast<std::int64_t>(r.below(3)));
  const bool paid = !r.one_in(3);
  const std::int64_t paid_on = due + static_cast<std::int64_t>(r.below(8));
  const std::uint64_t nominal = cents(r, 5000, 1500000);
  const std::uint64_t paid_amount = paid ? nominal + (paid_on > due + 3 ? nominal / 100 : 0) : 0;
  put(out, slot(d, kRecEmissao), digit_text(buf, ddmmyyyy_of(issue), 8));
  put(out, slot(d, kRecVecto), digit_text(buf, ddmmyyyy_of(due), 8));
  put_packed(out.data() + slot(d, kRecTexto3).off, 8, nominal, 15, 'C');
  char area[35];
  put_packed(area, 7, paid_amount, 13, 'C');                         // 1-7 amount paid
  put_packed(area + 7, 1, paid ? 2 : 1, 1, 'C');                     // 8 status
  put_packed(area + 8, 5, paid ? ddmmyyyy_of(paid_on) : 0, 9, 'F');  // 9-13 payment date
  put_packed(area + 13, 7, paid_amount > nominal ? paid_amount - nominal : 0, 13, 'C');  // interest
  put_packed(area + 20, 7, 0, 13, 'C');                // 21-27 discount
  put_packed(area + 27, 5, ddmmyyyy_of(due), 9, 'F');  // 28-32 last notice
  put_packed(area + 32, 3, 1 + r.below(999), 5, 'C');  // 33-35 bank
  std::size_t at = 0;
  for (int f : {kRecLivre, kRecLivre2, kRecLivre3, kRecLivre4, kRecLivre5}) {
    Slot s = slot(d, f);
    std::memcpy(out.data() + s.off, area + at, static_cast<std::size_t>(s.width));
    at += static_cast<std::size_t>(s.width);
  }
}

}  // namespace

void Dataset::line(TextSet set, std::size_t i, std::string& out) const {
  const TableDef& d = staging(set);
  out.assign(static_cast<std::size_t>(d.record_length() - 1), ' ');
  std::uint64_t seed = line_seed(options_.seed, static_cast<int>(set), i);
  if (!options_.edge_cases) {
    switch (set) {
      case TextSet::kSuppliers:
        realistic_supplier_line(d, seed, i, out);
        break;
      case TextSet::kPayables:
        realistic_payable_line(d, seed, i, line_count(TextSet::kSuppliers),
                               options_.legacy_suppliers, out);
        break;
      case TextSet::kProducts:
        realistic_product_line(d, seed, i, out);
        break;
      case TextSet::kBalances:
        realistic_balance_line(d, seed, i, line_count(TextSet::kProducts), out);
        break;
      case TextSet::kClients:
        realistic_client_line(d, seed, i, out);
        break;
      case TextSet::kReceivables:
        realistic_receivable_line(d, seed, line_count(TextSet::kClients), out);
        break;
    }
    return;
  }
  switch (set) {
    case TextSet::kSuppliers:
      supplier_line(d, seed, i, out);
      break;
    case TextSet::kPayables:
      payable_line(d, seed, i, line_count(TextSet::kSuppliers), options_.legacy_suppliers, out);
      break;
    case TextSet::kProducts:
      product_line(d, seed, i, out);
      break;
    case TextSet::kBalances:
      balance_line(d, seed, i, line_count(TextSet::kProducts), out);
      break;
    case TextSet::kClients:
      client_line(d, seed, i, i == crlf_line_, out);
      break;
    case TextSet::kReceivables:
      receivable_line(d, seed, i, line_count(TextSet::kClients), out);
      break;
  }
}

// ---------------------------------------------------------------------------------
// Records before the run

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

// The builder's description of a table: its fields, version and a date of last update.
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

// The 512-byte memo header: next free block and block size in the kind's byte order.
std::string memo_header(const TableDef& d, std::uint32_t next_block) {
  std::vector<std::uint8_t> h = build_memo(dbf_layout(d), next_block);
  return std::string(h.begin(), h.end());
}

void be32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k)
    s[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (24 - 8 * k));
}

}  // namespace

void Dataset::build_initial_records() {
  // Stale staging records: two old lines and one deleted record per staging table.
  for (int s = 0; s < kTextSetCount; ++s) {
    const TableDef& d = staging_[s];
    for (int k = 0; k < 3; ++k) {
      std::string rec = d.blank_record();
      // Old lines from a former export: plain text, the field names as content.
      for (const FieldDef& f : d.fields) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s%d", f.name.c_str(), k + 1);
        std::size_t n = std::min<std::size_t>(std::strlen(buf), static_cast<std::size_t>(f.length));
        std::memcpy(rec.data() + f.offset, buf, n);
      }
      if (k == 2) rec[0] = '*';
      stale_[s].push_back(std::move(rec));
    }
  }

  // Clients: three old records, two of them with memo text in the DBT file.
  {
    const TableDef& d = target(Target::kClients);
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
      initial_[static_cast<int>(Target::kClients)].push_back(std::move(rec));
    }
    initial_memo_[static_cast<int>(Target::kClients)] = memo_header(d, next_block) + memo;
  }

  // Items: three old records, two with memo text in the FPT file (64-byte blocks; the
  // 512-byte header fills blocks 0 to 7).
  {
    const TableDef& d = target(Target::kItems);
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
      initial_[static_cast<int>(Target::kItems)].push_back(std::move(rec));
    }
    initial_memo_[static_cast<int>(Target::kItems)] = memo_header(d, next_block) + memo;
  }

  // Suppliers: with legacy codes, twelve records whose OBS_FOR begins with the code
  // the old system gave them (one deleted, two sharing code 00005, one not matching
  // because its code is not zero-padded); otherwise three records without codes.
  {
    const TableDef& d = target(Target::kSuppliers);
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
    if (!options_.edge_cases && options_.legacy_suppliers) {
      // Realistic: the suppliers migrated before, each with the code the old system gave
      // it in OBS_FOR.
      for (std::size_t k = 0; k < kLegacySuppliers; ++k) {
        Rng r(line_seed(options_.seed, 100, k));
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
        initial_[static_cast<int>(Target::kSuppliers)].push_back(std::move(rec));
      }
    }
    const std::size_t n = !options_.edge_cases && options_.legacy_suppliers ? 0
                          : options_.legacy_suppliers                       ? std::size(legacy)
                                                                            : std::size(plain);
    for (std::size_t k = 0; k < n; ++k) {
      const Old& o = options_.legacy_suppliers ? legacy[k] : plain[k];
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
      initial_[static_cast<int>(Target::kSuppliers)].push_back(std::move(rec));
    }
  }

  // Movements: two old records each.
  for (Target t : {Target::kReceivables, Target::kPayables}) {
    const TableDef& d = target(t);
    bool rb = t == Target::kReceivables;
    for (int k = 0; k < 2; ++k) {
      std::string rec = d.blank_record();
      set_field(rec, d, rb ? "CODIGO_RB" : "CODIGO_PG", k == 0 ? "000001" : "000002");
      set_field(rec, d, rb ? "COD_CLI" : "COD_FOR", "  900");
      set_field(rec, d, "DT_EMISSAO", "20111005");
      set_field(rec, d, "DT_VENC", "20111105");
      set_field(rec, d, rb ? "DTBASE_RB" : "DTBASE_PG", "20111005");
      set_right(rec, d, "VALOR", "310.75");
      set_field(rec, d, "HISTORICO", "LANCAMENTO ANTERIOR");
      initial_[static_cast<int>(t)].push_back(std::move(rec));
    }
  }
}

// ---------------------------------------------------------------------------------
// Writing

namespace {

// A table file through the fixture builder (memo files are made by the caller, as the
// builder's own memo file holds no blocks for the records to point at).
std::string table_file(const TableDef& d, const std::vector<std::string>& images,
                       std::uint8_t codepage, int backlink) {
  DbfLayout shape = dbf_layout(d);
  shape.memo = MemoFile::None;
  shape.codepage = codepage;
  shape.backlink = backlink;
  std::vector<RecordRow> records;
  for (const std::string& image : images) {
    RecordRow r;
    r.deleted = image[0] == '*';
    for (const FieldDef& f : d.fields) {
      r.fields.push_back(
          image.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length)));
    }
    records.push_back(std::move(r));
  }
  std::vector<std::uint8_t> bytes = build_dbf(shape, records);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::string Dataset::initial_staging_file(TextSet set) const {
  // The product staging table carries a 263-byte area after its descriptors, as some
  // tools write it, so its records start after a longer header.
  int s = static_cast<int>(set);
  return table_file(staging_[s], stale_[s], 0, set == TextSet::kProducts ? 263 : 0);
}

std::string Dataset::initial_table_file(Target t) const {
  int k = static_cast<int>(t);
  return table_file(targets_[k], initial_[k], 0x02, 0);
}

namespace {

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

// Removes every file of `dir` whose name is `name` in any letter case, so that an
// earlier dataset in the same place leaves no second spelling (the run matches names
// without regard to case) and no text file that this dataset leaves out.
void remove_any_case(const std::filesystem::path& dir, std::string_view name) {
  std::vector<std::filesystem::path> doomed;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (same_name_any_case(e.path().filename().string(), name)) doomed.push_back(e.path());
  }
  for (const auto& p : doomed) std::filesystem::remove(p);
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  remove_any_case(path.parent_path(), path.filename().string());
  write_bytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace

void Dataset::write(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(target_dir(dir));

  // Text files: one line per record, CR LF after each, through a 1 MB buffer.
  std::string line_buf;
  std::vector<char> buffer(1 << 20);  // outlives the stream that uses it
  for (int s = 0; s < kTextSetCount; ++s) {
    TextSet set = static_cast<TextSet>(s);
    remove_any_case(dir, text_file_name(set));
    if (!text_present(set)) continue;
    std::filesystem::path path = dir / text_file_name(set);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.string().c_str(), "wb"),
                                                      &std::fclose);
    if (!f) throw std::runtime_error("cannot create " + path.string());
    std::setvbuf(f.get(), buffer.data(), _IOFBF, buffer.size());
    std::size_t n = line_count(set);
    for (std::size_t i = 0; i < n; ++i) {
      line(set, i, line_buf);
      line_buf.append("\r\n");
      if (std::fwrite(line_buf.data(), 1, line_buf.size(), f.get()) != line_buf.size()) {
        throw std::runtime_error("write failed on " + path.string());
      }
    }
    if (std::fclose(f.release()) != 0) throw std::runtime_error("write failed on " + path.string());
  }

  for (int s = 0; s < kTextSetCount; ++s) {
    write_file(dir / staging_[s].file_name, initial_staging_file(static_cast<TextSet>(s)));
  }
  for (int t = 0; t < kTargetCount; ++t) {
    const TableDef& d = targets_[t];
    write_file(target_dir(dir) / d.file_name, initial_table_file(static_cast<Target>(t)));
    if (d.memo != MemoKind::kNone) write_file(target_dir(dir) / d.memo_file_name, initial_memo_[t]);
  }
}

}  // namespace lum::sample
