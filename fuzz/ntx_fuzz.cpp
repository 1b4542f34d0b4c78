// Fuzz target for the index reader: any byte string is opened as the index of a small
// valid table, walked top to bottom, sought with a few keys of every kind, walked
// backwards, and then one record's key is changed and one record appended, so that the
// tree is updated as well. A damaged header or page must end in "Corruption detected"
// or "Read error" (or, for a key expression that names no field, the syntax error of a
// key this engine cannot evaluate); no walk may visit more entries than the file has
// room for, and every record the walk lands on is a record of the table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/ntx_table.h"
#include "index/index_commands.h"
#include "table/dbcmd.h"
#include "table/names.h"
#include "table/workareas.h"

namespace {

using namespace lum;

// The walk of the current area in one direction; aborts when it takes more steps than
// the index file could hold entries.
void walk(std::int64_t dir, std::uint64_t bound) {
  if (dir > 0) {
    DBGOTOP();
  } else {
    DBGOBOTTOM();
  }
  for (std::uint64_t steps = 0; !DBEOF() && !DBBOF(); ++steps) {
    fuzz::check(steps <= bound, "a walk visits more entries than the file holds");
    fuzz::check(RECNO() >= 1 && RECNO() <= LASTREC(), "a walk lands outside the table");
    DBSKIP(dir);
  }
}

// A new value of the kind a field holds.
Value new_value(char type) {
  switch (type) {
    case 'N':
      return Value::dbl(12.5, 4, 2);
    case 'D':
      return Value::date(2460400);
    case 'L':
      return Value::logical(false);
    default:
      return Value("K999");
  }
}

void exercise(std::size_t index_size) {
  if (!DBUSEAREA(true, {}, Value(fuzz::scratch("t.dbf")))) return;
  auto* area = dynamic_cast<NtxArea*>(WorkAreas::get().current());
  fuzz::check(area != nullptr, "the table did not open with the index driver");
  if (!area->open_order(fuzz::scratch("t.ntx"))) return;
  // The most keys a page holds (K = 1) times the blocks of the file.
  const std::uint64_t bound = (index_size / 1024 + 1) * 90;
  walk(1, bound);
  for (const Value& key : {Value("K0"), Value("K050"), Value("ZZZ"), Value(""), Value(5),
                           Value::dbl(-3.25, 4, 2), Value::date(2460341), Value::logical(true)}) {
    for (bool soft : {false, true}) {
      DBSEEK(key, Value::logical(soft), Value::logical(!soft));
      DBSEEK(key, Value::logical(soft), Value::logical(soft));
    }
  }
  walk(-1, bound);
  // The key of record 7 changes (its entry moves), and a new record's key goes in.
  DBGOTO(7);
  const int key_field = area->field_index(area->key_text());
  field_put(area->key_text(), new_value(area->field(key_field).type));
  DBGOTO(8);
  DBAPPEND();
  field_put("CODE", Value("K050"));
  DBCOMMIT();
  walk(1, bound + 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string table = fuzz::ntx_table_bytes();
  fuzz::write_file(fuzz::scratch("t.dbf"), table);
  fuzz::write_file(fuzz::scratch("t.ntx"),
                   std::string_view(reinterpret_cast<const char*>(data), size));
  fuzz::Run run({{kErrCorruption, 1012}, {kErrRead, 1010}, {kErrSyntax, 0}});
  register_ntx_driver();
  try {
    exercise(size);
  } catch (const fuzz::Break&) {
  }
  try {
    DBCLOSEALL();
  } catch (const fuzz::Break&) {
  }
  return 0;
}
