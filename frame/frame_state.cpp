#include "frame/frame_state.h"

#include <cstdio>
#include <memory>

namespace lum {

FrameState& frame_state() {
  Runtime& rt = Runtime::current();
  if (auto* f = rt.service_as<FrameState>(ServiceSlot::Frame)) return *f;
  auto f = std::make_unique<FrameState>();
  FrameState* raw = f.get();
  rt.set_service(ServiceSlot::Frame, std::move(f));
  return *raw;
}

void write_diagnostic(std::string_view text) {
  FrameState& f = frame_state();
  if (f.diagnostics) {
    f.diagnostics(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace lum
