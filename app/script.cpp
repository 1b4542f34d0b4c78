#include "app/script.h"

#include "app/main_run.h"
#include "console/output.h"
#include "console/picture.h"
#include "import/sdf.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum::script {

namespace {
void record_line(const std::source_location& at) {
  Runtime::current().set_line(static_cast<int>(at.line()));
}
}  // namespace

void show_counter(Var& a, int row, int col, std::source_location at) {
  // The top of a pass through a conversion's loop is a record boundary: a stop request
  // ends the run here, before the next record is looked at.
  Runtime::current().poll_interrupt();
  record_line(at);
  set_position(row, col);  // DEVPOS(row, col)
  Value n = a.value();
  increment(n);
  a = n;
  if (n.is_number()) {
    devout_count(n.num());
  } else {
    DEVOUTPICT(n, "@E 999,999");
  }
}

void start_counter(Var& a, int row, const char* label, std::source_location at) {
  record_line(at);
  a = 0;
  DEVPOS(row, 10);
  DEVOUT(label);
}

Value operator+(const Value& a, const Value& b) { return add(a, b); }
Value plus_computed(Value&& a, const Value& b) {
  // add() joins two texts with concat; other kinds go through it as they are.
  if (a.is_string() && b.is_string()) return concat(std::move(a), b);
  return add(a, b);
}
Value operator-(const Value& a, const Value& b) { return subtract(a, b); }
bool EQ(const Value& a, const Value& b) { return compare_eq(a, b); }
bool NE(const Value& a, const Value& b) { return compare_ne(a, b); }
bool GT(const Value& a, const Value& b) { return compare_gt(a, b); }

Value day_month_year(const Value& digits) {
  if (!digits.is_string()) {
    // The expression itself, for the errors its steps raise.
    return SUBSTR(digits, 1, 2) + "/" + SUBSTR(digits, 3, 2) + "/" + SUBSTR(digits, 5, 4);
  }
  // The same text built at once: each SUBSTR takes what the text has from its start on,
  // nothing when the text ends before.
  const std::string_view d = digits.str();
  auto part = [&](std::size_t from, std::size_t n) {
    return from < d.size() ? d.substr(from, n) : std::string_view();
  };
  std::string out;
  out.reserve(10);
  out.append(part(0, 2)).append("/").append(part(2, 2)).append("/").append(part(4, 4));
  return Value::string(std::move(out));
}

void open_table(bool new_area, const char* name, const char* alias, bool exclusive_stated,
                std::source_location at) {
  record_line(at);
  DBUSEAREA(new_area, Value(), name, alias ? Value(alias) : Value(),
            exclusive_stated ? Value::logical(false) : Value());
}

void require_text(const char* file, std::source_location at) {
  record_line(at);
  if (SDF_CHECK_OPEN(file)) return;
  // The handler gave up with a default, as it does by itself for a text held by another
  // program (NETERR). Going on would empty the conversion's tables and import nothing,
  // and the run would end as if all had gone well: the text opens now, or the run ends
  // with the open's error, which this time offers no default.
  SDF_CHECK_OPEN(file, false);
}

bool require_tables(std::initializer_list<TableOpen> tables, std::source_location at) {
  record_line(at);
  const TableOpen* gave_up = nullptr;
  for (const TableOpen& t : tables) {
    if (!probe_table_open(Value(), t.name, t.exclusive_stated ? Value::logical(false) : Value())) {
      gave_up = &t;
      break;
    }
  }
  if (gave_up == nullptr) return true;
  // The work areas as the conversion would have them when this open gave up.
  const bool neterr = NETERR();
  for (const TableOpen* t = tables.begin(); t != gave_up; ++t) {
    if (!t->closed_before_later)
      open_table(t->new_area, t->name, t->alias, t->exclusive_stated, at);
  }
  if (gave_up->new_area) DBSELECTAREA(Value::int32(0));  // the lowest free area
  NETERR(neterr);
  record_line(at);
  if (gave_up->first_use != nullptr) {
    gave_up->first_use();
  } else {
    __DBZAP();
  }
  closing_sequence();
  return false;
}

void append_text(const char* file, std::source_location at) {
  record_line(at);
  NETERR(false);
  if (__DBSDF(false, file, Value::array({})) || !NETERR()) return;
  // The text's open was settled unasked, as held by another program: nothing was
  // appended, and the conversion would go on over an empty staging table as if the text
  // were empty. The text opens now and is appended, or the run ends with the open's
  // error, which this time offers no default.
  if (SDF_CHECK_OPEN(file, false)) __DBSDF(false, file, Value::array({}));
}

void import_text(const char* file, std::source_location at) {
  record_line(at);
  __DBZAP();
  append_text(file, at);
  DBGOTOP();
}

}  // namespace lum::script
