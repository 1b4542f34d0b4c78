#include "table/names.h"

#include <utility>

#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

ErrorObject no_variable(std::string_view name) {
  return make_error(kErrNoVariable, "BASE", kVariableNotFound, std::string(name), kCanRetry);
}

enum class Lookup { Done, NoField, Failed };

// One attempt at reading field `index` of the current area (-1: no such field).
Lookup read_field(Area* a, int index, Value& out) {
  if (a == nullptr || index < 0) return Lookup::NoField;
  return a->get_field(index, out) ? Lookup::Done : Lookup::Failed;
}

// The error object is made only after a failure: these run for every field of every
// record. Each attempt searches again.
template <class Attempt>
Value read_with_retry(std::string_view name, Attempt attempt) {
  Value v;
  auto error = [&] { return no_variable(name); };
  if (with_retry(error, [&](int&) {
        v = Value();
        return attempt(v);
      })) {
    return v;
  }
  return Value();
}

template <class Attempt>
bool write_with_retry(std::string_view name, Attempt attempt) {
  return with_retry([&] { return no_variable(name); }, [&](int&) { return attempt(); });
}

}  // namespace

Value name_get(std::string_view name) {
  return read_with_retry(name, [&](Value& v) {
    Area* a = WorkAreas::get().current();
    Lookup r = read_field(a, a ? a->field_index(name) : -1, v);
    if (r == Lookup::Done) return true;
    // A field that exists but cannot be read is an error, not a cue to try variables.
    if (r == Lookup::Failed) return false;
    if (Value* mv = Runtime::current().find_memvar(name)) {
      v = *mv;
      return true;
    }
    return false;
  });
}

void name_assign(std::string_view name, Value v) {
  Runtime::current().assign_memvar(name, std::move(v));
}

Value field_get(std::string_view name) {
  return read_with_retry(name, [&](Value& v) {
    Area* a = WorkAreas::get().current();
    return read_field(a, a ? a->field_index(name) : -1, v) == Lookup::Done;
  });
}

bool field_put(std::string_view name, const Value& v) {
  return write_with_retry(name, [&] {
    Area* a = WorkAreas::get().current();
    int index = a ? a->field_index(name) : -1;
    return index >= 0 && a->put_field(index, v);
  });
}

bool select_alias(std::string_view alias) {
  WorkAreas& wa = WorkAreas::get();
  // The error object is made on the first failure only; each retry looks up again.
  auto error = [&] {
    return make_error(kErrNoAlias, "BASE", kAliasNotFound, std::string(alias), kCanRetry);
  };
  return with_retry(error, [&](int&) {
    AreaNumber n = wa.lookup_for_access(alias);
    if (n == kFirstFreeArea) n = wa.first_free();
    if (n == 0) return false;
    wa.select(n);
    return true;
  });
}

Value alias_field_get(std::string_view alias, std::string_view name) {
  AreaSelectionGuard guard;
  if (!select_alias(alias)) return Value();
  return field_get(name);
}

bool alias_field_put(std::string_view alias, std::string_view name, const Value& v) {
  AreaSelectionGuard guard;
  if (!select_alias(alias)) return false;
  return field_put(name, v);
}

bool AliasRef::select() const {
  WorkAreas& wa = WorkAreas::get();
  if (generation_ == wa.generation()) {
    // No table came or went since the look-up: it would give the same area again.
    wa.select(number_);
    return true;
  }
  if (!select_alias(alias_)) return false;
  number_ = wa.current_number();
  generation_ = wa.generation();
  return true;
}

int FieldRef::resolve(const Area* area) {
  if (area == nullptr) return -1;
  const std::uint64_t serial = area->serial();
  if (recent_[0].serial == serial) return recent_[0].index;
  std::swap(recent_[0], recent_[1]);
  if (recent_[0].serial != serial) recent_[0] = Resolved{serial, area->field_index(name_)};
  return recent_[0].index;
}

void FieldRef::get_into(Value& out) {
  auto error = [&] { return no_variable(name_); };
  if (!with_retry(error, [&](int&) {
        Area* a = WorkAreas::get().current();
        return read_field(a, resolve(a), out) == Lookup::Done;
      })) {
    out = Value();
  }
}

Value FieldRef::get() {
  return read_with_retry(name_, [&](Value& v) {
    Area* a = WorkAreas::get().current();
    return read_field(a, resolve(a), v) == Lookup::Done;
  });
}

bool FieldRef::put(const Value& v) {
  return write_with_retry(name_, [&] {
    Area* a = WorkAreas::get().current();
    int index = resolve(a);
    return index >= 0 && a->put_field(index, v);
  });
}

bool FieldRef::put_text(std::string_view text) {
  return write_with_retry(name_, [&] {
    Area* a = WorkAreas::get().current();
    int index = resolve(a);
    return index >= 0 && a->put_text(index, text);
  });
}

Value FieldRef::get_name() {
  return read_with_retry(name_, [&](Value& v) {
    Area* a = WorkAreas::get().current();
    Lookup r = read_field(a, resolve(a), v);
    if (r == Lookup::Done) return true;
    if (r == Lookup::Failed) return false;
    if (Value* mv = Runtime::current().find_memvar(name_)) {
      v = *mv;
      return true;
    }
    return false;
  });
}

Value* NameRef::variable() {
  Runtime& rt = Runtime::current();
  if (generation_ != rt.memvar_generation()) {
    variable_ = rt.find_memvar(field_.name());
    generation_ = rt.memvar_generation();
  }
  return variable_;
}

const Value& NameRef::get() {
  const Value* result = nullptr;
  auto error = [&] { return no_variable(field_.name()); };
  if (!with_retry(error, [&](int&) {
        Area* a = WorkAreas::get().current();
        Lookup r = read_field(a, field_.resolve(a), buffer_);
        if (r == Lookup::Done) {
          result = &buffer_;
          return true;
        }
        // A field that exists but cannot be read is an error, not a cue to try variables.
        if (r == Lookup::Failed) return false;
        result = variable();
        return result != nullptr;
      })) {
    buffer_ = Value();
    return buffer_;
  }
  return *result;
}

void NameRef::assign(const Value& v) {
  if (Value* existing = variable()) {
    *existing = v;
    return;
  }
  // Created: the copy is made before the variable list grows, so `v` may be another
  // variable's value.
  Runtime::current().assign_memvar(field_.name(), v);
}

}  // namespace lum
