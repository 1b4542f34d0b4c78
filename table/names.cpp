#include "table/names.h"

#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

ErrorObject no_variable(std::string_view name) {
  return make_error(kErrNoVariable, "BASE", 1003, std::string(name), kCanRetry);
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
  auto error = [&] { return make_error(kErrNoAlias, "BASE", 1002, std::string(alias), kCanRetry); };
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

int FieldRef::resolve(const Area* area) {
  if (area == nullptr) return -1;
  if (area->serial() != serial_) {
    index_ = area->field_index(name_);
    serial_ = area->serial();
  }
  return index_;
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

}  // namespace lum
