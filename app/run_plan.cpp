#include "app/run_plan.h"

#include <algorithm>
#include <cstring>

#include "app/conversions.h"
#include "frame/error_log.h"
#include "platform/file.h"
#include "platform/text.h"
#include "table/files.h"

namespace lum {

namespace {

// --- CVFORN: suppliers ---
constexpr TextImport kSupplierTexts[] = {{"forneced.txt", "CBFORN", "suppliers"}};
constexpr TableOpen kSupplierTables[] = {
    {.name = "\\LUM\\FIRMA1\\FORNECED", .alias = "FORNECED"},
    {.name = "cbFORN.dbf", .alias = "CBFORN"},
};

// --- CVPAGAR: payables, their suppliers sought by the old system's code ---
constexpr TextImport kPayableTexts[] = {{"PAGAR.txt", "QOREC", "payables"}};
constexpr TableOpen kPayableTables[] = {
    {.name = "\\LUM\\FIRMA1\\FORNECED", .alias = "FORNECED", .first_use = FirstUse::kIndex},
    {.name = "\\lum\\firma1\\LUPGMOV", .alias = "LUPGMOV"},
    {.name = "cbPAG", .alias = "QOREC", .given_alias = "qorec"},
};
constexpr IndexBuild kPayableIndexes[] = {{"LUTMPFOR", "OBS_FOR", "FORNECED"}};

// --- CVPROD: products, then their stock balances ---
constexpr TextImport kProductTexts[] = {{"prod.txt", "CBPROD", "products"},
                                        {"SALDO.txt", "CBSALDO", "stock balances"}};
constexpr TableOpen kProductTables[] = {
    {.name = "\\lum\\firma1\\item",
     .alias = "ITEM",
     .first_use = FirstUse::kFieldWidth,
     .field = "CODITEM"},
    {.name = "cbPROD.dbf", .alias = "CBPROD", .closed_before_later = true},
    {.name = "CBSALDO", .alias = "CBSALDO"},
};
constexpr IndexBuild kProductIndexes[] = {{"coditem", "coditem", "ITEM"},
                                          {"saldo", "codigo", "CBSALDO"}};

// --- CVCLI: clients ---
constexpr TextImport kClientTexts[] = {{"clientes.txt", "CBCLI", "clients"}};
constexpr TableOpen kClientTables[] = {
    {.name = "\\lum\\firma1\\clientes", .alias = "CLIENTES", .exclusive_stated = true},
    {.name = "cbCli.dbf", .alias = "CBCLI", .exclusive_stated = true},
};

// --- CVRECEBER: receivables, started by the client file ---
constexpr TextImport kReceivableTexts[] = {{"receber.txt", "QOREC", "receivables"}};
constexpr TableOpen kReceivableTables[] = {
    {.name = "\\lum\\firma1\\lurbmov", .alias = "LURBMOV", .new_area = false},
    {.name = "cbRec", .alias = "QOREC", .given_alias = "qorec"},
};

const ConversionPlan kRunPlan[] = {
    {"CVFORN", "Suppliers", "FORNECED.TXT", CVFORN, kSupplierTexts, kSupplierTables, "FORNECED",
     {}},
    {"CVPAGAR", "Payables", "PAGAR.txt", CVPAGAR, kPayableTexts, kPayableTables, "LUPGMOV",
     kPayableIndexes},
    {"CVPROD", "Products and stock balances", "prod.txt", CVPROD, kProductTexts, kProductTables,
     "ITEM", kProductIndexes},
    {"CVCLI", "Clients", "clientes.txt", CVCLI, kClientTexts, kClientTables, "CLIENTES", {}},
    // The receivables follow the client file, not "receber.txt", which they then import.
    {"CVRECEBER", "Receivables", "clientes.txt", CVRECEBER, kReceivableTexts, kReceivableTables,
     "LURBMOV", {}},
};

bool same(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// `name` with `ext` when its last component has no extension.
std::string with_extension(std::string name, const char* ext) {
  const std::size_t cut = name.find_last_of("\\/:");
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (cut != std::string::npos && dot < cut)) name += ext;
  return name;
}

}  // namespace

const TableOpen& ConversionPlan::table(const char* alias) const {
  for (const TableOpen& t : tables) {
    if (same(t.alias, alias)) return t;
  }
  return tables.front();
}

const TextImport& ConversionPlan::text_for(const char* staging_alias) const {
  for (const TextImport& t : texts) {
    if (same(t.staging, staging_alias)) return t;
  }
  return texts.front();
}

const IndexBuild& ConversionPlan::index_on(const char* alias) const {
  for (const IndexBuild& ix : indexes) {
    if (same(ix.table, alias)) return ix;
  }
  return indexes.front();
}

std::span<const ConversionPlan> run_plan() { return kRunPlan; }

const ConversionPlan& plan_of(Conversion conversion) {
  for (const ConversionPlan& c : kRunPlan) {
    if (c.run == conversion) return c;
  }
  return kRunPlan[0];
}

std::string table_file(const TableOpen& t) { return with_extension(t.name, ".dbf"); }

std::string index_file(const IndexBuild& ix) { return with_extension(ix.file, ".ntx"); }

std::vector<std::string> destination_tables() {
  std::vector<std::string> names;
  for (const ConversionPlan& c : kRunPlan) names.push_back(table_file(c.table(c.target)));
  return names;
}

std::vector<std::string> files_a_run_may_change() {
  std::vector<std::string> names;
  std::vector<std::string> seen;  // host paths, folded
  auto add = [&](const std::string& name) {
    const std::string key = ascii_upper(resolve_name(name).path);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) return;
    seen.push_back(key);
    names.push_back(name);
  };
  // A table with the memo files that lie beside it.
  auto add_table = [&](const TableOpen& t) {
    const std::string file = table_file(t);
    add(file);
    const std::string stem = file.substr(0, file.rfind('.'));
    for (const char* ext : {".dbt", ".fpt", ".smt"}) {
      if (file_exists(stem + ext)) add(stem + ext);
    }
  };
  for (const ConversionPlan& c : kRunPlan) {
    if (!FILE(c.trigger)) continue;
    add_table(c.table(c.target));
    for (const TextImport& t : c.texts) add_table(c.table(t.staging));
    for (const IndexBuild& ix : c.indexes) add(index_file(ix));
  }
  if (!names.empty()) add(std::string(kErrorLogName));
  return names;
}

}  // namespace lum
