// The line builders of the six data sets. Each writes line `i` of its data set into
// `out`, which holds blanks at the staging record's width, drawing its content from a
// random source seeded with `seed` (the line's own seed), so that a line depends on the
// seed, its data set and its number only.
// Used by the generator's own files only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/sample/dataset.h"

namespace lum::sample {

// The test data: ordinary lines of random content, and the case lines (line numbers 0,
// 1, ... and again every 101 lines) that carry the cases the conversions must get right.
void supplier_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out);
// `suppliers`: lines of the supplier file; `legacy`: the supplier table holds the twelve
// legacy codes, which the payables then name.
void payable_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t suppliers,
                  bool legacy, std::string& out);
void product_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out);
// `products`: lines of the product file, whose codes the balances name.
void balance_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t products,
                  std::string& out);
// `crlf`: the line carries a CR LF inside its packed CNPJ bytes.
void client_line(const TableDef& d, std::uint64_t seed, std::size_t i, bool crlf, std::string& out);
// `clients`: lines of the client file, whose codes the movements name.
void receivable_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t clients,
                     std::string& out);

// The realistic sample: what a small business's export looks like. Ordinary records
// only: taxpayer numbers with valid check digits, postal and area codes that belong to
// the city, dates in order (issued, due, paid), plausible stocks, costs and prices.
void realistic_supplier_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                             std::string& out);
void realistic_payable_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::size_t suppliers, bool legacy, std::string& out);
void realistic_product_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out);
// One balance of type 1 per product, then balances of another warehouse (type 2).
void realistic_balance_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::size_t products, std::string& out);
void realistic_client_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out);
// A movement names any client at random.
void realistic_receivable_line(const TableDef& d, std::uint64_t seed, std::size_t clients,
                               std::string& out);

// The realistic supplier table (when there is no supplier export) holds this many
// suppliers with the old system's codes 00001 to 00012; the payables name codes 1 to
// kLegacyCodes, so that about four in five find their supplier.
inline constexpr std::size_t kLegacySuppliers = 12;
inline constexpr std::size_t kLegacyCodes = 15;

}  // namespace lum::sample
