// CVFORN: rebuilds the supplier table \LUM\FIRMA1\FORNECED from forneced.txt, one
// supplier per text record.
#include "app/conversions.h"
#include "app/main_run.h"
#include "app/packed.h"
#include "app/script.h"
#include "import/sdf.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum {

using namespace script;

void CVFORN() {
  FrameGuard frame("CVFORN");
  const ConversionPlan& plan = plan_of(CVFORN);
  if (!prove_files(plan)) return;

  open_table(plan, "FORNECED");
  cmd::DBZAP();
  open_table(plan, "CBFORN");
  import_text(plan, "CBFORN");

  Var A("A"), VCGC("VCGC"), POS("POS"), POS1("POS1");
  const Alias kCbForn("CBFORN");
  AliasedField CBFORN_CODIGO_FOR(kCbForn, "CODIGO_FOR"), CBFORN_RAZAO_FOR(kCbForn, "RAZAO_FOR"),
      CBFORN_FANT_FOR(kCbForn, "FANT_FOR"), CBFORN_END_FOR(kCbForn, "END_FOR"),
      CBFORN_BAIRRO_FOR(kCbForn, "BAIRRO_FOR"), CBFORN_CIDADE_FOR(kCbForn, "CIDADE_FOR"),
      CBFORN_ESTADO_FOR(kCbForn, "ESTADO_FOR"), CBFORN_FONE1_FOR(kCbForn, "FONE1_FOR"),
      CBFORN_FAX_FOR(kCbForn, "FAX_FOR"), CBFORN_CONTAT_FOR(kCbForn, "CONTAT_FOR"),
      CBFORN_CNPJ_FOR(kCbForn, "CNPJ_FOR"), CBFORN_INSEST_FOR(kCbForn, "INSEST_FOR");
  Var CEP_FOR_STAGED("CEP_FOR");  // named bare inside CBFORN->(...)
  Field CODIGO_FOR("CODIGO_FOR"), NOME_FOR("NOME_FOR"), FANT_FOR("FANT_FOR"), END_FOR("END_FOR"),
      BAIRRO_FOR("BAIRRO_FOR"), CEP_FOR("CEP_FOR"), CIDADE_FOR("CIDADE_FOR"),
      ESTADO_FOR("ESTADO_FOR"), FONE_FOR("FONE_FOR"), FAX_FOR("FAX_FOR"), CONTAT_FOR("CONTAT_FOR"),
      CGC_FOR("CGC_FOR"), INSEST_FOR("INSEST_FOR"), COD_EST("COD_EST");

  RunRecord::Tally& written = noted(kNoteWritten);
  start_counter(A, 12, "Fornecedores:");
  while (!DBEOF()) {
    show_counter(A, 12, 20);
    DBSELECTAREA("forneced");
    DBAPPEND();
    written.add();
    CODIGO_FOR = STR(VAL(CBFORN_CODIGO_FOR), 5);  // 1
    NOME_FOR = CBFORN_RAZAO_FOR;                  // 2
    FANT_FOR = CBFORN_FANT_FOR;                   // 3
    END_FOR = CBFORN_END_FOR;                     // 4
    BAIRRO_FOR = CBFORN_BAIRRO_FOR;               // 5
    {                                             // 6
      Value d = RIGHT(in_area(kCbForn, [&] { return CONV_HEX(RIGHT(CEP_FOR_STAGED, 5)); }), 8);
      CEP_FOR = LEFT(d, 5) + "-" + RIGHT(d, 3);
    }
    CIDADE_FOR = CBFORN_CIDADE_FOR;  // 7
    ESTADO_FOR = CBFORN_ESTADO_FOR;  // 8
    FONE_FOR = CBFORN_FONE1_FOR;     // 9
    FAX_FOR = CBFORN_FAX_FOR;        // 10
    CONTAT_FOR = CBFORN_CONTAT_FOR;  // 11
    VCGC = CBFORN_CNPJ_FOR;          // 12
    POS = AT("/", VCGC);             // 13
    POS1 = AT("-", VCGC);
    if (GT(POS, 0)) {  // 14: the slash takes precedence
      VCGC = SUBSTR(VCGC, 1, POS - 1) + SUBSTR(VCGC, POS + 1, 14);
      CGC_FOR = LEFT(VCGC, 8) + RIGHT(VCGC, 6);
    } else if (GT(POS1, 0)) {
      VCGC = SUBSTR(VCGC, 1, POS1 - 1) + SUBSTR(VCGC, POS1 + 1, 14);
      CGC_FOR = LEFT(VCGC, 8) + RIGHT(VCGC, 6);
    } else {
      CGC_FOR = VCGC;
    }
    if (EQ(VAL(CGC_FOR), 0)) CGC_FOR = SPACE(14);                 // 15
    INSEST_FOR = CBFORN_INSEST_FOR;                               // 16
    if (EQ(VAL(LEFT(INSEST_FOR, 3)), 0)) INSEST_FOR = SPACE(18);  // 17
    COD_EST = "016";                                              // 18
    DBSELECTAREA("cbFORN");
    DBSKIP();
  }
  closing_sequence();
}

}  // namespace lum
