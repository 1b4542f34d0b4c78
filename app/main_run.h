// MAIN: the conversion run. It clears the screen, shows the banner, sets four-digit
// years and the date format "dd/mm/yyyy", runs each conversion whose trigger file is in
// the working directory, in the fixed order suppliers, payables, products, clients,
// receivables, and quits.
#pragma once

#include "app/conversions.h"

namespace lum {

// MAIN() with this program's conversions. Does not return (it ends with __QUIT).
void MAIN();
// The same run with the given conversions.
void run_main(const Conversions& conversions);

// The closing sequence that ends every conversion but the receivables: every table
// closed, work area 1 selected, no screen format active.
void closing_sequence();

}  // namespace lum
