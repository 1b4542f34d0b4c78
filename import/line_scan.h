// The lines of an exported text file measured against the record a staging table
// expects, without importing them: what a report says about a text before or beside
// its import.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "import/sdf_reader.h"
#include "table/dbf_format.h"

namespace lum {

// Counts the lines of the text file of that name into `tally`, each against
// `record_length`: the bytes before each CR LF, and after the last one when any are
// left; a final 0x1A is no part of the text. False when the file cannot be read, or when
// a stop request is pending (the scan ends where it sees it).
bool scan_lines(std::string_view name, std::uint64_t record_length, LineTally& tally);

// The length of a text record for a table of these fields, as the import lays it out.
std::uint64_t text_record_length(const std::vector<dbf::Field>& fields);

}  // namespace lum
