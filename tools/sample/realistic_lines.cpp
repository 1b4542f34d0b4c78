// The realistic sample's lines: what a small business's export looks like.
#include <algorithm>
#include <string>

#include "tools/sample/content.h"
#include "tools/sample/layouts.h"
#include "tools/sample/line_fields.h"
#include "tools/sample/lines.h"

namespace lum::sample {

void realistic_supplier_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                             std::string& out) {
  Rng r(seed);
  FieldText(out, slot(d, kSupCodigo)).digits(i % 99999 + 1, 5);
  {
    FieldText t(out, slot(d, kSupRazao));
    company_name(r, t);
  }
  {
    FieldText t(out, slot(d, kSupFant));
    t.word(r.pick(kSurnames)).word(r.pick(kCompanyWords));
  }
  const Place& p = r.pick(kPlaces);
  address_of(r, p, out, slot(d, kSupEnd), slot(d, kSupBairro), slot(d, kSupCidade),
             slot(d, kSupEstado));
  put_packed(out.data() + slot(d, kSupCep).off, 5, cep_of(r, p), 8, 'C');
  phone_of(r, p, false, out, slot(d, kSupFone1));
  if (r.one_in(2)) phone_of(r, p, true, out, slot(d, kSupFone2));
  if (r.one_in(3)) phone_of(r, p, false, out, slot(d, kSupFax));
  {
    FieldText t(out, slot(d, kSupContato));
    person_name(r, t);
  }
  char buf[24];
  put(out, slot(d, kSupCnpj), digit_text(buf, valid_cnpj(r), 14));  // digits only, as exported
  if (r.one_in(6)) {
    put(out, slot(d, kSupInsest), "ISENTO");
  } else {
    put(out, slot(d, kSupInsest),
        digit_text(buf, 100000000000ull + r.below64(899999999999ull), 12));
  }
  put(out, slot(d, kSupLivre), "");
  put_packed(out.data() + slot(d, kSupLivre).off, 3, 30 + r.below(60), 5, 'C');
}

void realistic_payable_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::size_t suppliers, bool legacy, std::string& out) {
  Rng r(seed);
  FieldText num(out, slot(d, kPagNumero));
  num.digits(100000 + r.below(900000), 6).add("/").digits(1 + r.below(6), 2);
  const std::size_t codes = legacy ? kLegacyCodes : std::max<std::size_t>(suppliers, 1);
  FieldText(out, slot(d, kPagCli)).digits(i % codes + 1, 5);
  {
    FieldText h(out, slot(d, kPagHistor));
    h.add("NF ").digits(1000 + r.below(900000), 6).add(" PARC ").digits(1 + r.below(3), 1);
  }
  const std::int64_t issue = recent_day(r);
  const std::int64_t due = issue + 30 * (1 + static_cast<std::int64_t>(r.below(3)));
  const bool paid = !r.one_in(3);
  const std::int64_t paid_on = due - 5 + static_cast<std::int64_t>(r.below(12));
  const std::uint64_t nominal = cents(r, 5000, 2500000);
  const std::uint64_t paid_amount = paid ? nominal + (paid_on > due ? nominal / 100 : 0) : 0;
  Slot em = slot(d, kPagEmissao);
  put_packed(out.data() + em.off, 5, ddmmyyyy_of(issue), 9, 'F');
  put_packed(out.data() + em.off + 5, 5, paid ? ddmmyyyy_of(std::max(paid_on, due)) : 0, 9, 'F');
  put_packed(out.data() + slot(d, kPagVencto).off, 5, ddmmyyyy_of(due), 9, 'F');
  Slot tx = slot(d, kPagTexto3);
  put_packed(out.data() + tx.off, 6, nominal, 11, 'C');
  put_packed(out.data() + tx.off + 6, 6, paid_amount, 11, 'C');
  put_packed(out.data() + tx.off + 12, 2, 1 + r.below(3), 3, 'F');
  char area[40];
  put_packed(area, 6, paid_amount > nominal ? paid_amount - nominal : 0, 11, 'C');  // interest
  put_packed(area + 6, 7, nominal, 13, 'C');
  put_packed(area + 13, 7, 0, 13, 'C');  // discount
  put_packed(area + 20, 5, ddmmyyyy_of(due), 9, 'F');
  put_packed(area + 25, 8, 1000 + r.below64(9000), 15, 'C');  // bank account
  put_packed(area + 33, 7, 0, 13, 'C');
  put_area(out, d, {kPagLivre, kPagLivre2, kPagLivre3, kPagLivre4, kPagLivre5}, area);
}

void realistic_product_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::string& out) {
  Rng r(seed);
  char buf[24];
  FieldText(out, slot(d, kPrdCodigo)).digits(product_code(i), 5);
  {
    FieldText t(out, slot(d, kPrdDescri));
    t.word(r.pick(kProductNouns)).word(r.pick(kProductGrades)).word(r.pick(kBrands));
  }
  FieldText(out, slot(d, kPrdLivre21)).add("R-").digits(10000 + r.below(90000), 5);
  put(out, slot(d, kPrdLivre22), digit_text(buf, valid_ean13(r), 13));
  {
    FieldText t(out, slot(d, kPrdRefer));
    t.add(r.pick(kShelves)).add(" ").digits(1 + r.below(40), 2).add("-").digits(1 + r.below(6), 1);
  }
  put(out, slot(d, kPrdUnidad), r.pick(kUnits));
  if (!r.one_in(4)) {
    FieldText t(out, slot(d, kPrdObs));
    t.add("LINHA ").add(r.pick(kProductGrades));
  }
  put(out, slot(d, kPrdNomelv), r.pick(kBrands));
  Slot lv = slot(d, kPrdLivre);
  put_packed(out.data() + lv.off, 7, r.below64(1000000), 13, 'C');
  put_packed(out.data() + lv.off + 7, 5, ddmmyyyy_of(recent_day(r)), 9, 'F');
  put_packed(out.data() + lv.off + 12, 4, r.below(1000), 7, 'C');
}

void realistic_balance_line(const TableDef& d, std::uint64_t seed, std::size_t i,
                            std::size_t products, std::string& out) {
  Rng r(seed);
  const std::size_t p = std::max<std::size_t>(products, 1);
  put(out, slot(d, kSalReg), i < p ? "01" : "02");
  FieldText(out, slot(d, kSalCodigo)).digits(product_code(i % p), 5);
  // Thousandths: whole units mostly, sometimes weighed or measured quantities.
  const std::uint64_t units = r.below64(400);
  const std::uint64_t stock = units * 1000 + (r.one_in(4) ? r.below(1000) : 0);
  const std::uint64_t cost = 450 + r.below64(1200000);  // 0.450 to 1200.450
  const std::uint64_t price = cost * (130 + r.below(71)) / 100;
  const std::uint64_t last_cost = cost * (95 + r.below(11)) / 100;
  char area[100];
  put_packed(area, 5, 1 + r.below(3), 9, 'F');                   // 1-5 warehouse
  put_packed(area + 5, 6, stock / 10, 11, 'C');                  // 6-11 minimum stock
  put_packed(area + 11, 5, stock, 9, 'C');                       // 12-16 stock balance
  put_packed(area + 16, 7, 0, 13, 'C');                          // 17-23 reserved stock
  put_packed(area + 23, 7, price * 97 / 100, 13, 'C');           // 24-30 previous price
  put_packed(area + 30, 7, price * 90 / 100, 13, 'C');           // 31-37 promotion price
  put_packed(area + 37, 7, price, 13, 'C');                      // 38-44 sale price
  put_packed(area + 44, 7, 0, 13, 'C');                          // 45-51
  put_packed(area + 51, 7, 0, 13, 'C');                          // 52-58
  put_packed(area + 58, 7, 0, 13, 'F');                          // 59-65
  put_packed(area + 65, 7, cost, 13, 'C');                       // 66-72 cost
  put_packed(area + 72, 7, last_cost, 13, 'C');                  // 73-79 last purchase cost
  put_packed(area + 79, 5, ddmmyyyy_of(recent_day(r)), 9, 'F');  // 80-84 last purchase date
  put_packed(area + 84, 8, stock * 3, 15, 'C');                  // 85-92 sold this year
  put_packed(area + 92, 8, 0, 15, 'C');                          // 93-100
  put_area(out, d, {kSalLivre, kSalLivre2, kSalLivre3, kSalLivre4, kSalLivre5}, area);
}

void realistic_client_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out) {
  Rng r(seed);
  FieldText(out, slot(d, kCliCodigo)).digits(i % 99999 + 1, 5);
  const bool company = r.one_in(3);
  {
    FieldText t(out, slot(d, kCliNome));
    if (company) {
      company_name(r, t);
    } else {
      person_name(r, t);
    }
  }
  if (company) {
    FieldText t(out, slot(d, kCliFant));
    t.word(r.pick(kSurnames)).word(r.pick(kCompanyWords));
  }
  const Place& p = r.pick(kPlaces);
  address_of(r, p, out, slot(d, kCliEnd), slot(d, kCliBairro), slot(d, kCliCidade),
             slot(d, kCliEstado));
  char buf[24];
  if (company)
    put(out, slot(d, kCliInsest), digit_text(buf, 100000000ull + r.below64(899999999), 9));
  put(out, slot(d, kCliProfis), company ? "COMERCIANTE" : r.pick(kProfessions));
  phone_of(r, p, false, out, slot(d, kCliFone));
  if (company && r.one_in(2)) phone_of(r, p, false, out, slot(d, kCliFax));
  if (!company || r.one_in(2)) phone_of(r, p, true, out, slot(d, kCliCel));
  put(out, slot(d, kCliConceito), r.one_in(5) ? "B" : "A");
  if (!company) {
    FieldText m(out, slot(d, kCliNomema));
    m.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
    FieldText f(out, slot(d, kCliNomepa));
    f.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  }
  if (!r.one_in(3)) lower_email(r, out, slot(d, kCliEmail));
  put(out, slot(d, kCliDtcad),
      digit_text(buf, ddmmyyyy_of(day_number(2015, 1, 1) + r.below(3000)), 8));
  Slot lv = slot(d, kCliLivre);
  put_packed(out.data() + lv.off, 7, 100000 * (1 + r.below(50)), 13, 'C');  // credit limit
  put_packed(out.data() + lv.off + 7, 5, ddmmyyyy_of(recent_day(r)), 9, 'F');
  // CPF_CLI: 15 digits, the 11 of the number after four zeros; CNPJ_CLI: 14 digits.
  put_packed(out.data() + slot(d, kCliCpf).off, 8, company ? 0 : valid_cpf(r), 15, 'C');
  put_packed(out.data() + slot(d, kCliCep).off, 5, cep_of(r, p), 8, 'C');
  put_packed(out.data() + slot(d, kCliCnpj).off, 8, company ? valid_cnpj(r) : 0, 14, 'C');
}

void realistic_receivable_line(const TableDef& d, std::uint64_t seed, std::size_t clients,
                               std::string& out) {
  Rng r(seed);
  char buf[24];
  FieldText num(out, slot(d, kRecNumero));
  num.digits(100000 + r.below(900000), 6).add("/").digits(1 + r.below(6), 2);
  FieldText(out, slot(d, kRecCli)).digits(r.below64(std::max<std::size_t>(clients, 1)) + 1, 5);
  const std::int64_t issue = recent_day(r);
  const std::int64_t due = issue + 30 * (1 + static_cast<std::int64_t>(r.below(3)));
  const bool paid = !r.one_in(3);
  const std::int64_t paid_on = due + static_cast<std::int64_t>(r.below(8));
  const std::uint64_t nominal = cents(r, 5000, 1500000);
  const std::uint64_t paid_amount = paid ? nominal + (paid_on > due + 3 ? nominal / 100 : 0) : 0;
  put(out, slot(d, kRecEmissao), digit_text(buf, ddmmyyyy_of(issue), 8));
  put(out, slot(d, kRecVecto), digit_text(buf, ddmmyyyy_of(due), 8));
  put_packed(out.data() + slot(d, kRecTexto3).off, 8, nominal, 15, 'C');
  char area[35];
  put_packed(area, 7, paid_amount, 13, 'C');                         // 1-7 amount paid
  put_packed(area + 7, 1, paid ? 2 : 1, 1, 'C');                     // 8 status
  put_packed(area + 8, 5, paid ? ddmmyyyy_of(paid_on) : 0, 9, 'F');  // 9-13 payment date
  put_packed(area + 13, 7, paid_amount > nominal ? paid_amount - nominal : 0, 13, 'C');  // interest
  put_packed(area + 20, 7, 0, 13, 'C');                // 21-27 discount
  put_packed(area + 27, 5, ddmmyyyy_of(due), 9, 'F');  // 28-32 last notice
  put_packed(area + 32, 3, 1 + r.below(999), 5, 'C');  // 33-35 bank
  put_area(out, d, {kRecLivre, kRecLivre2, kRecLivre3, kRecLivre4, kRecLivre5}, area);
}

}  // namespace lum::sample
