// Plausible content for the fields of a line: generic Portuguese names and words,
// cities with their postal codes and telephone area codes, street addresses, telephone
// numbers, e-mail addresses, and taxpayer numbers and bar codes with valid check digits.
// Used by the generator's own files only.
#pragma once

#include <cstdint>
#include <string>

#include "tools/sample/line_fields.h"
#include "tools/sample/rng.h"

namespace lum::sample {

inline constexpr const char* kFirstNames[] = {
    "ANA",    "BRUNO",  "CARLOS",  "DANIELA", "EDUARDO", "FERNANDA", "GUSTAVO",
    "HELENA", "IGOR",   "JULIANA", "LUCAS",   "MARIANA", "NELSON",   "OLGA",
    "PAULO",  "RENATA", "SERGIO",  "TATIANA", "VITOR",   "ZELIA"};
inline constexpr const char* kSurnames[] = {
    "SILVA",   "SOUZA",      "OLIVEIRA", "SANTOS", "PEREIRA",  "COSTA",    "RODRIGUES",
    "ALMEIDA", "NASCIMENTO", "LIMA",     "ARAUJO", "FERREIRA", "CARVALHO", "GOMES",
    "MARTINS", "ROCHA",      "RIBEIRO",  "ALVES",  "MONTEIRO", "MENDES",   "BARROS",
    "FREITAS", "BARBOSA",    "PINTO",    "MOURA",  "DIAS",     "CASTRO",   "CAMPOS"};
inline constexpr const char* kStreetKinds[] = {"RUA", "AV.", "TRAVESSA", "ALAMEDA", "RODOVIA"};
inline constexpr const char* kStreetNames[] = {
    "DAS FLORES",       "SETE DE SETEMBRO", "XV DE NOVEMBRO", "SAO JOAO",       "DOS ANDRADAS",
    "BRASIL",           "PARANA",           "DAS PALMEIRAS",  "SANTA CATARINA", "DO COMERCIO",
    "DA INDEPENDENCIA", "MARECHAL DEODORO", "DOS IMIGRANTES", "DAS ACACIAS",    "GETULIO VARGAS"};
inline constexpr const char* kDistricts[] = {
    "CENTRO",     "JARDIM AMERICA",    "VILA NOVA",  "BOA VISTA",    "SAO JOSE",
    "SANTA CRUZ", "PARQUE INDUSTRIAL", "BELA VISTA", "CAMPO ALEGRE", "VILA RICA"};
struct City {
  const char* name;
  const char* state;
};
inline constexpr City kCities[] = {
    {"CAMPINAS", "SP"},      {"CURITIBA", "PR"},       {"LONDRINA", "PR"},
    {"JOINVILLE", "SC"},     {"BLUMENAU", "SC"},       {"PORTO ALEGRE", "RS"},
    {"CAXIAS DO SUL", "RS"}, {"BELO HORIZONTE", "MG"}, {"UBERLANDIA", "MG"},
    {"GOIANIA", "GO"},       {"RIBEIRAO PRETO", "SP"}, {"MARINGA", "PR"}};
inline constexpr const char* kProfessions[] = {
    "COMERCIANTE", "PROFESSOR", "MOTORISTA",   "ENGENHEIRO", "AGRICULTOR",
    "ADVOGADO",    "MEDICO",    "ELETRICISTA", "CONTADOR",   "AUTONOMO"};
inline constexpr const char* kCompanyWords[] = {"COMERCIAL",   "DISTRIBUIDORA", "INDUSTRIA",
                                                "ATACADO",     "MATERIAIS",     "FERRAGENS",
                                                "TRANSPORTES", "PAPELARIA"};
inline constexpr const char* kCompanySuffixes[] = {"LTDA", "ME", "S/A", "EIRELI", "LTDA EPP"};
inline constexpr const char* kProductNouns[] = {
    "PARAFUSO", "PORCA",     "ARRUELA",     "CABO",    "TOMADA",    "DISJUNTOR", "TINTA",
    "PINCEL",   "MANGUEIRA", "TORNEIRA",    "CANO",    "LUVA",      "JOELHO",    "FITA",
    "COLA",     "LAMPADA",   "INTERRUPTOR", "CADEADO", "DOBRADICA", "PREGO"};
inline constexpr const char* kProductGrades[] = {"ACO INOX", "PVC",     "GALVANIZADO", "BRANCO",
                                                 "PRETO",    "1/2 POL", "3/4 POL",     "10MM",
                                                 "25MM",     "20M"};
inline constexpr const char* kBrands[] = {"FORTEX", "METALUX", "PRIMUS",  "NORTEC",
                                          "IDEAL",  "SOLIDA",  "TRIUNFO", "AVANTE"};
inline constexpr const char* kUnits[] = {"UN", "KG", "CX", "PC", "LT", "MT"};
inline constexpr const char* kShelves[] = {"PRAT", "GOND", "DEP", "CORR"};
inline constexpr const char* kConcepts[] = {"A", "B", "C", " "};

// The realistic sample's places: each city's postal codes and telephone area code.
struct Place {
  const char* city;
  const char* state;
  std::uint32_t cep_first, cep_last;  // the city's postal codes, 8 digits
  int area;                           // its telephone area code
};
inline constexpr Place kPlaces[] = {
    {"CAMPINAS", "SP", 13000000, 13139999, 19},
    {"RIBEIRAO PRETO", "SP", 14000000, 14114999, 16},
    {"CURITIBA", "PR", 80000000, 82999999, 41},
    {"LONDRINA", "PR", 86000000, 86099999, 43},
    {"MARINGA", "PR", 87000000, 87119999, 44},
    {"JOINVILLE", "SC", 89200000, 89239999, 47},
    {"BLUMENAU", "SC", 89000000, 89099999, 47},
    {"PORTO ALEGRE", "RS", 90000000, 91999999, 51},
    {"CAXIAS DO SUL", "RS", 95000000, 95124999, 54},
    {"BELO HORIZONTE", "MG", 30000000, 31999999, 31},
    {"UBERLANDIA", "MG", 38400000, 38415999, 34},
    {"GOIANIA", "GO", 74000000, 74899999, 62},
};

// Names and addresses, appended word by word into a field.
void person_name(Rng& r, FieldText& t);
void company_name(Rng& r, FieldText& t);
void street(Rng& r, FieldText& t);
// Street, district, and any city with its state, into four fields of a line.
void any_address(Rng& r, std::string& line, Slot street_slot, Slot district, Slot city, Slot state);
// "(19) 3234-5678" with any area code, into a field of a line.
void phone(Rng& r, std::string& line, Slot s);
// "ana.silva@exemplo.com.br".
void lower_email(Rng& r, std::string& line, Slot s);

// Realistic content: a postal code of the place; "(19) 3234-5678" for a line,
// "(19) 99123-4567" for a mobile; street, district, city and state of the place.
std::uint32_t cep_of(Rng& r, const Place& p);
void phone_of(Rng& r, const Place& p, bool mobile, std::string& line, Slot s);
void address_of(Rng& r, const Place& p, std::string& line, Slot street_slot, Slot district,
                Slot city, Slot state);

// An individual's taxpayer number: nine digits and their two check digits.
std::uint64_t valid_cpf(Rng& r);
// A company's taxpayer number: an eight-digit root, branch 0001, two check digits.
std::uint64_t valid_cnpj(Rng& r);
// A product's bar code: 789 (the country), nine digits, the EAN-13 check digit.
std::uint64_t valid_ean13(Rng& r);

}  // namespace lum::sample
