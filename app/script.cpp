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
  SDF_CHECK_OPEN(file);
}

void import_text(const char* file, std::source_location at) {
  record_line(at);
  __DBZAP();
  __DBSDF(false, file, Value::array({}));
  DBGOTOP();
}

}  // namespace lum::script
