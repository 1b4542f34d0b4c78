#include "import/transfer.h"

#include "runtime/runtime.h"

namespace lum {
namespace {

// Appends the current source record. On a failure after the append the new record is
// marked deleted, so a half-filled record never passes for a good one.
bool copy_record(TransferSource& source, TransferTarget& target, const TransferPlan& plan) {
  const bool source_deleted = source.deleted();
  if (!target.append_blank()) return false;
  bool ok = true;
  if (plan.whole_image) {
    ok = target.replace_image(source.image());
  } else {
    for (const auto& [from, to] : plan.pairs) {
      if (!target.put_field(to, source.field(from))) {
        ok = false;
        break;
      }
    }
  }
  if (!ok) {
    target.mark_deleted();
    return false;
  }
  if (source_deleted) return target.mark_deleted();
  return true;
}

}  // namespace

bool run_transfer(TransferSource& source, TransferTarget& target, const TransferPlan& plan) {
  std::int64_t left = 0;
  if (plan.record) {
    if (!source.go_to(*plan.record)) return false;
  } else if (plan.next) {
    left = *plan.next;
    if (left <= 0) return true;
  } else if (!plan.while_condition && !plan.rest) {
    if (!source.go_top()) return false;
  }
  Runtime& rt = Runtime::current();
  for (;;) {
    rt.poll_interrupt();
    if (source.eof()) return true;
    if (plan.while_condition && !plan.while_condition()) return true;
    if (!plan.for_condition || plan.for_condition()) {
      if (!copy_record(source, target, plan)) return false;
    }
    if (plan.record) return true;
    if (plan.next && --left <= 0) return true;
    if (!source.skip()) return false;
  }
}

}  // namespace lum
