// Control totals of a table: the exact sums of its numeric fields as they are stored,
// beyond the range of any machine number, for a report that must not round.
#pragma once

#include <string>
#include <string_view>

namespace lum {

// "VALOR 10.25, QTD 3": each numeric field's total with the field's decimals, the stored
// values that are not numbers (asterisks after a width error) counted apart as "(and 1
// value not a number)"; "no numeric fields"; or why the table cannot be totalled.
std::string control_totals(std::string_view table);

}  // namespace lum
