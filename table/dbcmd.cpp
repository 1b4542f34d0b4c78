#include "table/dbcmd.h"

#include <string>
#include <string_view>

#include "platform/text.h"
#include "runtime/error.h"
#include "runtime/runtime.h"
#include "table/workareas.h"

namespace lum {

namespace {

constexpr std::size_t kMaxDriverName = 32;
constexpr std::size_t kMaxFileName = 263;
constexpr std::size_t kMaxDerivedAlias = 32;

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An alias is a letter or "_" followed by letters, digits or "_" (trailing blanks are
// already gone).
bool valid_alias(std::string_view a) {
  if (a.empty() || !(is_letter(a[0]) || a[0] == '_')) return false;
  for (char c : a) {
    if (!(is_letter(c) || is_digit(c) || c == '_')) return false;
  }
  return true;
}

// The name part of a file name: no directory, no extension, the part after a ':'.
std::string_view name_part(std::string_view name) {
  std::size_t cut = name.find_last_of("\\/:");
  if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
  std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return name;
}

bool has_extension(std::string_view name) {
  std::size_t cut = name.find_last_of("\\/:");
  std::size_t dot = name.rfind('.');
  return dot != std::string_view::npos && (cut == std::string_view::npos || dot > cut);
}

void select_number(WorkAreas& wa, std::int64_t n) {
  if (n >= 1 && n <= static_cast<std::int64_t>(kMaxArea)) {
    wa.select(static_cast<AreaNumber>(n));
    return;
  }
  if (AreaNumber free = wa.first_free()) wa.select(free);
}

// DBUSEAREA's arguments as the driver's open takes them, with the errors of bad ones
// raised (false then). The alias is derived from the name when none is given.
bool open_arguments(const Value& driver, const Value& name, const Value& alias, const Value& shared,
                    const Value& read_only, const Value& codepage, std::string& drv,
                    OpenInfo& info) {
  drv.clear();
  if (driver.is_string())
    drv =
        ascii_upper(trim_trailing_blanks(std::string_view(driver.str()).substr(0, kMaxDriverName)));
  if (drv.empty()) drv = default_driver();
  if (!driver_registered(drv)) {
    raise_dbcmd(kErrArgument, kNoDriverOrArea, "DBUSEAREA", 0);
    return false;
  }
  if (!name.is_string() || name.str().empty()) {
    raise_dbcmd(kErrArgument, kNoFileOrDriver, "DBUSEAREA", 0);
    return false;
  }
  std::string file(std::string_view(name.str()).substr(0, kMaxFileName));
  if (!has_extension(file) && Runtime::current().settings().defextensions) file += ".dbf";

  std::string al;
  if (alias.is_string()) al = ascii_upper(trim_trailing_blanks(alias.str()));
  if (al.empty())
    al = ascii_upper(trim_trailing_blanks(name_part(file).substr(0, kMaxDerivedAlias)));

  info = OpenInfo();
  info.name = file;
  info.alias = al;
  info.shared = shared.is_logical() ? shared.log() : !Runtime::current().settings().exclusive;
  info.read_only = read_only.is_logical() && read_only.log();
  if (codepage.is_string()) info.codepage = codepage.str();
  return true;
}

}  // namespace

void raise_dbcmd(int gencode, int subcode, std::string operation, int flags) {
  ErrorObject e = make_error(gencode, "DBCMD", subcode, std::move(operation), flags);
  raise(e);
}

Area* current_table_for(const char* operation) {
  Area* a = WorkAreas::get().current();
  if (a == nullptr) raise_dbcmd(kErrNoTable, kWorkareaNotInUse, operation, kCanDefault);
  return a;
}

bool DBUSEAREA(const Value& new_area, const Value& driver, const Value& name, const Value& alias,
               const Value& shared, const Value& read_only, const Value& codepage, const Value&) {
  WorkAreas& wa = WorkAreas::get();
  if (new_area.is_logical() && new_area.log()) {
    AreaNumber free = wa.first_free();
    if (free == 0) {
      // Every area is taken: the argument error of an open whose driver cannot have its
      // area (1015, as for an unknown driver). The current area stays as it was.
      raise_dbcmd(kErrArgument, kNoDriverOrArea, "DBUSEAREA", 0);
      return false;
    }
    wa.select(free);
  } else if (wa.current() != nullptr && !wa.close(wa.current_number())) {
    return false;
  }
  wa.set_neterr(false);

  std::string drv;
  OpenInfo info;
  if (!open_arguments(driver, name, alias, shared, read_only, codepage, drv, info)) return false;
  const std::string& al = info.alias;

  std::unique_ptr<Area> area = make_area(drv);
  if (!area->open(info)) return false;
  if (!valid_alias(al)) {
    raise_dbcmd(kErrAliasIllegal, kIllegalAlias, al, kCanDefault);
    area->close();
    return false;
  }
  if (wa.find_alias(al) != nullptr) {
    raise_dbcmd(kErrAliasInUse, kAliasInUse, al, kCanDefault);
    area->close();
    return false;
  }
  area->set_alias(al);
  wa.attach(wa.current_number(), std::move(area));
  return true;
}

bool probe_table_open(const Value& driver, const Value& name, const Value& shared,
                      const Value& read_only, const Value& codepage) {
  WorkAreas& wa = WorkAreas::get();
  wa.set_neterr(false);
  std::string drv;
  OpenInfo info;
  if (!open_arguments(driver, name, Value(), shared, read_only, codepage, drv, info)) return false;
  std::unique_ptr<Area> area = make_area(drv);
  if (!area->open(info)) return false;
  // Nothing was changed, so the close writes nothing: no record, no header.
  area->close();
  return true;
}

void DBSELECTAREA(const Value& area) {
  WorkAreas& wa = WorkAreas::get();
  if (area.is_string()) {
    // The error object is made on the first failure only; each retry looks up again.
    // Declined, the current area stays.
    with_retry(
        [&] { return make_error(kErrNoAlias, "BASE", kAliasNotFound, area.str(), kCanRetry); },
        [&](int&) {
          AreaNumber n = wa.lookup_for_select(area.str());
          if (n == 0) return false;
          select_number(wa, n);
          return true;
        });
    return;
  }
  if (area.is_number()) {
    const Number& n = area.num();
    double v = n.as_double();
    select_number(wa, v >= 1 && v <= kMaxArea ? static_cast<std::int64_t>(v) : 0);
    return;
  }
  select_number(wa, 0);
}

void DBCLOSEAREA() {
  WorkAreas& wa = WorkAreas::get();
  wa.close(wa.current_number());
}

void DBCLOSEALL() { WorkAreas::get().close_all(); }

void DBGOTOP() {
  if (Area* a = current_table_for("DBGOTOP")) a->go_top();
}

void DBGOBOTTOM() {
  if (Area* a = current_table_for("DBGOBOTTOM")) a->go_bottom();
}

void DBGOTO(std::int64_t recno) {
  if (Area* a = current_table_for("DBGOTO")) {
    a->go_to(recno >= 0 && recno <= 0xFFFFFFFFLL ? static_cast<RecNo>(recno) : 0);
  }
}

void DBSKIP(std::int64_t n) {
  if (Area* a = current_table_for("DBSKIP")) a->skip(n);
}

bool DBEOF() {
  Area* a = WorkAreas::get().current();
  return a == nullptr || a->eof();
}

bool DBBOF() {
  Area* a = WorkAreas::get().current();
  return a == nullptr || a->bof();
}

std::uint32_t RECNO() {
  Area* a = WorkAreas::get().current();
  return a == nullptr ? 0 : a->recno();
}

std::uint32_t LASTREC() {
  Area* a = WorkAreas::get().current();
  return a == nullptr ? 0 : a->record_count();
}

bool DELETED() {
  Area* a = WorkAreas::get().current();
  bool del = false;
  if (a != nullptr && !a->deleted(del)) return false;
  return del;
}

bool DBAPPEND(bool unlock_all) {
  Area* a = current_table_for("DBAPPEND");
  if (a == nullptr) return false;
  WorkAreas::get().set_neterr(false);
  return a->append(unlock_all);
}

bool cmd::DBZAP() {
  Area* a = current_table_for("__DBZAP");
  return a != nullptr && a->zap();
}

void DBCOMMIT() {
  if (Area* a = current_table_for("DBCOMMIT")) a->flush();
}

void DBDELETE() {
  if (Area* a = current_table_for("DBDELETE")) a->delete_record();
}

bool NETERR() { return WorkAreas::get().neterr(); }

void NETERR(bool value) { WorkAreas::get().set_neterr(value); }

std::string ALIAS() {
  Area* a = WorkAreas::get().current();
  return a == nullptr ? std::string() : a->alias();
}

std::uint32_t SELECT() { return WorkAreas::get().current_number(); }

}  // namespace lum
