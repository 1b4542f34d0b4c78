// CVPAGAR: rebuilds the payables movements \lum\firma1\LUPGMOV from PAGAR.txt,
// numbering them in input order, translating each legacy supplier code through the
// supplier table's index on OBS_FOR, and decoding amounts and dates from packed bytes.
#include "app/conversions.h"
#include "app/main_run.h"
#include "app/packed.h"
#include "app/script.h"
#include "console/output.h"
#include "import/sdf.h"
#include "index/index_commands.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "values/dates.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum {

using namespace script;

void CVPAGAR() {
  FrameGuard frame("CVPAGAR");
  const ConversionPlan& plan = plan_of(CVPAGAR);
  if (!prove_files(plan)) return;

  open_table(plan, "FORNECED");
  build_index(plan, "FORNECED");  // on OBS_FOR, the old system's code
  open_table(plan, "LUPGMOV");
  cmd::DBZAP();
  open_table(plan, "QOREC");
  import_text(plan, "QOREC");

  Var A("A"), VMOST("VMOST"), VCAMPO("VCAMPO"), VDAD("VDAD"), VVALOR("VVALOR"), VVALOR2("VVALOR2"),
      VDTEMI("VDTEMI"), VDTEMI2("VDTEMI2"), VDTEMI3("VDTEMI3"), VVRPAGO("VVRPAGO"),
      VCODFOR("VCODFOR"), VDT("VDT"), VDTPG("VDTPG");
  // Staging fields, named bare while QOREC is selected.
  Var LIVRE("LIVRE"), LIVRE2("LIVRE2"), LIVRE3("LIVRE3"), LIVRE4("LIVRE4"), LIVRE5("LIVRE5"),
      DT_EMISSAO_STAGED("DT_EMISSAO"), DT_VENCTO("DT_VENCTO"), TEXTO3("TEXTO3");
  const Alias kForneced("FORNECED");
  AliasedField QOREC_CLI("QOREC", "CLI"), QOREC_NUMERO("QOREC", "NUMERO"),
      FORNECED_CODIGO_FOR("FORNECED", "CODIGO_FOR");
  Field CODIGO_PG("CODIGO_PG"), COD_FOR("COD_FOR"), DT_EMISSAO("DT_EMISSAO"), DT_VENC("DT_VENC"),
      DTBASE_PG("DTBASE_PG"), NUMERO_PGD("NUMERO_PGD"), DT_PG("DT_PG"), VALOR("VALOR"),
      VR_NOMINAL("VR_NOMINAL"), VR_PAGO("VR_PAGO"), COD_TDC("COD_TDC"), COD_PGDOC("COD_PGDOC");

  RunRecord::Tally& written = noted(kNoteWritten);
  RunRecord::Tally& no_supplier = noted(kNoteNoSupplier);
  start_counter(A, 14, "Pagar:");
  VMOST = Value::logical(false);
  const bool show = [&] {
    Value v = VMOST;
    return v.is_logical() && v.log();
  }();
  while (!DBEOF()) {
    show_counter(A, 14, 60);
    VCAMPO = LIVRE + LIVRE2 + LIVRE3 + LIVRE4 + LIVRE5;
    VDAD = CONV_HEX(VCAMPO);
    VVALOR = SUBSTR(VDAD, 13, 13);
    VVALOR2 = SUBSTR(VDAD, 27, 13);
    if (show) {
      QOUT(VDAD.value());
      QOUT("");
      QOUT(Value("Valor1: ") + VVALOR);
      QQOUT(Value("  Valor2: ") + VVALOR2);
    }
    VDAD = CONV_HEX(DT_EMISSAO_STAGED);
    VDTEMI = SUBSTR(VDAD, 2, 8);
    VDTEMI2 = SUBSTR(VDAD, 12, 8);
    if (show) {
      QOUT(" ");
      QOUT(VDAD.value());
      QQOUT(Value("  DT Emissao: ") + VDTEMI);
      QQOUT(Value("  DT Pgto: ") + VDTEMI2);
    }
    VDAD = CONV_HEX(DT_VENCTO);
    VDTEMI3 = SUBSTR(VDAD, 2, 8);
    if (show) {
      QOUT(VDAD.value());
      QQOUT(Value("  DT Vento: ") + VDTEMI3);
      QOUT("");
    }
    VDAD = CONV_HEX(TEXTO3);
    if (show) QOUT(VDAD.value());
    VVALOR = SUBSTR(VDAD, 1, 11);
    VVALOR = STRZERO(VAL(VVALOR), 14);
    VVALOR = VAL(LEFT(VVALOR, 12) + "." + RIGHT(VVALOR, 2));
    if (show) {
      QOUT(" Valor: ");
      QQOUT(VVALOR.value());
    }
    VVRPAGO = SUBSTR(VDAD, 13, 14);
    VVRPAGO = STRZERO(VAL(VVRPAGO), 14);
    VVRPAGO = VAL(LEFT(VVRPAGO, 12) + "." + RIGHT(VVRPAGO, 2));
    if (show) {
      QQOUT(" Valor Pago: ");
      QQOUT(VVRPAGO.value());
      QOUT(CONV_HEX(LIVRE));
    }

    DBSELECTAREA("lupgmov");
    DBAPPEND();
    written.add();
    CODIGO_PG = STRZERO(A, 6);                                            // 1
    VCODFOR = STRZERO(VAL(QOREC_CLI), 5);                                 // 2
    in_area(kForneced, [&] { return Value::logical(DBSEEK(VCODFOR)); });  // 3
    const Value found = in_area(kForneced, [] { return Value::logical(FOUND()); });
    if (found.is_logical() && found.log()) {  // 4
      VCODFOR = FORNECED_CODIGO_FOR;
    } else {
      QOUT(Value("Fornecedor nao encontrado") + VCODFOR);
      no_supplier.add(VCODFOR.value().str());
    }
    COD_FOR = VCODFOR;                        // 5
    VDT = day_month_year(VDTEMI);             // 6
    DT_EMISSAO = CTOD(VDT);                   // 7
    DT_VENC = CTOD(day_month_year(VDTEMI3));  // 8
    DTBASE_PG = DT_EMISSAO;                   // 9
    NUMERO_PGD = QOREC_NUMERO;                // 10
    if (NE(VVRPAGO, 0)) {                     // 11: paid
      VDTPG = day_month_year(VDTEMI2);        // 12
      DT_PG = CTOD(VDTPG);                    // 13
      VALOR = VVALOR;                         // 14
      VR_NOMINAL = VALOR;                     // 15
      VR_PAGO = VVRPAGO;                      // 16
      COD_TDC = "00001";
    } else {
      VALOR = VVALOR;  // 17
    }
    COD_PGDOC = "001";  // 18
    DBSELECTAREA("qorec");
    DBSKIP();
  }
  closing_sequence();
}

}  // namespace lum
