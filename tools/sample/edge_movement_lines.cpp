// The test data's lines of the movement files: payables, stock balances and receivables.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/sample/layouts.h"
#include "tools/sample/line_fields.h"
#include "tools/sample/lines.h"

namespace lum::sample {
namespace {

// ---------------------------------------------------------------------------------
// Payables

// The dates and amounts of a payable, which its case may change before they are packed.
struct PayableValues {
  std::uint64_t issue = 0, due = 0, paid_on = 0;
  std::uint64_t nominal = 0;  // cents, 9 integer digits at most
  std::uint64_t paid_amount = 0;
  char paid_sign = 'C';
  bool due_blank = false;
};

// Case lines: legacy codes that are found or not, unpaid and paid movements, invalid and
// blank dates, the nominal amount 1234.56, a negative and the largest amount.
void payable_case(int special, const TableDef& d, PayableValues& v, std::string& out) {
  switch (special) {
    case 0:
      put(out, slot(d, kPagCli), "00042");
      break;
    case 1:
      put(out, slot(d, kPagCli), "ABC  ");
      break;
    case 2:
      put(out, slot(d, kPagCli), "42");
      break;
    case 3:  // not paid, though a payment date stands there
      v.paid_amount = 0;
      break;
    case 4:
      v.paid_amount = v.nominal;
      v.paid_on = 0;
      break;
    case 5:
      v.issue = ddmmyyyy(5, 13, 2014);
      break;
    case 6:
      v.issue = 0;
      break;
    case 7:
      v.due_blank = true;
      break;
    case 8:  // digits 00000123456: 1234.56
      v.nominal = 123456;
      break;
    case 9:
      v.paid_amount = v.nominal;
      v.paid_sign = 'D';
      break;
    case 10:
      put(out, slot(d, kPagCli), " 525 ");
      break;
    case 11:
      v.nominal = 99999999999ull;
      v.paid_amount = 0;
      break;
    case 12:
      put(out, slot(d, kPagCli), "00777");
      break;
    default:
      break;
  }
}

// Dates and amounts as packed bytes, and the packed area (diagnostics only): interest,
// fine and a copy of the nominal amount.
void put_payable_numbers(Rng& r, const TableDef& d, const PayableValues& v, std::string& out) {
  Slot em = slot(d, kPagEmissao);
  put_packed(out.data() + em.off, 5, v.issue, 9, random_sign(r));
  put_packed(out.data() + em.off + 5, 5, v.paid_on, 9, random_sign(r));
  Slot ve = slot(d, kPagVencto);
  if (v.due_blank) {
    std::memset(out.data() + ve.off, ' ', 5);  // an unset packed field holds blanks
  } else {
    put_packed(out.data() + ve.off, 5, v.due, 9, random_sign(r));
  }
  Slot tx = slot(d, kPagTexto3);
  put_packed(out.data() + tx.off, 6, v.nominal, 11, 'C');
  put_packed(out.data() + tx.off + 6, 6, v.paid_amount, 11, v.paid_sign);
  put_packed(out.data() + tx.off + 12, 2, 1 + r.below(99), 3, 'F');

  char area[40];
  put_packed(area, 6, r.below64(100000), 11, 'C');
  put_packed(area + 6, 7, v.nominal, 13, 'C');
  put_packed(area + 13, 7, r.below64(10000), 13, 'C');
  put_packed(area + 20, 5, v.due, 9, 'F');
  put_packed(area + 25, 8, r.below64(1000000), 15, 'C');
  put_packed(area + 33, 7, 0, 13, 'C');
  put_area(out, d, {kPagLivre, kPagLivre2, kPagLivre3, kPagLivre4, kPagLivre5}, area);
}

}  // namespace

// The legacy code names a supplier; amounts and dates are packed.
void payable_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t suppliers,
                  bool legacy, std::string& out) {
  Rng r(seed);
  FieldText num(out, slot(d, kPagNumero));
  num.digits(1 + r.below(9999999), 7).add("/").digits(1 + r.below(12), 2);
  std::size_t code_range = legacy ? 12 : std::max<std::size_t>(suppliers, 1);
  FieldText(out, slot(d, kPagCli)).digits(i % code_range + 1, 5);

  PayableValues v;
  v.issue = random_date(r);
  v.due = random_date(r);
  v.paid_on = random_date(r);
  v.nominal = 100 + r.below64(10000000);
  bool paid = r.one_in(2);
  v.paid_amount = paid ? (r.one_in(3) ? v.nominal / 2 : v.nominal) : 0;
  {
    FieldText h(out, slot(d, kPagHistor));
    h.add("NF ").digits(r.below(1000000), 6).add(" PARC ").digits(1 + r.below(6), 1);
  }
  payable_case(special_case(i, 13), d, v, out);
  put_payable_numbers(r, d, v, out);
}

// ---------------------------------------------------------------------------------
// Balances

namespace {

struct BalanceValues {
  std::uint64_t stock = 0;  // 6.3
  std::uint64_t price = 0;  // 10.3
  std::uint64_t cost = 0;
  std::uint64_t last_cost = 0;
  char stock_sign = 'C';
};

// Case lines: types 1, 2, blank and others; codes that match no item, match with
// blanks, or match the wide item code; the stock 123.456 and a negative one; costs
// around the limit of 1000000 and prices beyond it.
void balance_case(int special, std::size_t i, const TableDef& d, BalanceValues& v,
                  std::string& out) {
  if (special >= 3) put(out, slot(d, kSalReg), "01");  // the value cases must be applied
  switch (special) {
    case 0:
      put(out, slot(d, kSalReg), "02");
      put(out, slot(d, kSalCodigo), "00001");
      break;
    case 1:
      put(out, slot(d, kSalReg), "  ");
      put(out, slot(d, kSalCodigo), "00002");
      break;
    case 2:
      put(out, slot(d, kSalReg), " 1");
      break;
    case 3:
      put(out, slot(d, kSalCodigo), "9" + std::to_string(1000 + i % 8999));
      break;
    case 4:  // 1000000.001: cleared
      v.cost = 1000000001ull;
      break;
    case 5:  // exactly 1000000: kept
      v.cost = 1000000000ull;
      break;
    case 6:
      v.last_cost = 5000000000ull;
      break;
    case 7:
      v.price = 7000000000ull;
      break;
    case 8:  // 000123456: 123.456
      v.stock = 123456;
      break;
    case 9:
      v.stock_sign = 'D';
      break;
    case 10:
      put(out, slot(d, kSalReg), "01");
      put(out, slot(d, kSalCodigo), "00042");
      break;
    case 11:
      put(out, slot(d, kSalReg), "1 ");
      put(out, slot(d, kSalCodigo), " 42");
      break;
    case 12:
      put(out, slot(d, kSalReg), "02");
      put(out, slot(d, kSalCodigo), "00042");
      break;
    case 13:
      put(out, slot(d, kSalReg), "01");
      put(out, slot(d, kSalCodigo), "78900");
      break;
    case 14:
      put(out, slot(d, kSalReg), "10");
      break;
    default:
      break;
  }
}

// The packed area of 100 bytes over LIVRE to LIVRE5.
void put_balance_area(Rng& r, const TableDef& d, const BalanceValues& v, std::string& out) {
  char area[100];
  put_packed(area, 5, r.below(100), 9, 'F');                 // 1-5 warehouse
  put_packed(area + 5, 6, r.below64(100000), 11, 'C');       // 6-11 minimum stock
  put_packed(area + 11, 5, v.stock, 9, v.stock_sign);        // 12-16 stock balance
  put_packed(area + 16, 7, r.below64(100000), 13, 'C');      // 17-23 reserved stock
  put_packed(area + 23, 7, r.below64(1000000000), 13, 'C');  // 24-30 previous price
  put_packed(area + 30, 7, r.below64(1000000000), 13, 'C');  // 31-37 promotion price
  put_packed(area + 37, 7, v.price, 13, 'C');                // 38-44 sale price
  put_packed(area + 44, 7, r.below64(1000000), 13, 'C');     // 45-51
  put_packed(area + 51, 7, r.below64(1000000), 13, 'C');     // 52-58
  put_packed(area + 58, 7, r.below64(1000000), 13, 'F');     // 59-65
  put_packed(area + 65, 7, v.cost, 13, 'C');                 // 66-72 cost
  put_packed(area + 72, 7, v.last_cost, 13, 'C');            // 73-79 last purchase cost
  put_packed(area + 79, 5, random_date(r), 9, 'F');          // 80-84 last purchase date
  put_packed(area + 84, 8, r.below64(1000000000), 15, 'C');  // 85-92
  put_packed(area + 92, 8, 0, 15, 'C');                      // 93-100
  put_area(out, d, {kSalLivre, kSalLivre2, kSalLivre3, kSalLivre4, kSalLivre5}, area);
}

}  // namespace

// Balances: packed area of 100 bytes; the run reads the stock balance at bytes 12-16,
// the sale price at 38-44, the cost at 66-72 and the last purchase cost at 73-79.
void balance_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t products,
                  std::string& out) {
  Rng r(seed);
  std::size_t p = std::max<std::size_t>(products, 1);
  put(out, slot(d, kSalReg), r.one_in(5) ? "02" : "01");
  FieldText(out, slot(d, kSalCodigo)).digits(product_code((i * 7) % p), 5);
  BalanceValues v;
  v.stock = r.below64(1000000000);
  v.price = r.below64(200000000ull);  // below 200 000
  v.cost = r.below64(900000000ull);   // below 900 000
  v.last_cost = r.below64(900000000ull);
  v.stock_sign = r.one_in(10) ? 'D' : 'C';
  balance_case(special_case(i, 15), i, d, v, out);
  put_balance_area(r, d, v, out);
}

// ---------------------------------------------------------------------------------
// Receivables

namespace {

// The dates and amounts of a receivable, which its case may change before they are
// written; the date texts view buffers of the caller or literals.
struct ReceivableValues {
  std::string_view issue_text, due_text;
  std::uint64_t paid_on = 0;
  std::uint64_t nominal = 0;  // cents
  std::uint64_t paid_amount = 0;
  char paid_sign = 'C';
};

// Case lines: client 525, unpaid and paid movements, invalid, blank and leap-day dates,
// a non-numeric client, a negative amount paid, a payment in month 13.
void receivable_case(int special, const TableDef& d, ReceivableValues& v, std::string& out) {
  switch (special) {
    case 0:
      put(out, slot(d, kRecCli), "00525");
      break;
    case 1:
      put(out, slot(d, kRecCli), "525");
      break;
    case 2:
      v.paid_amount = 0;
      break;
    case 3:
      v.paid_amount = v.nominal;
      v.paid_on = 0;
      break;
    case 4:
      v.issue_text = "05132014";
      break;
    case 5:
      v.issue_text = "";
      break;
    case 6:
      v.issue_text = "05032014";
      break;
    case 7:
      v.due_text = "29022013";
      break;
    case 8:
      v.due_text = "29022012";
      break;
    case 9:
      put(out, slot(d, kRecCli), "ABCDE");
      break;
    case 10:
      v.paid_amount = v.nominal;
      v.paid_sign = 'D';
      break;
    case 11:
      v.paid_amount = v.nominal;
      v.paid_on = ddmmyyyy(10, 13, 2013);
      break;
    default:
      break;
  }
}

// The dates as text, the nominal amount packed, and the packed area over LIVRE to LIVRE5:
// the amount paid at bytes 1-7, the payment date at 9-13.
void put_receivable_numbers(Rng& r, const TableDef& d, const ReceivableValues& v,
                            std::string& out) {
  put(out, slot(d, kRecEmissao), v.issue_text);
  put(out, slot(d, kRecVecto), v.due_text);
  put_packed(out.data() + slot(d, kRecTexto3).off, 8, v.nominal, 15, 'C');
  char area[35];
  put_packed(area, 7, v.paid_amount, 13, v.paid_sign);   // 1-7 amount paid
  put_packed(area + 7, 1, r.below(10), 1, 'C');          // 8 status
  put_packed(area + 8, 5, v.paid_on, 9, 'F');            // 9-13 payment date
  put_packed(area + 13, 7, r.below64(100000), 13, 'C');  // 14-20 interest
  put_packed(area + 20, 7, r.below64(10000), 13, 'C');   // 21-27 discount
  put_packed(area + 27, 5, random_date(r), 9, 'F');      // 28-32 last notice
  put_packed(area + 32, 3, r.below(100000), 5, 'C');     // 33-35 bank
  put_area(out, d, {kRecLivre, kRecLivre2, kRecLivre3, kRecLivre4, kRecLivre5}, area);
}

}  // namespace

// Receivables: text dates DDMMYYYY; amounts and the payment date packed.
void receivable_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::size_t clients,
                     std::string& out) {
  Rng r(seed);
  char buf[24];
  FieldText num(out, slot(d, kRecNumero));
  num.digits(1 + r.below(9999999), 7).add("/").digits(1 + r.below(12), 2);
  FieldText(out, slot(d, kRecCli)).digits(i % std::max<std::size_t>(clients, 1) + 1, 5);
  ReceivableValues v;
  std::uint64_t issue = random_date(r), due = random_date(r);
  v.paid_on = random_date(r);
  v.nominal = 100 + r.below64(100000000);
  bool paid = r.one_in(2);
  v.paid_amount = paid ? v.nominal + r.below(1000) : 0;
  v.issue_text = digit_text(buf, issue, 8);
  char due_buf[16];
  v.due_text = digit_text(due_buf, due, 8);
  receivable_case(special_case(i, 12), d, v, out);
  put_receivable_numbers(r, d, v, out);
}

}  // namespace lum::sample
