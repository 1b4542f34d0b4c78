// CVCLI: rebuilds the client table \lum\firma1\clientes from clientes.txt, one client
// per text record, decoding the taxpayer numbers and the postal code from packed bytes.
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

void CVCLI() {
  FrameGuard frame("CVCLI");
  const ConversionPlan& plan = plan_of(CVCLI);
  if (!prove_files(plan)) return;

  open_table(plan, "CLIENTES");
  cmd::DBZAP();
  open_table(plan, "CBCLI");
  import_text(plan, "CBCLI");

  Var A("A"), VCPF("VCPF"), VCEP("VCEP"), VCGC("VCGC");
  // The staging record, read through its alias.
  const Alias kCbCli("CBCLI");
  AliasedField CBCLI_CODIGO_CLI(kCbCli, "CODIGO_CLI"), CBCLI_NOME_CLI(kCbCli, "NOME_CLI"),
      CBCLI_FANT_CLI(kCbCli, "FANT_CLI"), CBCLI_END_CLI(kCbCli, "END_CLI"),
      CBCLI_BAIRRO_CLI(kCbCli, "BAIRRO_CLI"), CBCLI_CIDADE_CLI(kCbCli, "CIDADE_CLI"),
      CBCLI_ESTADO_CLI(kCbCli, "ESTADO_CLI"), CBCLI_INSEST_CLI(kCbCli, "INSEST_CLI"),
      CBCLI_PROFIS_CLI(kCbCli, "PROFIS_CLI"), CBCLI_FONE_CLI(kCbCli, "FONE_CLI"),
      CBCLI_FAX_CLI(kCbCli, "FAX_CLI"), CBCLI_CEL_CLI(kCbCli, "CEL_CLI"),
      CBCLI_CONCEITO(kCbCli, "CONCEITO"), CBCLI_NOMEMA_CLI(kCbCli, "NOMEMA_CLI"),
      CBCLI_NOMEPA_CLI(kCbCli, "NOMEPA_CLI"), CBCLI_EMAIL(kCbCli, "EMAIL");
  // Staging fields named bare inside CBCLI->(...).
  Var CPF_CLI("CPF_CLI"), CEP_CLI_STAGED("CEP_CLI"), CNPJ_CLI("CNPJ_CLI");
  // The target record.
  Field CODIGO_CLI("CODIGO_CLI"), NOME_CLI("NOME_CLI"), FANT_CLI("FANT_CLI"), CPF_CLI_T("CPF_CLI"),
      END_CLI("END_CLI"), BAIRRO_CLI("BAIRRO_CLI"), CIDADE_CLI("CIDADE_CLI"),
      ESTADO_CLI("ESTADO_CLI"), CEP_CLI("CEP_CLI"), CGC_CLI("CGC_CLI"), INSEST_CLI("INSEST_CLI"),
      TRABALHO("TRABALHO"), FONE_CLI("FONE_CLI"), FAX_CLI("FAX_CLI"), CELULAR("CELULAR"),
      CONCEITO("CONCEITO"), PRACA_CLI("PRACA_CLI"), CID_COB("CID_COB"), UF_COB("UF_COB"),
      CEP_COB("CEP_COB"), MAE("MAE"), PAI("PAI"), EMAIL("EMAIL"), VENDEDOR("VENDEDOR"),
      COD_PG_CLI("COD_PG_CLI"), CODTAB_CLI("CODTAB_CLI"), GRUPO_CLI("GRUPO_CLI"),
      COD_EST("COD_EST"), AJUNTA("AJUNTA"), CONTRIB("CONTRIB");

  RunRecord::Tally& written = noted(kNoteWritten);
  start_counter(A, 13, "Clientes:");
  while (!DBEOF()) {
    show_counter(A, 13, 20);
    DBSELECTAREA("clienteS");
    DBAPPEND();
    written.add();
    CODIGO_CLI = STR(VAL(CBCLI_CODIGO_CLI), 5);                                            // 1
    NOME_CLI = CBCLI_NOME_CLI;                                                             // 2
    FANT_CLI = CBCLI_FANT_CLI;                                                             // 3
    if (EQ(LEN(ALLTRIM(FANT_CLI)), 0)) FANT_CLI = CBCLI_NOME_CLI;                          // 4
    VCPF = in_area(kCbCli, [&] { return CONV_HEX(RIGHT(CPF_CLI, 7)); });                   // 5
    if (EQ(VCPF, "00000000000")) VCPF = "";                                                // 6
    CPF_CLI_T = VCPF;                                                                      // 7
    END_CLI = CBCLI_END_CLI;                                                               // 8
    BAIRRO_CLI = CBCLI_BAIRRO_CLI;                                                         // 9
    CIDADE_CLI = CBCLI_CIDADE_CLI;                                                         // 10
    ESTADO_CLI = CBCLI_ESTADO_CLI;                                                         // 11
    VCEP = RIGHT(in_area(kCbCli, [&] { return CONV_HEX(RIGHT(CEP_CLI_STAGED, 5)); }), 8);  // 12
    if (EQ(VCEP, "00000000")) VCEP = "";                                                   // 13
    CEP_CLI = LEFT(VCEP, 5) + "-" + RIGHT(VCEP, 3);                                        // 14
    VCGC = RIGHT(in_area(kCbCli, [&] { return CONV_HEX(RIGHT(CNPJ_CLI, 8)); }), 14);       // 15
    if (EQ(VCGC, "00000000000000")) VCGC = "";                                             // 16
    CGC_CLI = VCGC;                                                                        // 17
    INSEST_CLI = CBCLI_INSEST_CLI;                                                         // 18
    TRABALHO = CBCLI_PROFIS_CLI;                                                           // 19
    FONE_CLI = CBCLI_FONE_CLI;                                                             // 20
    FAX_CLI = CBCLI_FAX_CLI;                                                               // 21
    CELULAR = CBCLI_CEL_CLI;                                                               // 22
    CONCEITO = CBCLI_CONCEITO;                                                             // 23
    PRACA_CLI = CBCLI_END_CLI;                                                             // 24
    CID_COB = CBCLI_CIDADE_CLI;                                                            // 25
    UF_COB = CBCLI_ESTADO_CLI;                                                             // 26
    CEP_COB = CEP_CLI;                                                                     // 27
    MAE = CBCLI_NOMEMA_CLI;                                                                // 28
    PAI = CBCLI_NOMEPA_CLI;                                                                // 29
    EMAIL = CBCLI_EMAIL;                                                                   // 30
    VENDEDOR = "00001";                                                                    // 31
    COD_PG_CLI = "00001";                                                                  // 32
    CODTAB_CLI = "001";                                                                    // 33
    GRUPO_CLI = "00001";                                                                   // 34
    COD_EST = "001";                                                                       // 35
    AJUNTA = "S";                                                                          // 36
    CONTRIB = GT(LEN(ALLTRIM(INSEST_CLI)), 0) ? "S" : "N";                                 // 37
    DBSELECTAREA("cbcli");
    DBSKIP();
  }
  closing_sequence();
}

}  // namespace lum
