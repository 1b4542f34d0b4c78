// Names without an alias, aliased access and evaluation, field positions cached per
// table, and the name type probe TYPE.
#include "table/names.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "table/type_probe.h"
#include "tests/table/table_fixture.h"
#include "values/dates.h"

namespace lum::test {

using sample::DbfLayout;
using sample::MemoFile;
using sample::write_dbf;
namespace {

class Names : public TableTest {
 protected:
  void SetUp() override {
    write_dbf(path("clientes.dbf"), standard_layout(), standard_records(2));
    DbfLayout staging;
    staging.fields = {{"CPF_CLI", 'C', 11}, {"NOME", 'C', 8}, {"OBS", 'M', 10}};
    staging.version = 0x83;
    staging.memo = MemoFile::Dbt;
    write_dbf(path("cbCli.dbf"), staging, {{{"12345678901", "STAGING"}}});
    ASSERT_TRUE(DBUSEAREA(true, {}, "clientes"));
    ASSERT_TRUE(DBUSEAREA(true, {}, "cbCli"));
    DBSELECTAREA("clientes");
  }
};

TEST_F(Names, ABareNameIsTheFieldElseTheVariable) {
  FrameGuard frame("CVCLI", "test");
  DBGOTOP();
  EXPECT_EQ("NAME 1", name_get("nome").str().substr(0, 6));
  name_assign("NOME", "VARIABLE");  // a plain assignment never writes the field
  name_assign("VARONLY", "VARIABLE");
  EXPECT_EQ("NAME 1", name_get("NOME").str().substr(0, 6));
  EXPECT_EQ("VARIABLE", rt_.find_memvar("nome")->str());
  EXPECT_EQ("VARIABLE", alias_eval("cbcli", [] { return name_get("VARONLY"); }).str());
  EXPECT_EQ("STAGING ", alias_eval("CBCLI", [] { return name_get("NOME"); }).str());
  name_assign("VCPF", "123");
  EXPECT_EQ("123", name_get("vcpf").str());
  EXPECT_EQ("12345678901", alias_eval("cbcli", [] { return name_get("CPF_CLI"); }).str());
  EXPECT_EQ(1u, SELECT());
}

TEST_F(Names, UnknownNamesRaiseVariableDoesNotExist) {
  // The handler creates the variable and retries: the second search finds it.
  rt_.install_handler([&](ErrorObject& e) {
    EXPECT_EQ(kErrNoVariable, e.gencode);
    EXPECT_EQ(1003, e.subcode);
    EXPECT_EQ("BASE", e.subsystem);
    EXPECT_EQ("VNADA", e.operation);
    EXPECT_EQ(kCanRetry, e.flags());
    rt_.assign_memvar("VNADA", Value::int32(7));
    return Value::logical(true);
  });
  EXPECT_EQ(7, name_get("VNADA").num().i);
  ErrorRecorder rec(rt_, 0, ErrorRecorder::OnBreak::Throw);
  EXPECT_THROW(field_get("VNADA"), HandlerBreak);  // a variable is no field
  EXPECT_THROW(field_put("NOSUCH", "x"), HandlerBreak);
  EXPECT_EQ("NOSUCH", rec.last().operation);
  EXPECT_EQ(1003, rec.last().subcode);
  EXPECT_THROW(alias_field_get("nowhere", "NOME"), HandlerBreak);
  EXPECT_EQ(kErrNoAlias, rec.last().gencode);
  EXPECT_EQ(1002, rec.last().subcode);
  EXPECT_EQ("nowhere", rec.last().operation);
  DBSELECTAREA(Value::int32(9));
  EXPECT_THROW(field_get("NOME"), HandlerBreak);  // no table in the area
  EXPECT_EQ(1003, rec.last().subcode);
}

TEST_F(Names, FieldAssignmentTargetsTheCurrentArea) {
  DBGOTOP();
  EXPECT_TRUE(field_put("NOME", "CHANGED"));
  EXPECT_TRUE(alias_field_put("CBCLI", "NOME", "ALIASED"));
  EXPECT_EQ(1u, SELECT());
  EXPECT_EQ("CHANGED", name_get("NOME").str().substr(0, 7));
  EXPECT_EQ("ALIASED ", alias_field_get("cbcli", "NOME").str());
  EXPECT_EQ(rt_.find_memvar("NOME"), nullptr);
}

TEST_F(Names, AliasedEvaluationRestoresTheSelectionWhateverHappens) {
  DBSELECTAREA(Value::int32(5));
  int inside = 0;
  alias_eval("clientes", [&] { inside = static_cast<int>(SELECT()); });
  EXPECT_EQ(1, inside);
  EXPECT_EQ(5u, SELECT());
  EXPECT_THROW(alias_eval("cbcli",
                          [&]() -> int {
                            inside = static_cast<int>(SELECT());
                            throw std::runtime_error("boom");
                          }),
               std::runtime_error);
  EXPECT_EQ(2, inside);
  EXPECT_EQ(5u, SELECT());
  // A nested evaluation restores each level.
  alias_eval("cbcli", [&] {
    alias_eval("clientes", [&] { DBGOTOP(); });
    inside = static_cast<int>(SELECT());
  });
  EXPECT_EQ(2, inside);
  EXPECT_EQ(5u, SELECT());
  EXPECT_EQ(2u, alias_eval("clientes", [] { return LASTREC(); }));
}

TEST_F(Names, FieldRefResolvesOncePerTable) {
  FieldRef nome("NOME");
  FieldRef cpf("CPF_CLI");
  DBGOTOP();
  EXPECT_EQ("NAME 1", nome.get().str().substr(0, 6));
  DBSELECTAREA("cbcli");
  EXPECT_EQ("STAGING ", nome.get().str());  // another table: found again at its place
  EXPECT_EQ("12345678901", cpf.get().str());
  EXPECT_TRUE(nome.put("REF"));
  EXPECT_EQ("REF     ", field_get("NOME").str());
  // The same area number now holding another table re-resolves too.
  write_dbf(path("other.dbf"), standard_layout(), standard_records(1));
  ASSERT_TRUE(DBUSEAREA(false, {}, "other", "AGAIN"));
  DBGOTOP();
  EXPECT_EQ("NAME 1", nome.get().str().substr(0, 6));
  ErrorRecorder rec(rt_, 0, ErrorRecorder::OnBreak::Throw);
  EXPECT_THROW(cpf.get(), HandlerBreak);
  name_assign("CPF_CLI", "VAR");
  EXPECT_EQ("VAR", cpf.get_name().str());
}

TEST_F(Names, TypeOfNames) {
  FrameGuard frame("CVPROD", "test");
  name_assign("A", Value::int32(3));
  name_assign("VNIL", Value());
  name_assign("VDATE", Value::date(date_encode(2024, 1, 1)));
  struct Case {
    const char* text;
    const char* type;
  } cases[] = {
      {"CODIGO", "C"},
      {"valor", "N"},
      {"QTD", "N"},
      {"DATA", "D"},
      {"ATIVO", "L"},
      {" nome ", "C"},
      {"LOCALIZA", "U"},
      {"CPF_CLI", "U"},
      {"A", "N"},
      {"VNIL", "U"},
      {"VDATE", "D"},
      {"cbcli->OBS", "M"},
      {"CBCLI->CPF_CLI", "C"},
      {"cbcli->nada", "U"},
      {"NOALIAS->X", "UE"},
      {"FIELD->VALOR", "N"},
      {"M->A", "N"},
      {"M->CODIGO", "U"},
      {"123", "N"},
      {"1.5", "N"},
      {"'x'", "C"},
      {"\"x\"", "C"},
      {".t.", "L"},
      {"NIL", "U"},
      {"{|| 1}", "B"},
      {"", "UE"},
      {"1 +", "UE"},
      {"MYFUNC(1)", "UE"},
  };
  for (const Case& c : cases) {
    Value t = TYPE(c.text);
    ASSERT_TRUE(t.is_string()) << c.text;
    EXPECT_EQ(c.type, t.str()) << c.text;
  }
  DBGOTO(99);  // at end of file the field still has its kind
  EXPECT_EQ("C", TYPE("CODIGO").str());
  EXPECT_EQ("N", TYPE("VALOR", Value::int32(11)).str());
  EXPECT_EQ(1u, SELECT());
  EXPECT_TRUE(rec_.empty());  // no error reached the handler
}

TEST_F(Names, TypeRecordsReadErrorsInsteadOfReportingThem) {
  DBGOTOP();
  set_io_fault_hook([](IoOp op, const std::string&, std::uint64_t, std::size_t, IoFault& f) {
    if (op != IoOp::Read) return false;
    f.allow = 0;
    f.oscode = 5;
    return true;
  });
  Value t = TYPE("CODIGO");
  set_io_fault_hook(nullptr);
  EXPECT_EQ("UE", t.str());
  EXPECT_TRUE(rec_.empty());
  EXPECT_EQ("00001", field_get("CODIGO").str());  // the area works normally afterwards
}

TEST_F(Names, TypeOfANonStringIsAnArgumentError) {
  rt_.install_handler([](ErrorObject& e) {
    EXPECT_EQ(kErrArgument, e.gencode);
    EXPECT_EQ(1121, e.subcode);
    EXPECT_EQ("TYPE", e.operation);
    EXPECT_EQ("BASE", e.subsystem);
    return Value::string("SUB");
  });
  EXPECT_EQ("SUB", TYPE(Value::int32(1)).str());
}

}  // namespace
}  // namespace lum::test
