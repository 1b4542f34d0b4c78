// The report of a dry run of the conversions (lumconv --check). For each conversion of
// the run's plan, in run order, it says whether the run reaches it and, for those it
// reaches: each text file's lines against the staging record length, the records
// imported, what the target holds before the run and the records the run writes, the
// control totals of the target's numeric fields as stored, what the conversion noted
// as it went (the payables whose supplier was not found, the balance records applied
// and those that match no item), and each index the run built, walked against its
// table. The figures of what happened come from the run's record; what the report
// works out itself (line lengths, totals, index walks) is read back from the scratch
// copies with readers of the layers that own the formats. The frame's verdict follows:
// how the real run would end and what it would have changed.
#pragma once

#include <string>

#include "frame/check.h"

namespace lum {

std::string conversions_check_report(const CheckOutcome& outcome);

}  // namespace lum
