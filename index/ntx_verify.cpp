#include "index/ntx_verify.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "index/ntx_file.h"
#include "index/ntx_tree.h"
#include "platform/file.h"
#include "platform/text.h"
#include "table/table_scan.h"

namespace lum {

namespace {

// The faults of an index's entries (in its key order) against the records' field bytes.
std::string entry_faults(const std::vector<std::pair<std::string, std::uint32_t>>& entries,
                         const std::vector<std::string>& values) {
  const std::uint32_t count = static_cast<std::uint32_t>(values.size() - 1);
  std::vector<std::uint32_t> seen(values.size(), 0);
  std::uint64_t out_of_order = 0, wrong_key = 0, foreign = 0, missing = 0, twice = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].first < entries[i - 1].first) ++out_of_order;
    const std::uint32_t r = entries[i].second;
    if (r == 0 || r > count) {
      ++foreign;
      continue;
    }
    ++seen[r];
    if (entries[i].first != values[r]) ++wrong_key;
  }
  for (std::uint32_t r = 1; r <= count; ++r) {
    if (seen[r] == 0) ++missing;
    if (seen[r] > 1) ++twice;
  }
  std::string s;
  if (missing) s += " " + plural(missing, "record", "records") + " without a key;";
  if (twice) s += " " + plural(twice, "record", "records") + " with several;";
  if (foreign) s += " " + plural(foreign, "key", "keys") + " for no record;";
  if (out_of_order) s += " " + plural(out_of_order, "key", "keys") + " out of order;";
  if (wrong_key) s += " " + plural(wrong_key, "key", "keys") + " unlike their record;";
  if (!s.empty()) s.pop_back();
  return s;
}

}  // namespace

std::string index_verification(std::string_view ntx_name, std::string_view table_name) {
  {
    File probe;
    if (probe.open(ntx_name, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return "not there";
  }
  NtxFile ntx;
  if (!ntx.open(ntx_name, true, true)) return "FAULT: cannot be read as an index";
  ntx.set_quiet(true);
  TableScan table;
  if (!table.open(table_name)) return "FAULT: its table cannot be read";
  const NtxHeader& h = ntx.header();
  const dbf::Field* field = table.field(trim_blanks(h.key_expr));
  if (field == nullptr || field->len != h.key_size) {
    return "FAULT: the key is not a field of its table";
  }

  std::vector<std::pair<std::string, std::uint32_t>> entries;
  NtxTree tree(ntx);
  TreeStep step = tree.top();
  for (; step == TreeStep::Key; step = tree.next()) entries.emplace_back(tree.key(), tree.record());
  if (step == TreeStep::Failed) return "FAULT: a page is damaged or leads outside the tree";

  std::vector<std::string> values(table.count() + 1);
  if (!table.each([&](std::uint32_t recno, std::string_view rec) {
        values[recno] = std::string(TableScan::bytes(rec, *field));
      })) {
    return "FAULT: its table ends before its last record";
  }
  const std::string head = plural(entries.size(), "key", "keys") + " on " + field->name;
  const std::string faults = entry_faults(entries, values);
  if (faults.empty()) {
    return head + ": one for every record, in order, each its record's value (verified)";
  }
  return head + ": FAULT:" + faults;
}

}  // namespace lum
