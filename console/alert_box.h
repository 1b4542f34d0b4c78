// The alert box of the terminal layer: message lines and a row of options drawn in a
// frame at the middle of the screen, chosen with the arrow keys, Tab, Enter or an
// option's first letter. What was under the box is shown again afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/screen.h"

namespace lum {

struct AlertBox {
  std::vector<std::string> lines;
  std::vector<std::string> options;  // at least one
  std::uint8_t box_attr = 0x4F;      // W+/R
  std::uint8_t hi_attr = 0x1F;       // W+/B
  int delay_seconds = -1;            // negative: no limit
};

// Results of run_alert_box() besides the 1-based number of the chosen option.
inline constexpr int kAlertNoChoice = 0;       // Escape, or the delay ran out
inline constexpr int kAlertUnanswerable = -1;  // no key can come (no operator, a signal)

// Draws the box, waits for a choice and restores the screen.
int run_alert_box(Screen& screen, const AlertBox& box);

}  // namespace lum
