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
  record_line(at);
  DEVPOS(row, col);
  Value n = a.value();
  increment(n);
  a = n;
  DEVOUTPICT(n, "@E 999,999");
}

void start_counter(Var& a, int row, const char* label, std::source_location at) {
  record_line(at);
  a = 0;
  DEVPOS(row, 10);
  DEVOUT(label);
}

Value operator+(const Value& a, const Value& b) { return add(a, b); }
Value operator-(const Value& a, const Value& b) { return subtract(a, b); }
bool EQ(const Value& a, const Value& b) { return compare_eq(a, b); }
bool NE(const Value& a, const Value& b) { return compare_ne(a, b); }
bool GT(const Value& a, const Value& b) { return compare_gt(a, b); }

Value day_month_year(const Value& digits) {
  return SUBSTR(digits, 1, 2) + "/" + SUBSTR(digits, 3, 2) + "/" + SUBSTR(digits, 5, 4);
}

void open_table(bool new_area, const char* name, const char* alias, bool exclusive_stated,
                std::source_location at) {
  record_line(at);
  DBUSEAREA(new_area, Value(), name, alias ? Value(alias) : Value(),
            exclusive_stated ? Value::logical(false) : Value());
}

void require_text(const char* file, std::source_location at) {
  record_line(at);
  SDF_CHECK_OPEN(file);
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

void import_text(const char* file, std::source_location at) {
  record_line(at);
  __DBZAP();
  __DBSDF(false, file, Value::array({}));
  DBGOTOP();
}

}  // namespace lum::script
