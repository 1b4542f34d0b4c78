// The conversions' vocabulary: aliased fields and expressions through an alias resolved
// once, which must follow tables that are closed, reopened or replaced; errors raised
// inside aliased access, with their area and line; names and memory variables resolved
// once, which must follow variables that are created and call levels that end.
#include "app/script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table/dbcmd.h"
#include "tests/table/table_fixture.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum::test {
namespace {

using namespace lum::script;
using sample::write_dbf;

class Script : public TableTest {
 protected:
  void SetUp() override {
    write_dbf(path("clientes.dbf"), standard_layout(), standard_records(2));
    write_dbf(path("other.dbf"), standard_layout(), standard_records(1));
    DbfLayout staging;
    staging.fields = {{"CPF_CLI", 'C', 11}, {"NOME", 'C', 8}};
    write_dbf(path("cbCli.dbf"), staging, {{{"12345678901", "STAGING"}}});
    write_dbf(path("filler.dbf"), staging, {});
    open("clientes");
    open("cbCli");
    DBSELECTAREA("clientes");
  }
  static void open(const char* name, const char* alias = nullptr, bool new_area = true) {
    ASSERT_TRUE(DBUSEAREA(Value::logical(new_area), {}, name, alias ? Value(alias) : Value()));
    DBGOTOP();
  }
};

TEST_F(Script, AnAliasResolvedOnceFollowsTablesThatComeAndGo) {
  const Alias cb("cbcli");
  AliasedField nome(cb, "NOME");
  AliasedField by_text("CBCLI", "CPF_CLI");
  auto area_of = [&] { return in_area(cb, [] { return Value::int32(SELECT()); }).num().i; };
  EXPECT_EQ("STAGING ", nome.value().str());
  EXPECT_EQ("12345678901", by_text.value().str());
  EXPECT_EQ(2, area_of());
  EXPECT_EQ(1u, SELECT());

  // Closed and opened again under the same alias, now in area 3.
  DBSELECTAREA(Value::int32(2));
  DBCLOSEAREA();
  open("filler");
  open("cbCli");
  DBSELECTAREA("clientes");
  EXPECT_EQ(3, area_of());
  EXPECT_EQ("STAGING ", nome.value().str());

  // Another table in the same area under the same alias: its own field, at its place.
  DBSELECTAREA(Value::int32(3));
  open("other", "CBCLI", false);
  DBSELECTAREA("clientes");
  EXPECT_EQ(3, area_of());
  EXPECT_EQ("NAME 1", nome.value().str().substr(0, 6));
  EXPECT_THROW(by_text.value(), HandlerBreak);  // that table has no CPF_CLI
  EXPECT_EQ(1003, rec_.last().subcode);
  EXPECT_EQ(1u, SELECT());

  // The alias goes away: "Alias does not exist", and the selection stays.
  DBSELECTAREA(Value::int32(3));
  DBCLOSEAREA();
  DBSELECTAREA("clientes");
  rec_.clear();
  EXPECT_THROW(nome.value(), HandlerBreak);
  ASSERT_EQ(1u, rec_.size());
  EXPECT_EQ(kErrNoAlias, rec_.last().gencode);
  EXPECT_EQ(1002, rec_.last().subcode);
  EXPECT_EQ("cbcli", rec_.last().operation);
  EXPECT_EQ(1u, SELECT());

  // Everything closed and opened again in another order.
  DBCLOSEALL();
  open("cbCli");
  open("clientes");
  EXPECT_EQ(1, area_of());
  EXPECT_EQ("STAGING ", nome.value().str());
  EXPECT_EQ(2u, SELECT());
}

TEST_F(Script, ErrorsInsideAliasedAccessKeepTheirObjectAreaAndLine) {
  FrameGuard frame("CVCLI", "cvcli.cpp", 10);
  const Alias cb("CBCLI");
  struct Seen {
    ErrorObject error;
    std::uint32_t area;
  };
  std::vector<Seen> seen;
  bool open_on_retry = false;
  rt_.install_handler([&](ErrorObject& e) -> Value {
    seen.push_back({e, SELECT()});
    if (open_on_retry && e.gencode == kErrNoAlias) {
      open_on_retry = false;
      AreaSelectionGuard keep;
      open("filler", "LATE");
      return Value::logical(true);
    }
    if (e.can_default) return Value::logical(false);
    throw HandlerBreak{};
  });

  // A field the staging table does not have, read through its alias at line 41.
  rt_.set_line(41);
  AliasedField missing(cb, "NOSUCH");
  EXPECT_THROW(missing.value(), HandlerBreak);
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(kErrNoVariable, seen[0].error.gencode);
  EXPECT_EQ(1003, seen[0].error.subcode);
  EXPECT_EQ("BASE", seen[0].error.subsystem);
  EXPECT_EQ("NOSUCH", seen[0].error.operation);
  EXPECT_EQ(kCanRetry, seen[0].error.flags());
  EXPECT_EQ("CVCLI", seen[0].error.procname);
  EXPECT_EQ(41, seen[0].error.procline);
  EXPECT_EQ(2u, seen[0].area) << "raised with the alias's area selected";
  EXPECT_EQ(1u, SELECT()) << "and the previous one selected again";

  // A store that fails inside alias->(...): the error of the store, in that area.
  seen.clear();
  rt_.set_line(42);
  Field cpf("CPF_CLI");
  in_area(cb, [&] {
    cpf = Value::int32(5);
    return Value();
  });
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(kErrDataType, seen[0].error.gencode);
  EXPECT_EQ("CPF_CLI", seen[0].error.operation);
  EXPECT_EQ(42, seen[0].error.procline);
  EXPECT_EQ(2u, seen[0].area);
  EXPECT_EQ(1u, SELECT());

  // An alias that exists only after the handler opened its table: the retry looks it
  // up again and reads there.
  seen.clear();
  open_on_retry = true;
  AliasedField late("LATE", "NOME");
  EXPECT_EQ("        ", late.value().str()) << "the empty table's blank field";
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(kErrNoAlias, seen[0].error.gencode);
  EXPECT_EQ(1u, seen[0].area);
  EXPECT_EQ(1u, SELECT());
}

TEST_F(Script, NamesFollowNewVariablesAndCallLevelsThatEnd) {
  FrameGuard outer("CVCLI", "cvcli.cpp", 1);
  Var nome("NOME"), va("VA"), vb("VB"), vtemp("VTEMP");
  DBSELECTAREA("clientes");
  EXPECT_EQ("NAME 1", nome.value().str().substr(0, 6)) << "the current table's field";
  nome = "VARIABLE";  // a plain assignment makes a variable, never a field write
  DBSELECTAREA(Value::int32(5));
  EXPECT_EQ("VARIABLE", nome.value().str()) << "no table here: the variable";
  DBSELECTAREA("clientes");
  EXPECT_EQ("NAME 1", nome.value().str().substr(0, 6));

  // A variable made from another's value while the list of variables grows.
  const std::string text(100, 'x');
  va = text;
  vb = va;
  std::vector<Var> many;
  many.reserve(200);
  for (int i = 0; i < 200; ++i) {
    many.emplace_back(("V" + std::to_string(i)).c_str());
    many.back() = va;
  }
  EXPECT_EQ(text, vb.value().str());
  EXPECT_EQ(text, many.back().value().str());
  EXPECT_EQ(text, va.value().str());

  // A variable of a call level that ended is gone, also for a name that found it.
  {
    FrameGuard inner("INNER", "inner.cpp", 1);
    vtemp = "INNER";
    EXPECT_EQ("INNER", vtemp.value().str());
  }
  EXPECT_THROW(vtemp.value(), HandlerBreak);
  EXPECT_EQ(kErrNoVariable, rec_.last().gencode);
  EXPECT_EQ("VTEMP", rec_.last().operation);
  vtemp = "OUTER";
  EXPECT_EQ("OUTER", vtemp.value().str());
}

// What a value shows: its kind letter and its text or number.
std::string shown(const Value& v) {
  std::string out(1, kind_letter(v));
  if (v.is_string()) out += ":" + v.str();
  if (v.is_number()) out += ":" + std::to_string(v.num().as_double());
  if (v.is_date()) out += ":" + std::to_string(v.day());
  return out;
}

// A field assigned from an aliased field stores what assigning the field's value stores,
// errors included: texts cut and padded, a text into a number field, a field of the same
// record, a record not yet read and one read before.
TEST_F(Script, FieldCopiedFromAnAliasStoresWhatItsValueStores) {
  const Alias cb("CBCLI"), own("CLIENTES");
  struct Case {
    const char* target;
    const Alias* alias;
    const char* source;
  } cases[] = {
      {"NOME", &cb, "NOME"},     {"CODIGO", &cb, "CPF_CLI"}, {"VALOR", &cb, "NOME"},
      {"NOME", &own, "CODIGO"}, {"CODIGO", &own, "NOME"},   {"NOME", &own, "NOME"},
  };
  for (const Case& c : cases) {
    for (bool source_read : {false, true}) {
      Field target(c.target);
      AliasedField source(*c.alias, c.source);
      std::string stored[2];
      std::size_t errors[2];
      for (int by_value = 0; by_value < 2; ++by_value) {
        alias_eval(cb, [] { DBGOTOP(); });
        DBGOTO(1);
        field_put("NOME", Value("before"));
        field_put("CODIGO", Value("ab"));
        if (source_read) (void)source.value();
        rec_.clear();
        if (by_value == 1) {
          target = source.value();
        } else {
          target = source;
        }
        errors[by_value] = rec_.size();
        stored[by_value] = shown(target.value());
      }
      EXPECT_EQ(stored[1], stored[0]) << c.target << " := " << c.source << " " << source_read;
      EXPECT_EQ(errors[1], errors[0]) << c.target << " := " << c.source;
    }
  }
  // A text written in the program, the same way.
  for (const char* target_name : {"NOME", "CODIGO", "VALOR"}) {
    Field target(target_name);
    rec_.clear();
    target = "a text longer than any field";
    const std::string by_text = shown(target.value());
    const std::size_t errors = rec_.size();
    target = Value("x");
    rec_.clear();
    target = Value("a text longer than any field");
    EXPECT_EQ(shown(target.value()), by_text) << target_name;
    EXPECT_EQ(rec_.size(), errors) << target_name;
  }
}

TEST_F(Script, ShortcutsGiveWhatTheirExpressionsGive) {
  // day_month_year builds at once what its SUBSTR expression builds, for every length.
  for (const char* d : {"", "1", "12", "123", "12345", "1234567", "31122024", "123456789"}) {
    const Value digits(d);
    const Value expected = add(add(add(add(SUBSTR(digits, 1, 2), "/"), SUBSTR(digits, 3, 2)), "/"),
                               SUBSTR(digits, 5, 4));
    EXPECT_EQ(shown(expected), shown(day_month_year(digits))) << d;
  }
  // + on a value computed just before appends to its text; other kinds are added as
  // add() adds them, errors included.
  struct Case {
    Value a, b;
  } cases[] = {
      {Value("ab"), Value("cd")},          {Value(""), Value("x")},
      {Value::int32(1), Value::int32(2)},  {Value::dbl(1.5, 10, 1), Value::int32(2)},
      {Value::date(100), Value::int32(5)}, {Value("x"), Value::int32(5)},
      {Value::int32(5), Value("x")},
  };
  for (const Case& c : cases) {
    rec_.clear();
    const std::string expected = shown(add(c.a, c.b));
    const std::size_t expected_errors = rec_.size();
    Value computed = c.a;
    EXPECT_EQ(expected, shown(std::move(computed) + c.b)) << shown(c.a) << " + " << shown(c.b);
    EXPECT_EQ(2 * expected_errors, rec_.size());
  }
  Var va("VA");
  va = "one";
  EXPECT_EQ("one two three", (va + Value(" two") + Value(" three")).str());
  EXPECT_EQ("one", va.value().str()) << "a name is never appended to";
}

}  // namespace
}  // namespace lum::test
