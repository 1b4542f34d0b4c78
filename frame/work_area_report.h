// What the frame needs from the table engine: the open work areas as the error log
// describes them, the selected area, and the closing of every table at the end of the
// run or before an internal error ends the process.
#pragma once

#include <cstdint>
#include <vector>

#include "table/workareas.h"

namespace lum {

// The occupied work areas in ascending number.
std::vector<AreaSummary> open_work_areas();
// The selected work area's number; 0 when no table engine has started.
std::uint32_t current_work_area();
// Closes every table (DBCLOSEALL): pending records and headers written.
void close_all_tables();
// Writes every table's pending record and header without raising errors, for the
// moments before the process ends with an internal error.
void flush_all_tables() noexcept;

}  // namespace lum
