// MAIN: the conversion run. It clears the screen, shows the banner, sets four-digit
// years and the date format "dd/mm/yyyy", runs each conversion whose trigger file is in
// the working directory, in the fixed order suppliers, payables, products, clients,
// receivables, and quits.
#pragma once

#include <span>

#include "app/run_plan.h"

namespace lum {

// MAIN() with this program's conversions, run_plan(). Does not return (it ends with
// __QUIT).
void MAIN();
// The same run with the given plan: each conversion whose trigger file exists at the
// moment of its test, in the plan's order; a conversion without a function is only
// tested for. The run's record notes each conversion's place as it starts and ends.
void run_main(std::span<const ConversionPlan> plan);

// The closing sequence that ends every conversion but the receivables: every table
// closed, work area 1 selected, no screen format active.
void closing_sequence();

}  // namespace lum
