// CVRECEBER: rebuilds the receivables movements \lum\firma1\lurbmov from receber.txt,
// numbering them in input order, decoding the amounts and the payment date from packed
// bytes and the issue and due dates from text. It leaves its two tables open; the end
// of the run closes them.
#include "app/conversions.h"
#include "app/packed.h"
#include "app/script.h"
#include "console/output.h"
#include "import/sdf.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "values/dates.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum {

using namespace script;

void CVRECEBER() {
  FrameGuard frame("CVRECEBER");
  const ConversionPlan& plan = plan_of(CVRECEBER);
  if (!prove_files(plan)) return;

  open_table(plan, "LURBMOV");  // in the current work area, which CVCLI left empty
  cmd::DBZAP();
  open_table(plan, "QOREC");
  import_text(plan, "QOREC");

  Var A("A"), VCAMPO("VCAMPO"), VDAD("VDAD"), VVALOR("VVALOR"), VVRPAGO("VVRPAGO"), VDT("VDT"),
      VDTPG("VDTPG");
  // Staging fields, named bare while QOREC is selected.
  Var LIVRE("LIVRE"), LIVRE2("LIVRE2"), LIVRE3("LIVRE3"), LIVRE4("LIVRE4"), LIVRE5("LIVRE5"),
      TEXTO3("TEXTO3"), DT_EMISSAO_STAGED("DT_EMISSAO"), DT_VECTO("DT_VECTO");
  const Alias kQorec("QOREC");
  AliasedField QOREC_CLI(kQorec, "CLI"), QOREC_NUMERO(kQorec, "NUMERO");
  Field CODIGO_RB("CODIGO_RB"), COD_CLI("COD_CLI"), DT_EMISSAO("DT_EMISSAO"), DT_VENC("DT_VENC"),
      DTBASE_RB("DTBASE_RB"), NUMERO_DOC("NUMERO_DOC"), DT_PG("DT_PG"), VALOR("VALOR"),
      VR_NOMINAL("VR_NOMINAL"), VR_PAGO("VR_PAGO"), COD_TDC("COD_TDC"), BAI_PARC("BAI_PARC"),
      COD_DOC("COD_DOC");

  RunRecord::Tally& written = noted(kNoteWritten);
  start_counter(A, 14, "Receber:");
  while (!DBEOF()) {
    show_counter(A, 14, 60);
    VCAMPO = LIVRE + LIVRE2 + LIVRE3 + LIVRE4 + LIVRE5;
    VDAD = CONV_HEX(VCAMPO);
    VVALOR = RIGHT(CONV_HEX(TEXTO3), 14);
    VVALOR = VAL(LEFT(VVALOR, 12) + "." + RIGHT(VVALOR, 2));
    VVRPAGO = SUBSTR(VDAD, 1, 13);
    VVRPAGO = VAL(LEFT(VVRPAGO, 11) + "." + RIGHT(VVRPAGO, 2));
    if (EQ(VAL(QOREC_CLI), 525)) QOUT(VDAD.value());

    DBSELECTAREA("lurbmov");
    DBAPPEND();
    written.add();
    CODIGO_RB = STRZERO(A, 6);                                                  // 1
    COD_CLI = STR(VAL(QOREC_CLI), 5);                                           // 2
    VDT = in_area(kQorec, [&] { return day_month_year(DT_EMISSAO_STAGED); });   // 3
    DT_EMISSAO = CTOD(VDT);                                                     // 4
    DT_VENC = CTOD(in_area(kQorec, [&] { return day_month_year(DT_VECTO); }));  // 5
    DTBASE_RB = DT_EMISSAO;                                                     // 6
    NUMERO_DOC = QOREC_NUMERO;                                                  // 7
    if (NE(VVRPAGO, 0)) {                                                       // 8: paid
      VDTPG = SUBSTR(VDAD, 18, 8);                                              // 9
      VDTPG = day_month_year(VDTPG);                                            // 10
      DT_PG = CTOD(VDTPG);                                                      // 11
      VALOR = VVALOR;                                                           // 12
      VR_NOMINAL = VALOR;                                                       // 13
      VR_PAGO = VVRPAGO;                                                        // 14
      COD_TDC = "00001";
    } else {
      VALOR = VVALOR - VVRPAGO;  // 15
    }
    BAI_PARC = "N";   // 16
    COD_DOC = "001";  // 17
    DBSELECTAREA("qorec");
    DBSKIP();
  }
}

}  // namespace lum
