// The table commands the conversions call, by their own names: opening and closing
// tables in work areas, selecting areas, moving the record pointer, appending, zapping.
// They act on the current work area of the current runtime and raise their errors
// through the error handler ("DBCMD" for the command layer, the driver's name below).
// Logical arguments are passed as Value::logical(...); Value has no conversion from a
// C++ bool, so a bool cannot pass for a number by mistake.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/value.h"
#include "table/area.h"

namespace lum {

// Sub-codes of subsystem "DBCMD": the errors the commands raise themselves, before a
// driver is reached (a driver's own errors carry its name and the codes of
// table/area.h; a failed alias look-up is BASE's, runtime/error.h).
enum DbcmdSubcode : int {
  kSeekWithoutKey = 1001,    // DBSEEK without a key
  kNoFileOrDriver = 1005,    // DBUSEAREA without a file name; APPEND FROM and COPY TO
                             // without one or with a driver they cannot use
  kOrderArgument = 1006,     // ORDCREATE without a key text, or without a file and order name
  kIllegalAlias = 1010,      // an alias that is not a name
  kAliasInUse = 1011,        // an alias an open table already has
  kNoDriverOrArea = 1015,    // DBUSEAREA of an unknown driver, or with every work area taken
  kWorkareaNotInUse = 2001,  // a command on the current area with no table in it
};

// Raises an error of the table commands (subsystem "DBCMD"); the answer is not needed,
// the command fails.
void raise_dbcmd(int gencode, int subcode, std::string operation, int flags);
// The current area's table, or nullptr after raising "Workarea not in use" for
// `operation`.
Area* current_table_for(const char* operation);

// Opens a table (see the argument rules of the open): lNewArea .T. takes the lowest
// free area ("Argument error", DBCMD 1015, when every area is taken), anything else
// reuses the current one. Returns true when the table is open.
bool DBUSEAREA(const Value& new_area, const Value& driver = {}, const Value& name = {},
               const Value& alias = {}, const Value& shared = {}, const Value& read_only = {},
               const Value& codepage = {}, const Value& connection = {});
inline bool DBUSEAREA(bool new_area, const Value& driver = {}, const Value& name = {},
                      const Value& alias = {}, const Value& shared = {},
                      const Value& read_only = {}, const Value& codepage = {},
                      const Value& connection = {}) {
  return DBUSEAREA(Value::logical(new_area), driver, name, alias, shared, read_only, codepage,
                   connection);
}

// Proves that DBUSEAREA with these arguments would open its table, without taking a
// work area: the same driver, name and sharing rules and the same open of the data file
// and its memo file, raising the same errors and retrying as the open retries; then
// closed again with nothing written. Clears NETERR first, as the open does (the handler
// sets it when it settles a file in use). The alias is not checked. True when it opened.
bool probe_table_open(const Value& driver, const Value& name, const Value& shared = {},
                      const Value& read_only = {}, const Value& codepage = {});

// Selects an area by alias text or number ("Alias does not exist" for an unknown alias).
void DBSELECTAREA(const Value& area);
// Closes the current area's table; the current area number stays.
void DBCLOSEAREA();
// Closes every table in ascending area order and selects area 1.
void DBCLOSEALL();

// Record movement of the current area ("Workarea not in use", 2001, without a table).
void DBGOTOP();
void DBGOBOTTOM();
void DBGOTO(std::int64_t recno);
void DBSKIP(std::int64_t n = 1);
// Cursor flags: .T. when the current area has no table.
bool DBEOF();
bool DBBOF();
// The current record number; 0 without a table.
std::uint32_t RECNO();
// The record count; 0 without a table.
std::uint32_t LASTREC();
// The current record's deletion mark; .F. without a table.
bool DELETED();

// Appends a blank record and makes it current. .T. on success.
bool DBAPPEND(bool unlock_all = true);
// Removes every record of an exclusive table (and empties its memo file).
namespace cmd {
bool DBZAP();
}  // namespace cmd
// Writes the current area's pending record and header and flushes it to disk.
void DBCOMMIT();
// Marks the current record deleted.
void DBDELETE();

// The network-error flag of the last open or append.
bool NETERR();
void NETERR(bool value);
// The alias of the current area ("" when empty) and the current area number.
std::string ALIAS();
std::uint32_t SELECT();

}  // namespace lum
