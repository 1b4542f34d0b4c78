// The test data's lines of the master files: suppliers, products and clients.
#include <cstdio>
#include <string_view>

#include "tools/sample/content.h"
#include "tools/sample/layouts.h"
#include "tools/sample/line_fields.h"
#include "tools/sample/lines.h"

namespace lum::sample {
namespace {

// ---------------------------------------------------------------------------------
// Suppliers

// A company's taxpayer number in the forms users typed it into the old system.
class CnpjForms {
 public:
  explicit CnpjForms(Rng& r) {
    char buf[32];
    root_ = std::string(digit_text(buf, r.below64(100000000), 8));
    branch_ = 1 + r.below(9);
    check_ = r.below(100);
  }
  // 0: 12345678/000195; 1: 12.345.678/0001-95, both separators, the field filled;
  // 2: 12345678000195; 3: 12345678-000195. The text lasts until the next call.
  std::string_view text(int form) {
    const auto branch = static_cast<unsigned long long>(branch_);
    const auto check = static_cast<unsigned long long>(check_);
    switch (form) {
      case 0:
        std::snprintf(text_, sizeof text_, "%s/%04llu%02llu", root_.c_str(), branch, check);
        break;
      case 1:
        std::snprintf(text_, sizeof text_, "%.2s.%.3s.%.3s/%04llu-%02llu", root_.c_str(),
                      root_.c_str() + 2, root_.c_str() + 5, branch, check);
        break;
      case 2:
        std::snprintf(text_, sizeof text_, "%s%04llu%02llu", root_.c_str(), branch, check);
        break;
      default:
        std::snprintf(text_, sizeof text_, "%s-%04llu%02llu", root_.c_str(), branch, check);
        break;
    }
    return text_;
  }

 private:
  std::string root_;
  std::uint64_t branch_ = 0;
  std::uint64_t check_ = 0;
  char text_[32] = {};
};

// The numbers of a supplier line, which its case may change before they are written.
struct SupplierNumbers {
  std::uint64_t cep = 0;
  char cep_sign = 'C';
  std::string_view cnpj;
  std::string_view insest;
};

// Company and trade name, address.
void supplier_names(Rng& r, const TableDef& d, std::string& out) {
  {
    FieldText t(out, slot(d, kSupRazao));
    company_name(r, t);
  }
  if (!r.one_in(5)) {
    FieldText t(out, slot(d, kSupFant));
    t.word(r.pick(kSurnames)).word(r.pick(kCompanyWords));
  }
  any_address(r, out, slot(d, kSupEnd), slot(d, kSupBairro), slot(d, kSupCidade),
              slot(d, kSupEstado));
}

// Telephones and the contact's name.
void supplier_contacts(Rng& r, const TableDef& d, std::string& out) {
  phone(r, out, slot(d, kSupFone1));
  if (r.one_in(2)) phone(r, out, slot(d, kSupFone2));
  if (r.one_in(2)) phone(r, out, slot(d, kSupFax));
  FieldText t(out, slot(d, kSupContato));
  person_name(r, t);
}

// Case lines: codes 00042 and non-numeric, a zero postal code, the taxpayer number
// forms the cleaning must handle, state registrations that are blanked.
void supplier_case(int special, const TableDef& d, CnpjForms& cnpj, SupplierNumbers& n,
                   std::string& out) {
  switch (special) {
    case 0:
      put(out, slot(d, kSupCodigo), "00042");
      break;
    case 1:
      put(out, slot(d, kSupCodigo), "ABC12");
      break;
    case 2:
      n.cep = 0;
      break;
    case 3:
      n.cnpj = cnpj.text(0);
      break;
    case 4:
      n.cnpj = cnpj.text(3);
      break;
    case 5:
      n.cnpj = cnpj.text(2);
      break;
    case 6:
      n.cnpj = cnpj.text(1);
      break;
    case 7:
      n.cnpj = "";
      break;
    case 8:
      n.cnpj = "00000000000000";
      break;
    case 9:
      n.insest = "000123456789";
      break;
    case 10:
      n.insest = "";
      break;
    case 11:
      n.insest = "ISENTO";
      n.cnpj = "ISENTO";
      break;
    case 12:
      n.insest = "  12345";
      break;
    case 13:
      n.cep_sign = 'D';
      break;
    case 14:
      put(out, slot(d, kSupCodigo), " 7 ");
      break;
    default:
      break;
  }
}

}  // namespace

void supplier_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out) {
  Rng r(seed);
  FieldText(out, slot(d, kSupCodigo)).digits(i % 99999 + 1, 5);
  supplier_names(r, d, out);
  SupplierNumbers n;
  n.cep = 10000000 + r.below64(89999999);
  n.cep_sign = random_sign(r);
  supplier_contacts(r, d, out);
  CnpjForms cnpj(r);
  n.cnpj = cnpj.text(static_cast<int>(r.below(4)));
  char insest[24];
  {
    const unsigned g4 = r.below(1000), g3 = r.below(1000), g2 = r.below(1000);
    const unsigned g1 = 100 + r.below(900);
    std::snprintf(insest, sizeof insest, "%03u.%03u.%03u.%03u", g1, g2, g3, g4);
  }
  n.insest = r.one_in(4) ? std::string_view("ISENTO") : insest;
  put(out, slot(d, kSupLivre), "");
  put_packed(out.data() + slot(d, kSupLivre).off, 3, 30 + r.below(60), 5, 'C');
  supplier_case(special_case(i, 15), d, cnpj, n, out);
  put_packed(out.data() + slot(d, kSupCep).off, 5, n.cep, 8, n.cep_sign);
  put(out, slot(d, kSupCnpj), n.cnpj);
  put(out, slot(d, kSupInsest), n.insest);
}

// ---------------------------------------------------------------------------------
// Products

// Codes repeat the pattern of product_code(); barcodes begin with 78900.
void product_line(const TableDef& d, std::uint64_t seed, std::size_t i, std::string& out) {
  Rng r(seed);
  char buf[32];
  FieldText(out, slot(d, kPrdCodigo)).digits(product_code(i), 5);
  {
    FieldText t(out, slot(d, kPrdDescri));
    t.word(r.pick(kProductNouns)).word(r.pick(kProductGrades));
    if (r.one_in(2)) t.word(r.pick(kProductGrades));
  }
  if (!r.one_in(4)) {
    FieldText t(out, slot(d, kPrdLivre21));
    t.add("R-").digits(r.below(100000), 5);
  }
  bool barcode = !r.one_in(4);
  std::string_view code13 = digit_text(buf, 7890000000000ull + r.below64(10000000), 13);
  if (barcode) put(out, slot(d, kPrdLivre22), code13);
  {
    FieldText t(out, slot(d, kPrdRefer));
    t.add(r.pick(kShelves)).add(" ").digits(r.below(100), 2).add("-").digits(r.below(10), 1);
  }
  put(out, slot(d, kPrdUnidad), r.pick(kUnits));
  if (!r.one_in(3)) {
    FieldText t(out, slot(d, kPrdObs));
    t.add("LINHA ").add(r.pick(kProductGrades));
  }
  if (!r.one_in(4)) put(out, slot(d, kPrdNomelv), r.pick(kBrands));
  Slot lv = slot(d, kPrdLivre);
  put_packed(out.data() + lv.off, 7, r.below64(100000000), 13, 'C');
  put_packed(out.data() + lv.off + 7, 5, random_date(r), 9, 'F');
  put_packed(out.data() + lv.off + 12, 4, r.below(1000000), 7, 'C');

  switch (special_case(i, 10)) {
    case 0:
      put(out, slot(d, kPrdCodigo), "00042");
      break;
    case 1:
      put(out, slot(d, kPrdCodigo), "XYZ01");
      break;
    case 2:
      put(out, slot(d, kPrdObs), "");
      put(out, slot(d, kPrdNomelv), "  FORTEX  ");
      break;
    case 3:
      put(out, slot(d, kPrdObs), "");
      put(out, slot(d, kPrdNomelv), "");
      break;
    case 4:
      put(out, slot(d, kPrdLivre22), "");
      break;
    case 5:
      put(out, slot(d, kPrdLivre21), "  AB 12");
      break;
    case 6:  // a second item with code 42
      put(out, slot(d, kPrdCodigo), "00042");
      break;
    case 7:
      put(out, slot(d, kPrdCodigo), " 77");
      break;
    case 8:
      put(out, slot(d, kPrdObs), "LINHA PROFISSIONAL X");
      put(out, slot(d, kPrdNomelv), "METALURGICA NORTEC");
      break;
    case 9:
      put(out, slot(d, kPrdRefer), "DEPOSITO 12-A-07");
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------
// Clients

namespace {

// The numbers of a client line, packed after its case may have changed them. People
// carry a CPF, companies a CNPJ, the other number being zero.
struct ClientNumbers {
  std::uint64_t cpf = 0;
  std::uint64_t cnpj = 0;
  std::uint64_t cpf_prefix = 0;  // the two leading digits the conversion does not take
  std::uint64_t cep = 0;
  char cpf_sign = 'C', cnpj_sign = 'C', cep_sign = 'C';
};

// Name, trade name, address.
void client_names(Rng& r, const TableDef& d, bool company, std::string& out) {
  {
    FieldText t(out, slot(d, kCliNome));
    if (company) {
      company_name(r, t);
    } else {
      person_name(r, t);
    }
  }
  if (!r.one_in(6)) {
    FieldText t(out, slot(d, kCliFant));
    t.word(r.pick(kSurnames)).word(company ? r.pick(kCompanyWords) : r.pick(kFirstNames));
  }
  any_address(r, out, slot(d, kCliEnd), slot(d, kCliBairro), slot(d, kCliCidade),
              slot(d, kCliEstado));
}

// State registration, profession, telephones, concept, parents, e-mail, the date of
// registration and the packed spare bytes.
void client_details(Rng& r, const TableDef& d, std::string& out) {
  if (!r.one_in(3)) {
    char buf[24];
    const unsigned g3 = r.below(1000), g2 = r.below(1000), g1 = r.below(1000);
    std::snprintf(buf, sizeof buf, "%03u.%03u.%03u", g1, g2, g3);
    put(out, slot(d, kCliInsest), buf);
  }
  put(out, slot(d, kCliProfis), r.pick(kProfessions));
  phone(r, out, slot(d, kCliFone));
  if (r.one_in(3)) phone(r, out, slot(d, kCliFax));
  if (r.one_in(2)) phone(r, out, slot(d, kCliCel));
  put(out, slot(d, kCliConceito), r.pick(kConcepts));
  {
    FieldText t(out, slot(d, kCliNomema));
    t.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  }
  if (!r.one_in(4)) {
    FieldText t(out, slot(d, kCliNomepa));
    t.word(r.pick(kFirstNames)).word(r.pick(kSurnames));
  }
  if (r.one_in(2)) lower_email(r, out, slot(d, kCliEmail));
  {
    char buf[16];
    put(out, slot(d, kCliDtcad), digit_text(buf, random_date(r), 8));
  }
  Slot lv = slot(d, kCliLivre);
  put_packed(out.data() + lv.off, 7, r.below64(100000000), 13, 'C');  // credit limit
  put_packed(out.data() + lv.off + 7, 5, random_date(r), 9, 'F');     // last purchase
}

// Case lines: odd codes, blank and cut trade names, zero and short identity numbers,
// the two leading digits of the CPF, a zero postal code, state registrations, signs,
// texts longer than their target fields.
void client_case(int special, const TableDef& d, ClientNumbers& n, std::string& out) {
  switch (special) {
    case 0:
      put(out, slot(d, kCliCodigo), "00042");
      break;
    case 1:
      put(out, slot(d, kCliCodigo), "ABC12");
      break;
    case 2:
      put(out, slot(d, kCliCodigo), "00525");
      break;
    case 3:
      put(out, slot(d, kCliFant), "");
      break;
    case 4:  // a trade name beyond the target's 25 characters reads as blank there
      put(out, slot(d, kCliFant), "                         LTDA");
      break;
    case 5:
      n.cpf = 0;
      n.cnpj = 0;
      break;
    case 6:  // 13 digits 0000000000012: the first 11 are zero
      n.cpf = 12;
      n.cnpj = 0;
      break;
    case 7:
      n.cpf = 12345678901ull;
      n.cpf_prefix = 47;
      break;
    case 8:
      n.cep = 0;
      break;
    case 9:
      n.cnpj = 0;
      n.cpf = 98765432100ull;
      break;
    case 10:
      put(out, slot(d, kCliInsest), "");
      break;
    case 11:
      put(out, slot(d, kCliInsest), "ISENTO");
      break;
    case 12:
      n.cpf_sign = 'F';
      n.cnpj_sign = 'D';
      n.cnpj = 12345678000195ull;
      break;
    case 13:
      put(out, slot(d, kCliCodigo), " 42");
      break;
    case 14:
      put(out, slot(d, kCliCodigo), "-0042");
      break;
    case 15:
      put(out, slot(d, kCliNome), "COMERCIAL DE FERRAGENS E MATERIAIS LTDA1");
      put(out, slot(d, kCliEmail), "contato.financeiro.departamento@exemplo.com.br.xx");
      break;
    case 16:
      put(out, slot(d, kCliInsest), "   ");
      put(out, slot(d, kCliFant), "\t");
      break;
    default:
      break;
  }
}

}  // namespace

void client_line(const TableDef& d, std::uint64_t seed, std::size_t i, bool crlf,
                 std::string& out) {
  Rng r(seed);
  FieldText(out, slot(d, kCliCodigo)).digits(i % 99999 + 1, 5);
  bool company = r.one_in(3);
  client_names(r, d, company, out);
  ClientNumbers n;
  n.cpf = company ? 0 : 1000000000ull + r.below64(98999999999ull);  // 11 digits
  n.cnpj = company ? 10000000000000ull + r.below64(89999999999999ull) : 0;
  n.cep = 10000000 + r.below64(89999999);
  n.cep_sign = random_sign(r);
  client_details(r, d, out);
  client_case(special_case(i, 17), d, n, out);
  // CPF_CLI: 8 bytes, 15 digits: two leading digits the run drops, then 13 digits
  // ("00" and the 11-digit number).
  put_packed(out.data() + slot(d, kCliCpf).off, 8, n.cpf_prefix * 10000000000000ull + n.cpf, 15,
             n.cpf_sign);
  put_packed(out.data() + slot(d, kCliCep).off, 5, n.cep, 8, n.cep_sign);
  put_packed(out.data() + slot(d, kCliCnpj).off, 8, n.cnpj, 14, n.cnpj_sign);
  if (crlf) {
    // A CR LF pair inside the packed CNPJ bytes: the import cuts the line there.
    Slot s = slot(d, kCliCnpj);
    out[static_cast<std::size_t>(s.off + 3)] = '\r';
    out[static_cast<std::size_t>(s.off + 4)] = '\n';
  }
}

}  // namespace lum::sample
