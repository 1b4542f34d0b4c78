#include "app/main_run.h"

#include "console/output.h"
#include "frame/account.h"
#include "frame/startup.h"
#include "runtime/runtime.h"
#include "runtime/settings.h"
#include "table/dbcmd.h"
#include "table/files.h"
#include "values/dates.h"

namespace lum {

namespace {

// Runs a conversion when its trigger file exists at the moment of the test; true when it
// does. Between two conversions is a safe point for a stop signal.
bool run_if(const char* trigger, Conversion conversion) {
  Runtime& rt = Runtime::current();
  rt.poll_interrupt();
  if (!FILE(trigger)) return false;
  if (conversion != nullptr) conversion();
  return true;
}

}  // namespace

void run_main(const Conversions& c) {
  FrameGuard frame("MAIN");
  Runtime& rt = Runtime::current();
  SCROLL();
  SETPOS(0, 0);
  DEVPOS(2, 15);
  DEVOUT("Qo Softwares 00-0000-0000");
  DEVPOS(3, 15);
  DEVOUT("Convertendo dados do Cobol para \\lum\\firma1");
  __SETCENTURY(Value("on"));
  SET(kSetDateFormat, Value(__SETCENTURY().log() ? "dd/mm/yyyy" : "dd/mm/yy"));

  bool any = false;
  rt.set_line(__LINE__);
  any |= run_if("FORNECED.TXT", c.cvforn);
  rt.set_line(__LINE__);
  any |= run_if("PAGAR.txt", c.cvpagar);
  rt.set_line(__LINE__);
  any |= run_if("prod.txt", c.cvprod);
  rt.set_line(__LINE__);
  any |= run_if("clientes.txt", c.cvcli);
  // The receivables follow the client file, not "receber.txt", which they then import.
  rt.set_line(__LINE__);
  any |= run_if("clientes.txt", c.cvreceber);
  rt.set_line(__LINE__);
  rt.poll_interrupt();
  if (!any) {
    add_operator_note("nothing to convert: no FORNECED.TXT, PAGAR.txt, prod.txt, clientes.txt");
  }
  __QUIT();
}

void MAIN() { run_main(program_conversions()); }

void closing_sequence() {
  DBCLOSEALL();
  DBSELECTAREA(Value("1"));
  __SETFORMAT(Value());
}

}  // namespace lum
