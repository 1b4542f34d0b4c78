// The index and search commands the conversions call, by their own names: building an
// index (DBCREATEINDEX, ORDCREATE), seeking in it (DBSEEK, FOUND) and the record filter
// (DBSETFILTER). They act on the current work area and raise "DBCMD" errors for bad
// calls; the driver raises its own. Logical arguments are passed as Value::logical.
#pragma once

#include "index/ntx_area.h"
#include "runtime/value.h"

namespace lum {

// Makes "DBFNTX" (the default driver) open tables as NtxArea. Start-up calls it once,
// before the first table is opened.
void register_ntx_driver();

// ORDCREATE(cFile, cOrder, cKeyText, bKey, lUnique): builds the index file and makes it
// the current area's only and controlling order, positioned at its top. Returns NIL.
// No table: "Workarea not in use" (35, 2001); no key text, or neither file nor order
// name: "Argument error" (1, 1006). lUnique not logical: the unique setting.
Value ORDCREATE(const Value& file, const Value& order, const Value& key_text, CodeBlock key,
                const Value& unique = {});
// DBCREATEINDEX(cFile, cKeyText, bKey, lUnique, cOrder) = ORDCREATE(cFile, cOrder,
// cKeyText, bKey, lUnique).
Value DBCREATEINDEX(const Value& file, const Value& key_text, CodeBlock key,
                    const Value& unique = {}, const Value& order = {});

// DBSEEK(xKey, lSoftSeek, lLast): seeks in the controlling order and returns the found
// flag. No table: "Workarea not in use" (35, 2001); xKey NIL: "Argument error" (1,
// 1001); no order: the driver's "Workarea not indexed" (36, 1201). lSoftSeek not
// logical: the soft-seek setting; lLast not logical: false.
bool DBSEEK(const Value& key, const Value& soft_seek = {}, const Value& last = {});
// The found flag of the current area; false without a table.
bool FOUND();

// DBSETFILTER(bCondition, cText): replaces the current area's filter by the block and
// its text ("" when the text is not character); an empty block clears the filter. The
// record pointer does not move. No table: "Workarea not in use" (35, 2001).
void DBSETFILTER(CodeBlock condition, const Value& text = {});

}  // namespace lum
