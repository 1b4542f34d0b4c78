#include "tools/sample/content.h"

#include <cctype>
#include <vector>

namespace lum::sample {

void person_name(Rng& r, FieldText& t) {
  t.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  if (!r.one_in(3)) t.word(r.pick(kSurnames));
}
void company_name(Rng& r, FieldText& t) {
  t.word(r.pick(kCompanyWords)).word(r.pick(kSurnames));
  if (r.one_in(2)) t.word("&").word(r.pick(kSurnames));
  t.word(r.pick(kCompanySuffixes));
}
void street(Rng& r, FieldText& t) {
  char buf[8];
  t.word(r.pick(kStreetKinds)).word(r.pick(kStreetNames)).add(", ");
  t.add(digit_text(buf, 1 + r.below(4999), 4));
}
void any_address(Rng& r, std::string& line, Slot street_slot, Slot district, Slot city,
                 Slot state) {
  {
    FieldText t(line, street_slot);
    street(r, t);
  }
  put(line, district, r.pick(kDistricts));
  const City& c = r.pick(kCities);
  put(line, city, c.name);
  put(line, state, c.state);
}
void phone(Rng& r, std::string& line, Slot s) {
  FieldText t(line, s);
  t.add("(").digits(11 + r.below(88), 2).add(") ").digits(2000 + r.below(7999), 4).add("-");
  t.digits(r.below(10000), 4);
}
void lower_email(Rng& r, std::string& line, Slot s) {
  FieldText t(line, s);
  std::string_view first = r.pick(kFirstNames), last = r.pick(kSurnames);
  char buf[64];
  std::size_t n = 0;
  for (char c : first) buf[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  buf[n++] = '.';
  for (char c : last) buf[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  t.add(std::string_view(buf, n)).add("@exemplo.com.br");
}

namespace {

// The check digit of a taxpayer number over `digits` with weights `w` (modulus 11).
int check_digit(const std::vector<int>& digits, const std::vector<int>& w) {
  int sum = 0;
  for (std::size_t k = 0; k < digits.size(); ++k) sum += digits[k] * w[k];
  const int rest = sum % 11;
  return rest < 2 ? 0 : 11 - rest;
}
std::uint64_t number_of(const std::vector<int>& digits) {
  std::uint64_t v = 0;
  for (int d : digits) v = v * 10 + static_cast<std::uint64_t>(d);
  return v;
}

}  // namespace

std::uint64_t valid_cpf(Rng& r) {
  std::vector<int> d;
  for (int k = 0; k < 9; ++k) d.push_back(static_cast<int>(k == 0 ? 1 + r.below(9) : r.below(10)));
  d.push_back(check_digit(d, {10, 9, 8, 7, 6, 5, 4, 3, 2}));
  d.push_back(check_digit(d, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2}));
  return number_of(d);
}
std::uint64_t valid_cnpj(Rng& r) {
  std::vector<int> d;
  for (int k = 0; k < 8; ++k) d.push_back(static_cast<int>(k == 0 ? 1 + r.below(9) : r.below(10)));
  for (int b : {0, 0, 0, 1}) d.push_back(b);
  d.push_back(check_digit(d, {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
  d.push_back(check_digit(d, {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
  return number_of(d);
}
std::uint64_t valid_ean13(Rng& r) {
  std::vector<int> d = {7, 8, 9};
  for (int k = 0; k < 9; ++k) d.push_back(static_cast<int>(r.below(10)));
  int sum = 0;
  for (std::size_t k = 0; k < d.size(); ++k) sum += d[k] * (k % 2 == 0 ? 1 : 3);
  d.push_back((10 - sum % 10) % 10);
  return number_of(d);
}
std::uint32_t cep_of(Rng& r, const Place& p) {
  return p.cep_first + r.below(p.cep_last - p.cep_first + 1);
}
void phone_of(Rng& r, const Place& p, bool mobile, std::string& line, Slot s) {
  FieldText t(line, s);
  t.add("(").digits(static_cast<std::uint64_t>(p.area), 2).add(") ");
  if (mobile) {
    t.add("9").digits(8000 + r.below(2000), 4);
  } else {
    t.digits(3000 + r.below(2000), 4);
  }
  t.add("-").digits(r.below(10000), 4);
}
void address_of(Rng& r, const Place& p, std::string& line, Slot street_slot, Slot district,
                Slot city, Slot state) {
  {
    FieldText t(line, street_slot);
    street(r, t);
  }
  put(line, district, r.pick(kDistricts));
  put(line, city, p.city);
  put(line, state, p.state);
}

}  // namespace lum::sample
