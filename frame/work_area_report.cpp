#include "frame/work_area_report.h"

#include "runtime/runtime.h"

namespace lum {

namespace {

// The work areas when the run has used the table engine; nullptr before, so that asking
// does not start it.
WorkAreas* areas() { return Runtime::current().service_as<WorkAreas>(ServiceSlot::WorkAreas); }

}  // namespace

std::vector<AreaSummary> open_work_areas() {
  WorkAreas* w = areas();
  return w == nullptr ? std::vector<AreaSummary>() : w->summary();
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
