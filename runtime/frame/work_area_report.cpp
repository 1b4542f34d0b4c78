#include "runtime/frame/work_area_report.h"

#include "runtime/runtime.h"
#include "table/workareas.h"

namespace lum {

namespace {

// The work areas when the run has used the table engine; nullptr before, so that asking
// does not start it.
WorkAreas* areas() { return Runtime::current().service_as<WorkAreas>(ServiceSlot::WorkAreas); }

}  // namespace

std::vector<WorkAreaReport> open_work_areas() {
  std::vector<WorkAreaReport> out;
  WorkAreas* w = areas();
  if (w == nullptr) return out;
  for (const AreaSummary& a : w->summary()) {
    WorkAreaReport r;
    r.number = a.number;
    r.alias = a.alias;
    r.recno = a.recno;
    r.filter = a.filter;
    r.order = a.order.empty() ? 0 : 1;  // the run's tables carry at most their one order
    r.key = a.order;
    out.push_back(std::move(r));
  }
  return out;
}

std::uint32_t current_work_area() {
  WorkAreas* w = areas();
  return w == nullptr ? 0 : w->current_number();
}

void close_all_tables() {
  if (areas() != nullptr) WorkAreas::get().close_all();
}

void flush_all_tables() noexcept {
  if (WorkAreas* w = areas()) w->flush_all_quietly();
}

}  // namespace lum
