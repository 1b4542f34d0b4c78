// The table the index fuzz target opens its input as an index of, and that the seed
// indexes are built over: 150 records of CODE C(8) with repeated values, QTY N(7,2),
// WHEN D and OK L, so that the input can be an index of every key type.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sample/dbf_builder.h"

namespace lum::fuzz {

inline constexpr std::uint32_t kNtxTableRecords = 150;

// The table file's bytes; with `empty`, the same structure without records.
inline std::string ntx_table_bytes(bool empty = false) {
  sample::DbfLayout layout;
  layout.fields = {{"CODE", 'C', 8}, {"QTY", 'N', 7, 2}, {"WHEN", 'D', 8}, {"OK", 'L', 1}};
  std::vector<sample::RecordRow> recs;
  for (std::uint32_t i = 1; !empty && i <= kNtxTableRecords; ++i) {
    char code[16], qty[16], when[16];
    std::snprintf(code, sizeof code, "K%03u", (i * 37) % 101);
    std::snprintf(qty, sizeof qty, "%7.2f", (static_cast<int>(i * 53 % 199) - 99) / 4.0);
    std::snprintf(when, sizeof when, "2024%02u%02u", 1 + i % 12, 1 + i % 28);
    recs.push_back({{code, qty, i % 9 == 0 ? "        " : when, i % 2 ? "T" : "F"}, false});
  }
  std::vector<std::uint8_t> b = sample::build_dbf(layout, recs);
  return std::string(b.begin(), b.end());
}

}  // namespace lum::fuzz
