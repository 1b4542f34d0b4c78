#include "app/main_run.h"

#include <string>
#include <string_view>

#include "console/output.h"
#include "frame/account.h"
#include "frame/run_record.h"
#include "frame/startup.h"
#include "runtime/runtime.h"
#include "runtime/settings.h"
#include "table/dbcmd.h"
#include "table/files.h"
#include "values/dates.h"

namespace lum {

namespace {

// The trigger files, each once, as MAIN tests them: "FORNECED.TXT, PAGAR.txt, ...".
std::string trigger_list(std::span<const ConversionPlan> plan) {
  std::string list;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    bool again = false;
    for (std::size_t j = 0; j < i; ++j)
      again |= plan[j].trigger == std::string_view(plan[i].trigger);
    if (again) continue;
    list += (list.empty() ? "" : ", ") + std::string(plan[i].trigger);
  }
  return list;
}

}  // namespace

void run_main(std::span<const ConversionPlan> plan) {
  FrameGuard frame("MAIN");
  Runtime& rt = Runtime::current();
  SCROLL();
  SETPOS(0, 0);
  DEVPOS(2, 15);
  DEVOUT("Qo Softwares 00-0000-0000");
  DEVPOS(3, 15);
  DEVOUT("Convertendo dados do Cobol para \\lum\\firma1");
  cmd::SETCENTURY(Value("on"));
  SET(kSetDateFormat, Value(cmd::SETCENTURY().log() ? "dd/mm/yyyy" : "dd/mm/yy"));

  bool any = false;
  for (std::size_t place = 0; place < plan.size(); ++place) {
    // Between two conversions is a safe point for a stop request. Each runs only when its
    // trigger file exists at the moment of the test (the receivables follow the client
    // file, not "receber.txt", which they then import).
    rt.poll_interrupt();
    rt.set_line(__LINE__);
    if (!FILE(plan[place].trigger)) continue;
    any = true;
    if (plan[place].run == nullptr) continue;
    run_record().begin(static_cast<int>(place),
                       std::string(plan[place].name) + " (" + plan[place].title + ")");
    plan[place].run();
    run_record().end();
  }
  rt.set_line(__LINE__);
  rt.poll_interrupt();
  if (!any) add_operator_note("nothing to convert: no " + trigger_list(plan));
  cmd::QUIT();
}

void MAIN() { run_main(run_plan()); }

void closing_sequence() {
  DBCLOSEALL();
  DBSELECTAREA(Value("1"));
  cmd::SETFORMAT(Value());
}

}  // namespace lum
