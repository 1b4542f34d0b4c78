#include "app/conversions.h"

namespace lum {

const Conversions& program_conversions() {
  static const Conversions kProgram{.cvforn = CVFORN,
                                    .cvpagar = CVPAGAR,
                                    .cvprod = CVPROD,
                                    .cvcli = CVCLI,
                                    .cvreceber = CVRECEBER};
  return kProgram;
}

}  // namespace lum
