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

// An alias named once and used for every record: the area it names is looked up the
// first time and again only after a table was put into or taken out of an area (the
// work areas' generation changed), so that a closed, reopened or replaced table is
// never reached through a stale answer. The look-up and its errors are select_alias's.
class AliasRef {
 public:
  explicit AliasRef(std::string alias) : alias_(std::move(alias)) {}
  // As select_alias(alias).
  bool select() const;
  const std::string& text() const { return alias_; }
  // The table the alias was last found to name, while no table came or went since;
  // nullptr when it must be looked up again (select() does that, with its errors).
  Area* resolved_area() const {
    WorkAreas& wa = WorkAreas::get();
    return generation_ == wa.generation() ? wa.at(number_) : nullptr;
  }

 private:
  std::string alias_;
  mutable std::uint64_t generation_ = 0;  // 0: not resolved (generations start at 1)
  mutable AreaNumber number_ = 0;
};

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

// As alias_eval, for an alias resolved once.
template <class F>
auto alias_eval(const AliasRef& alias, F&& f) -> std::invoke_result_t<F&> {
  AreaSelectionGuard guard;
  if (!alias.select()) {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
      return;
    } else {
      return std::invoke_result_t<F&>{};
    }
  }
  return f();
}

// A field name resolved once per table: each use looks at the current area and finds
// the field position again only when the area holds another table than the last two
// it was used in (a name is often used in the staging and the target area in turn).
class FieldRef {
 public:
  explicit FieldRef(std::string name) : name_(std::move(name)) {}
  // As field_get / field_put, for this name.
  Value get();
  bool put(const Value& v);
  // As put of that text, without making the value (Area::put_text).
  bool put_text(std::string_view text);
  // As field_get, into `out` (a text already there lends its storage); NIL after a
  // declined error.
  void get_into(Value& out);
  // As name_get: the field when the current table has it, else the memory variable.
  Value get_name();
  const std::string& name() const { return name_; }
  // The field's position in `area`'s table, -1 when it has none or there is no table.
  int resolve(const Area* area);

 private:
  struct Resolved {
    std::uint64_t serial = 0;  // the table's serial; 0: nothing resolved
    int index = -1;
  };

  std::string name_;
  Resolved recent_[2];  // the last table first
};

// A bare name of the program resolved once: the field position per table as FieldRef
// has it, and the memory variable it names, found again only when variables were
// created or call levels came or went (the runtime's memvar generation changed).
class NameRef {
 public:
  explicit NameRef(std::string name) : field_(std::move(name)) {}
  // As name_get, without a copy: the current table's field read into a buffer of this
  // object, else the variable itself. The reference is good until the next use of this
  // object or the next assignment of the variable.
  const Value& get();
  // As name_assign: a text already in the variable lends its storage.
  void assign(const Value& v);
  // As field_put.
  bool put_field(const Value& v) { return field_.put(v); }
  bool put_field_text(std::string_view text) { return field_.put_text(text); }
  // The field's position in `area`'s table (FieldRef::resolve).
  int resolve(const Area* area) { return field_.resolve(area); }
  const std::string& name() const { return field_.name(); }

 private:
  Value* variable();

  FieldRef field_;
  Value buffer_;
  std::uint64_t generation_ = 0;  // 0: not resolved (generations start at 1)
  Value* variable_ = nullptr;
};

}  // namespace lum
