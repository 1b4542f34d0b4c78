#include "tools/sample/dataset.h"

#include <limits>

#include "tools/sample/dbf_builder.h"
#include "tools/sample/layouts.h"
#include "tools/sample/lines.h"
#include "tools/sample/rng.h"

namespace lum::sample {

DatasetOptions DatasetOptions::with_lines(std::size_t n, std::uint64_t seed) {
  DatasetOptions o;
  o.seed = seed;
  o.lines.fill(n);
  return o;
}

Dataset::Dataset(const DatasetOptions& options)
    : options_(options), staging_(staging_tables()), targets_(target_tables(options)) {
  std::size_t n = line_count(TextSet::kClients);
  // Never the first line (the case lines start there) and never the last: a CR LF in
  // the last line of a file would end the import there and lose the second half.
  crlf_line_ = options_.edge_cases && options_.crlf_split && n >= 3
                   ? n / 2
                   : std::numeric_limits<std::size_t>::max();
  build_initial_records();
}

const char* Dataset::text_file_name(TextSet set) {
  static const char* const kNames[] = {"forneced.txt", "PAGAR.txt",    "prod.txt",
                                       "SALDO.txt",    "clientes.txt", "receber.txt"};
  return kNames[static_cast<int>(set)];
}

bool Dataset::text_set_by_name(std::string_view name, TextSet& set) {
  for (int k = 0; k < kTextSetCount; ++k) {
    if (same_name_any_case(name, text_file_name(static_cast<TextSet>(k)))) {
      set = static_cast<TextSet>(k);
      return true;
    }
  }
  return false;
}

std::filesystem::path Dataset::target_dir(const std::filesystem::path& dir) {
  return dir / "lum" / "firma1";
}

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

namespace {

// A table file through the DBF builder (memo files are made apart, as the builder's own
// memo file holds no blocks for the records to point at).
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

}  // namespace lum::sample
