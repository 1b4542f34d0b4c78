// Names in the program: a bare name read (a field of the current area, else a memory
// variable), plain assignment (always a memory variable), field assignment (always the
// current area's field), and aliased access: alias->FIELD and alias->(expression),
// which select the alias's area for that one access and then the previous area again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "runtime/value.h"
#include "table/workareas.h"

namespace lum {

// A bare name read: the current area's field of that name, else the memory variable,
// else "Variable does not exist" (14, 1003, "BASE", retry; each retry searches again).
// NIL when the handler declines.
Value name_get(std::string_view name);
// A plain assignment: sets the visible memory variable or creates one private to the
// running function, even when the current table has a field of that name.
void name_assign(std::string_view name, Value v);

// FIELD->NAME: the current area's field; "Variable does not exist" (1003) when there is
// no table, no such field, or its read fails. NIL when the handler declines.
Value field_get(std::string_view name);
// FIELD->NAME := v: the field write of the current area's field; 1003 as above.
bool field_put(std::string_view name, const Value& v);

// alias->NAME and alias->NAME := v: the same in the alias's area, the previous area
// selected again afterwards. An unknown alias raises "Alias does not exist" (15, 1002,
// retry).
Value alias_field_get(std::string_view alias, std::string_view name);
bool alias_field_put(std::string_view alias, std::string_view name, const Value& v);

// Selects the area an alias names for alias-> access (raising "Alias does not exist"
// with retry). False when the handler declines; the selection is then unchanged.
bool select_alias(std::string_view alias);

// alias->(expression): evaluates f with the alias's area selected and selects the
// previous area again whatever happens, exceptions included. When the alias is not
// found and the handler declines, f is not called and the result is a default value.
template <class F>
auto alias_eval(std::string_view alias, F&& f) -> std::invoke_result_t<F&> {
  AreaSelectionGuard guard;
  if (!select_alias(alias)) {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
      return;
    } else {
      return std::invoke_result_t<F&>{};
    }
  }
  return f();
}

// A field name resolved once per table: each use looks at the current area and finds
// the field position again only when the area holds another table than last time.
class FieldRef {
 public:
  explicit FieldRef(std::string name) : name_(std::move(name)) {}
  // As field_get / field_put, for this name.
  Value get();
  bool put(const Value& v);
  // As name_get: the field when the current table has it, else the memory variable.
  Value get_name();
  const std::string& name() const { return name_; }

 private:
  int resolve(const Area* area);

  std::string name_;
  std::uint64_t serial_ = 0;
  int index_ = -1;
};

}  // namespace lum
