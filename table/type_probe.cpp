#include "table/type_probe.h"

#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "runtime/error.h"
#include "runtime/runtime.h"
#include "table/workareas.h"
#include "values/strings.h"

namespace lum {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_identifier(std::string_view s) {
  if (s.empty() || !is_letter(s[0])) return false;
  for (char c : s) {
    if (!is_letter(c) && !is_digit(c)) return false;
  }
  return true;
}

bool same_upper(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != b[i]) return false;
  }
  return true;
}

bool is_number_literal(std::string_view s) {
  std::size_t i = 0, digits = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
  }
  return digits > 0 && i == s.size();
}

bool is_string_literal(std::string_view s) {
  if (s.size() < 2) return false;
  char open = s.front(), close = s.back();
  char want = open == '[' ? ']' : open;
  if ((open != '"' && open != '\'' && open != '[') || close != want) return false;
  return s.substr(1, s.size() - 2).find(want) == std::string_view::npos;
}

// The kind letter of field `index` of area `a`, read with the area's errors recorded
// instead of reported: a memo field is "M" without reading its text.
std::string probe_field(Area* a, int index) {
  if (a->field(index).memo_ref) return "M";
  std::optional<ErrorObject> recorded;
  a->record_errors(&recorded);
  Value v;
  bool ok = false;
  try {
    ok = a->get_field(index, v);
  } catch (...) {
    a->record_errors(nullptr);
    throw;
  }
  a->record_errors(nullptr);
  if (!ok) return recorded && recorded->gencode == kErrNoVariable ? "U" : "UE";
  return std::string(1, kind_letter(v));
}

std::string probe_memvar(std::string_view name) {
  Value* v = Runtime::current().find_memvar(name);
  return v ? std::string(1, kind_letter(*v)) : "U";
}

// A name as a statement would read it: a field of the current area, then a memory
// variable; neither is "Variable does not exist", which the probe answers with "U".
std::string probe_name(std::string_view name) {
  Area* a = WorkAreas::get().current();
  int index = a ? a->field_index(name) : -1;
  if (index >= 0) return probe_field(a, index);
  return probe_memvar(name);
}

std::string probe_aliased(std::string_view alias, std::string_view name) {
  if (same_upper(alias, "M") || same_upper(alias, "MEMVAR")) return probe_memvar(name);
  WorkAreas& wa = WorkAreas::get();
  Area* a = nullptr;
  if (same_upper(alias, "FIELD") || same_upper(alias, "_FIELD")) {
    a = wa.current();
  } else {
    AreaNumber n = wa.lookup_for_access(alias);
    if (n == 0) return "UE";  // "Alias does not exist" is not a missing variable
    a = wa.at(n == kFirstFreeArea ? 0 : n);
  }
  int index = a ? a->field_index(name) : -1;
  if (index < 0) return "U";
  AreaSelectionGuard guard;
  wa.select(a->number());
  return probe_field(a, index);
}

std::string probe(std::string_view text) {
  std::string_view t = trim(text);
  if (t.empty()) return "UE";
  if (t.size() >= 3 && t.substr(0, 2) == "{|" && t.back() == '}') return "B";
  if (is_identifier(t)) {
    if (same_upper(t, "NIL")) return "U";
    return probe_name(t);
  }
  std::size_t arrow = t.find("->");
  if (arrow != std::string_view::npos) {
    std::string_view alias = trim(t.substr(0, arrow));
    std::string_view name = trim(t.substr(arrow + 2));
    if (is_identifier(alias) && is_identifier(name)) return probe_aliased(alias, name);
    return "UE";
  }
  if (is_number_literal(t)) return "N";
  if (is_string_literal(t)) return "C";
  if (same_upper(t, ".T.") || same_upper(t, ".F.") || same_upper(t, ".Y.") ||
      same_upper(t, ".N.")) {
    return "L";
  }
  return "UE";
}

}  // namespace

Value TYPE(const Value& text) {
  if (!text.is_string()) return raise_argument_error(kTypeArgument, "TYPE", {text});
  return Value::string(probe(text.str()));
}

Value TYPE(const Value& text, const Value& flags) {
  if (!text.is_string()) return raise_argument_error(kTypeArgument, "TYPE", {text, flags});
  return Value::string(probe(text.str()));
}

}  // namespace lum
