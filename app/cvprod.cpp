// CVPROD: rebuilds the item table \lum\firma1\item from prod.txt, then sets each item's
// stock balance, costs and sale price from the type-1 balance records of SALDO.txt,
// found by code through the index "coditem".
#include "app/conversions.h"
#include "app/main_run.h"
#include "app/packed.h"
#include "app/script.h"
#include "console/output.h"
#include "import/sdf.h"
#include "index/index_commands.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/type_probe.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum {

using namespace script;

namespace {
// VAL(LEFT(digits, n) + "." + RIGHT(digits, 3)): a packed slice as a number with three
// decimals.
Value three_decimals(const Value& digits, int integer_digits) {
  return VAL(LEFT(digits, integer_digits) + "." + RIGHT(digits, 3));
}
// Values above one million are taken as garbage and cleared.
void clamp(Var& v) {
  if (GT(v, 1000000)) v = 0;
}
}  // namespace

void CVPROD() {
  FrameGuard frame("CVPROD");
  // Both text files and every table, the balances' included, must open before the item
  // table is emptied.
  const ConversionPlan& plan = plan_of(CVPROD);
  if (!prove_files(plan)) return;

  // First pass: products.
  open_table(plan, "ITEM");
  Var A("A"), XTAM("XTAM"), VCAMPO("VCAMPO"), VDAD("VDAD"), VSAL("VSAL"), VCUST("VCUST"),
      VUCOMPRA("VUCOMPRA"), VVENDA("VVENDA"), VCHAVE("VCHAVE");
  Field CODITEM("CODITEM"), DESCRICAO("DESCRICAO"), DESCNUM("DESCNUM"), TP_PRODUTO("TP_PRODUTO"),
      LOCALIZA("LOCALIZA"), MARCA("MARCA"), GRUPO("GRUPO"), ICMS_EST("ICMS_EST"),
      COD_OBS("COD_OBS"), SALINICIAL("SALINICIAL"), SALATUAL("SALATUAL"), CUSTINICIA("CUSTINICIA"),
      CUSTMEDIO("CUSTMEDIO"), CUSTREPOS("CUSTREPOS"), VENDANORM("VENDANORM"), UNIDADE("UNIDADE");
  XTAM = LEN(CODITEM);
  QOUT(XTAM.value());
  cmd::DBZAP();
  open_table(plan, "CBPROD");
  import_text(plan, "CBPROD");

  const Alias kCbProd("CBPROD");
  AliasedField CBPROD_CODIGO_PRD(kCbProd, "CODIGO_PRD"), CBPROD_LIVRE22(kCbProd, "LIVRE22"),
      CBPROD_DESCRI_PRD(kCbProd, "DESCRI_PRD"), CBPROD_REFER_PRD(kCbProd, "REFER_PRD"),
      CBPROD_UNIDAD_PRD(kCbProd, "UNIDAD_PRD");
  Var LIVRE21("LIVRE21"), LIVRE22("LIVRE22"), OBS_PRD("OBS_PRD"), NOMELV_PRD("NOMELV_PRD");

  RunRecord::Tally& written = noted(kNoteWritten);
  start_counter(A, 10, "Produtos:");
  while (!DBEOF()) {
    show_counter(A, 10, 20);
    DBSELECTAREA("ITEM");
    DBAPPEND();
    written.add();
    CODITEM = STR(VAL(CBPROD_CODIGO_PRD), XTAM);                                        // 1
    if (GT(XTAM, 12) && GT(LEN(ALLTRIM(CBPROD_LIVRE22)), 0)) CODITEM = CBPROD_LIVRE22;  // 2
    DESCRICAO = CBPROD_DESCRI_PRD;                                                      // 3
    DESCNUM = in_area(kCbProd, [&] { return ALLTRIM(LIVRE21) + LIVRE22; });             // 4
    TP_PRODUTO = "1";                                                                   // 5
    if (NE(TYPE("LOCALIZA", 11), "U")) LOCALIZA = CBPROD_REFER_PRD;                     // 6
    if (NE(TYPE("MARCA", 11), "U")) {                                                   // 7
      MARCA =
          in_area(kCbProd, [&] { return ALLTRIM(ALLTRIM(OBS_PRD) + " " + ALLTRIM(NOMELV_PRD)); });
    }
    GRUPO = "01.01.001";  // 8
    ICMS_EST = "001";     // 9
    COD_OBS = "001";      // 10
    SALINICIAL = 0;       // 11
    SALATUAL = 0;
    CUSTINICIA = 0;
    CUSTMEDIO = 0;
    CUSTREPOS = 0;
    VENDANORM = 0;
    UNIDADE = CBPROD_UNIDAD_PRD;  // 12
    DBSELECTAREA("cbPROD");
    DBSKIP();
  }
  in_area(kCbProd, [] {
    DBCLOSEAREA();
    return Value();
  });
  DBSELECTAREA("item");
  build_index(plan, "ITEM");  // on CODITEM

  // Second pass: balances of type 1, in code order.
  open_table(plan, "CBSALDO");
  cmd::DBZAP();
  append_text(plan, "CBSALDO");
  Var CODIGO("CODIGO"), REG("REG"), LIVRE("LIVRE"), LIVRE2("LIVRE2"), LIVRE3("LIVRE3"),
      LIVRE4("LIVRE4"), LIVRE5("LIVRE5");
  build_index(plan, "CBSALDO");  // on CODIGO
  DBSETFILTER([&] { return Value::logical(EQ(VAL(REG), 1)); }, "VAL(REG)=1");
  RunRecord::Tally& applied = noted(kNoteBalanceApplied);
  RunRecord::Tally& unmatched = noted(kNoteBalanceUnmatched);
  A = 0;
  DBGOTOP();
  DEVPOS(11, 10);
  DEVOUT("Saldos:");
  while (!DBEOF()) {
    show_counter(A, 11, 20);
    VCAMPO = LIVRE + LIVRE2 + LIVRE3 + LIVRE4 + LIVRE5;
    VDAD = CONV_HEX(VCAMPO);
    VSAL = SUBSTR(VDAD, 23, 9);
    VCUST = SUBSTR(VDAD, 131, 13);
    VUCOMPRA = SUBSTR(VDAD, 145, 13);
    VVENDA = SUBSTR(VDAD, 75, 13);
    VSAL = three_decimals(VSAL, 6);
    VCUST = three_decimals(VCUST, 10);
    VUCOMPRA = three_decimals(VUCOMPRA, 10);
    VVENDA = three_decimals(VVENDA, 10);
    clamp(VUCOMPRA);
    clamp(VVENDA);
    clamp(VCUST);
    clamp(VSAL);
    VCHAVE = STR(VAL(CODIGO), 5);
    DBSELECTAREA("ITEM");
    DBSEEK(VCHAVE);
    if (FOUND()) {
      applied.add();
    } else {
      unmatched.add(VCHAVE.value().str());
    }
    SALINICIAL = VSAL;
    SALATUAL = VSAL;
    CUSTINICIA = VCUST;
    CUSTMEDIO = VCUST;
    CUSTREPOS = VUCOMPRA;
    VENDANORM = VVENDA;
    DBSELECTAREA("CBSALDO");
    DBSKIP();
  }
  closing_sequence();
}

}  // namespace lum
