// The five conversions. Each empties its target and rebuilds it from its text file;
// all but CVRECEBER end with every table closed and work area 1 selected. Their files
// are those of their plan (app/run_plan.h), and MAIN runs them in its order.
#pragma once

namespace lum {

void CVFORN();
void CVPAGAR();
void CVPROD();
void CVCLI();
void CVRECEBER();

}  // namespace lum
