// Text import and export by name: __DBSDF chooses the direction, __DBAPP appends the
// records of another file, read through a transfer driver ("SDF" for fixed-width text)
// in a temporary work area, to the table of the current work area. SDF_CHECK_OPEN lets a
// caller make sure a text file can be opened before it empties anything.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "import/sdf_reader.h"
#include "runtime/value.h"

namespace lum {

// A condition of the scope, evaluated with the source area selected; a logical true
// passes. An empty function counts as absent.
using CodeBlock = std::function<Value()>;

// Registers the "SDF" driver with the work-area table (done by __DBAPP when missing).
void register_sdf_driver();

// cmd::DBSDF(lExport, cFile, aFields, bFor, bWhile, nNext, nRecord, lRest, nConnection):
// lExport false: cmd::DBAPP(..., "SDF", nConnection); true: __DBCOPY with the same
// arguments and driver "SDF". The conversions call cmd::DBSDF(false, file) only.
namespace cmd {
bool DBSDF(bool export_records, const Value& file, const Value& fields = {},
           const CodeBlock& for_block = {}, const CodeBlock& while_block = {},
           const Value& next = {}, const Value& record = {}, const Value& rest = {},
           const Value& connection = {});
}  // namespace cmd

// cmd::DBAPP(cFile, aFields, bFor, bWhile, nNext, nRecord, lRest, cDriver, ...): appends to
// the current work area the records of cFile read through driver cDriver. An empty
// field list (or a non-array) means every field; arguments of the wrong kind count as
// absent. True when every step succeeded. No current table: "Workarea not in use"
// (DBCMD 2001); unknown driver or no file name: "Argument error" (DBCMD 1005); no free
// work area for the text: "Argument error" (DBCMD 1015); a text file that cannot be
// opened: "Open error" (SDF 1001, retry, default), nothing appended.
// Afterwards the current work area and its number are as before.
namespace cmd {
bool DBAPP(const Value& file, const Value& fields = {}, const CodeBlock& for_block = {},
           const CodeBlock& while_block = {}, const Value& next = {}, const Value& record = {},
           const Value& rest = {}, const Value& driver = {}, const Value& connection = {},
           const Value& codepage = {}, const Value& delimiter = {});
}  // namespace cmd

// __DBCOPY for the "SDF" driver: writes the records of the current table within the
// scope to a fixed-width text file (".txt" added as for the import), each field at its
// text width in field order, each record followed by the line end, the file ended by
// 0x1A. True when every record was written.
namespace cmd {
bool DBCOPY(const Value& file, const Value& fields = {}, const CodeBlock& for_block = {},
            const CodeBlock& while_block = {}, const Value& next = {}, const Value& record = {},
            const Value& rest = {}, const Value& driver = {}, const Value& connection = {},
            const Value& codepage = {}, const Value& delimiter = {});
}  // namespace cmd

// One text import of the run: the file, the table it filled (its file name as opened)
// and how the file's lines compared with the record length of that table's text.
struct ImportRecord {
  std::string text_file;
  std::string table;
  std::size_t record_length = 0;
  LineTally lines;
};

// Every import the current runtime ran (__DBAPP through the text driver), in order,
// whether or not it succeeded; empty before the first.
const std::vector<ImportRecord>& import_journal();

// Makes sure the text file that __DBSDF would import under this name can be opened,
// with the same name rules (".txt" added) and the same "Open error" (subsystem "SDF",
// generic 21, sub-code 1001, the file name, the OS code, retry and default), opening
// again for as long as the handler answers retry. True when it can be opened; the file
// is closed again either way. Without `allow_default` the error offers retry only.
bool SDF_CHECK_OPEN(std::string_view file, bool allow_default = true);

}  // namespace lum
