#include "app/script.h"

#include "app/main_run.h"
#include "console/output.h"
#include "console/picture.h"
#include "frame/account.h"
#include "frame/run_record.h"
#include "import/sdf.h"
#include "index/index_commands.h"
#include "platform/file.h"
#include "platform/text.h"
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

namespace {

void open_as_planned(const TableOpen& t) {
  DBUSEAREA(t.new_area, Value(), t.name, t.given_alias ? Value(t.given_alias) : Value(),
            t.exclusive_stated ? Value::logical(false) : Value());
}

// The key of an index as its block reads it: the field the key expression names, read
// bare (the name in upper case, as the program spells its fields).
Value create_index(const IndexBuild& ix, bool with_key) {
  const std::string name = ascii_upper(ix.key);
  Var key(name.c_str());
  if (!with_key) return DBCREATEINDEX(ix.file, ix.key, {});
  return DBCREATEINDEX(ix.file, ix.key, [&] { return key.value(); });
}

// What the conversion does first with the area of `t`, which is empty: it meets the
// error that this use meets there.
void first_use(const ConversionPlan& plan, const TableOpen& t) {
  switch (t.first_use) {
    case FirstUse::kZap:
      cmd::DBZAP();
      break;
    case FirstUse::kFieldWidth:
      LEN(Var(t.field).value());
      break;
    case FirstUse::kIndex:
      create_index(plan.index_on(t.alias), false);
      break;
  }
}

// Makes sure a text file that the conversion will import can be opened, raising the
// import's own open error before anything is emptied (retry tests again).
void require_text(const char* file) {
  if (SDF_CHECK_OPEN(file)) return;
  // The handler gave up with a default, as it does by itself for a text held by another
  // program (NETERR). Going on would empty the conversion's tables and import nothing,
  // and the run would end as if all had gone well: the text opens now, or the run ends
  // with the open's error, which this time offers no default.
  SDF_CHECK_OPEN(file, false);
}

}  // namespace

bool prove_files(const ConversionPlan& plan, std::source_location at) {
  record_line(at);
  for (const TextImport& text : plan.texts) require_text(text.text);
  const TableOpen* gave_up = nullptr;
  for (const TableOpen& t : plan.tables) {
    if (!probe_table_open(Value(), t.name, t.exclusive_stated ? Value::logical(false) : Value())) {
      gave_up = &t;
      break;
    }
  }
  if (gave_up == nullptr) return true;
  // The work areas as the conversion would have them when this open gave up.
  const bool neterr = NETERR();
  for (const TableOpen* t = plan.tables.data(); t != gave_up; ++t) {
    if (!t->closed_before_later) open_as_planned(*t);
  }
  if (gave_up->new_area) DBSELECTAREA(Value::int32(0));  // the lowest free area
  NETERR(neterr);
  first_use(plan, *gave_up);
  closing_sequence();
  run_record().give_up("stopped before changing anything: " +
                       operator_file_name(resolve_name(table_file(plan.table(plan.target))).path) +
                       " keeps the records it had");
  return false;
}

void open_table(const ConversionPlan& plan, const char* alias, std::source_location at) {
  record_line(at);
  open_as_planned(plan.table(alias));
}

void append_text(const ConversionPlan& plan, const char* staging, std::source_location at) {
  record_line(at);
  const char* file = plan.text_for(staging).text;
  NETERR(false);
  if (cmd::DBSDF(false, file, Value::array({})) || !NETERR()) return;
  // The text's open was settled unasked, as held by another program: nothing was
  // appended, and the conversion would go on over an empty staging table as if the text
  // were empty. The text opens now and is appended, or the run ends with the open's
  // error, which this time offers no default.
  if (SDF_CHECK_OPEN(file, false)) cmd::DBSDF(false, file, Value::array({}));
}

void import_text(const ConversionPlan& plan, const char* staging, std::source_location at) {
  record_line(at);
  cmd::DBZAP();
  append_text(plan, staging, at);
  DBGOTOP();
}

void build_index(const ConversionPlan& plan, const char* alias, std::source_location at) {
  record_line(at);
  create_index(plan.index_on(alias), true);
}

}  // namespace lum::script
