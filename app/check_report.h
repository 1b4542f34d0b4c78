// The report of a dry run of the conversions (lumconv --check). For each conversion in
// run order it says whether the run reaches it and, for those it reaches, what the run
// left in the scratch copies: each text file's lines against the staging record length,
// the records imported and written, the control totals of the target's numeric fields
// as stored, the payables whose supplier the look-up does not find, the balance records
// applied and those that match no item, and each index the run built, walked page by
// page against its table. Everything is read back from the files the run wrote, with
// readers of its own, never taken from the conversions' own values, so the report can
// catch a fault of the run. The frame's verdict follows: how the real run would end and
// what it would have changed.
#pragma once

#include <string>

#include "frame/check.h"

namespace lum {

std::string conversions_check_report(const CheckOutcome& outcome);

// Two of the report's findings on their own, for their tests. An index file walked page
// by page against the table it indexes: every record exactly once, the keys in order,
// each key its record's field bytes; "... (verified)", or the faults found.
std::string index_verification(const std::string& ntx_file, const std::string& table);
// The control totals of a table's numeric fields as stored ("VALOR 10.25, QTD 3"), with
// the values that are not numbers (asterisks after a width error) counted apart.
std::string control_totals(const std::string& table);

}  // namespace lum
