// The lumconv program as start-up runs it: its name, version, usage text and the module
// whose first function, MAIN, is the start function.
#pragma once

#include "frame/startup.h"

namespace lum {

Program lumconv_program();

}  // namespace lum
