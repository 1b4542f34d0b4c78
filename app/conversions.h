// The five conversions that MAIN runs, by the trigger file it tests for each. A
// conversion's entry is filled in where that conversion is written; an empty entry
// means the conversion is not part of the program yet, and MAIN then only tests its
// trigger file.
#pragma once

namespace lum {

using Conversion = void (*)();

struct Conversions {
  Conversion cvforn = nullptr;     // suppliers, when "FORNECED.TXT" exists
  Conversion cvpagar = nullptr;    // payables, when "PAGAR.txt" exists
  Conversion cvprod = nullptr;     // products and stock balances, when "prod.txt" exists
  Conversion cvcli = nullptr;      // clients, when "clientes.txt" exists
  Conversion cvreceber = nullptr;  // receivables, when "clientes.txt" exists (again)
};

// The conversions of this program.
const Conversions& program_conversions();

// The five conversions. Each empties its target and rebuilds it from its text file;
// all but CVRECEBER end with every table closed and work area 1 selected.
void CVFORN();
void CVPAGAR();
void CVPROD();
void CVCLI();
void CVRECEBER();

}  // namespace lum
