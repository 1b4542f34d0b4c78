#include "app/program.h"

#include "app/check_report.h"
#include "app/main_run.h"

namespace lum {

namespace {

constexpr const char* kUsage =
    "Usage: lumconv [//NOALERT] [//DRIVE:<dir>]\n"
    "       lumconv --check [//DRIVE:<dir>]\n"
    "       lumconv --help | -h | //HELP\n"
    "       lumconv --version\n"
    "\n"
    "Moves the data exported by the older system into the destination tables under\n"
    "\\lum\\firma1. Run it without arguments from the working directory that holds the\n"
    "exported text files and the staging tables.\n"
    "\n"
    "Reads, from the working directory (names in any letter case):\n"
    "  forneced.txt  suppliers, converted when it is present\n"
    "  PAGAR.txt     payables, converted when it is present\n"
    "  prod.txt      products, converted when it is present; then SALDO.txt (stock\n"
    "                balances) is required too\n"
    "  clientes.txt  clients, converted when it is present; then receber.txt\n"
    "                (receivables) is required too\n"
    "A required file that is missing, or a table that cannot be opened, ends the run\n"
    "with an error before its conversion has changed anything; conversions that\n"
    "finished before keep their new content.\n"
    "\n"
    "Rewrites (empties, then refills; the table structures never change):\n"
    "  \\lum\\firma1: FORNECED, LUPGMOV, ITEM, CLIENTES, LURBMOV (.dbf)\n"
    "  working directory: the staging tables cbFORN, cbPAG, cbPROD, CBSALDO, cbCli,\n"
    "  cbRec (.dbf), the indexes LUTMPFOR, coditem, saldo (.ntx), and error.log when an\n"
    "  error ends the run.\n"
    "\n"
    "Switches (also read from the environment variable LUMCONV, several separated by\n"
    "blanks; the command line wins):\n"
    "  //NOALERT      never wait for an answer: an error is reported and ends the run\n"
    "  //DRIVE:<dir>  the directory that a leading \"\\\" names (default \"/\")\n"
    "  --check        a dry run: the whole run on scratch copies of the tables, in a\n"
    "                 temporary directory removed afterwards (set TMPDIR to choose\n"
    "                 where), then a report of what the run would do: each text\n"
    "                 file's lines against its staging record, the records written,\n"
    "                 control totals, suppliers and items not found, each index\n"
    "                 verified, and how the run would end. None of your files is\n"
    "                 opened for writing; nobody is asked anything\n"
    "  //HELP, --help, -h  print this text and change nothing\n"
    "  --version      print the version and change nothing\n"
    "\n"
    "Standard error: after an error, which files the run changed (every other table\n"
    "is as it was); after a normal run, the text files whose lines are not as long as\n"
    "their staging table's record, or that there was nothing to convert.\n"
    "\n"
    "Exit codes:\n"
    "  0  the run ended normally (also after --help and --version); with --check:\n"
    "     the real run would end normally\n"
    "  1  an error ended the run (see error.log), or a signal interrupted it; with\n"
    "     --check: the real run would end with an error (or the dry run could not\n"
    "     be made or was interrupted)\n"
    "  2  the command line or LUMCONV held something not understood; nothing was changed\n";

}  // namespace

Program lumconv_program() {
  Program p;
  p.name = "lumconv";
  p.version = LUM_VERSION;
  p.usage = kUsage;
  p.modules.push_back(Module{"lumconv", {{"MAIN", [] { MAIN(); }}}});
  p.check_report = conversions_check_report;
  return p;
}

}  // namespace lum
