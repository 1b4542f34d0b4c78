#include "app/script.h"

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

void import_text(const char* file, std::source_location at) {
  record_line(at);
  __DBZAP();
  __DBSDF(false, file, Value::array({}));
  DBGOTOP();
}

}  // namespace lum::script
