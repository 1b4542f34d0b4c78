// An index file checked against the table it indexes, for a report: the tree walked in
// key order by the index engine's own cursor, every entry against the table read
// straight from its file.
#pragma once

#include <string>
#include <string_view>

namespace lum {

// Whether the index holds exactly one key for every record of the table, in order,
// each its record's field bytes: "6 keys on CODE: one for every record, in order, each
// its record's value (verified)", or the faults found ("FAULT: 1 key out of order; ..."),
// "not there", or why it cannot be walked. The key must name a field of the table.
// Reads only: both files are opened shared and nothing is written.
std::string index_verification(std::string_view ntx_file, std::string_view table);

}  // namespace lum
