// The vocabulary the conversions are written in, so that each one reads like its
// mapping table: memory variables and bare names, fields of the selected table
// (FIELD->NAME := value), aliased fields (CBCLI->NOME_CLI), aliased expressions
// (CBCLI->(...)), the running counter and the operators on values.
#pragma once

#include <concepts>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

#include "app/run_plan.h"
#include "frame/run_record.h"
#include "runtime/value.h"
#include "table/names.h"

namespace lum::script {

// An alias named once in a conversion (const Alias kCbCli("CBCLI")): the area behind it
// is looked up at the first use and again only after a table was opened or closed.
using Alias = AliasRef;

// A name of the program. Read bare, it is the current table's field of that name when
// there is one, else the memory variable (the field position is resolved once per
// table, the variable once per set of variables). Assigned, it is always a memory
// variable private to the running conversion. A read gives the value without a copy,
// good until the name is read or assigned again.
class Var {
 public:
  explicit Var(const char* name) : ref_(name) {}
  Var& operator=(const Value& v) {
    ref_.assign(v);
    return *this;
  }
  Var& operator=(const Var& other) { return *this = other.value(); }
  const Value& value() const { return ref_.get(); }
  operator const Value&() const { return value(); }  // NOLINT(google-explicit-constructor)

 private:
  mutable NameRef ref_;
};

// A field of the selected table. Assigned, it is the field write (FIELD->NAME := v);
// read bare, it is the name read of Var (the field as stored so far).
class AliasedField;

class Field {
 public:
  explicit Field(const char* name) : ref_(name) {}
  Field& operator=(const Value& v) {
    ref_.put_field(v);
    return *this;
  }
  Field& operator=(const Field& other) { return *this = other.value(); }
  // FIELD->NAME := alias->OTHER: a character field read as it is stored goes into this
  // field without becoming a value on the way.
  Field& operator=(const AliasedField& source);
  // A text written in the program ("00001", cond ? "S" : "N"): stored without becoming a
  // value first. Only a pointer binds here, never the literal 0.
  template <class T>
  requires std::same_as<T, const char*> Field& operator=(T text) {
    ref_.put_field_text(text);
    return *this;
  }
  const Value& value() const { return ref_.get(); }
  operator const Value&() const { return value(); }  // NOLINT(google-explicit-constructor)

 private:
  mutable NameRef ref_;
};

// alias->NAME: the field of the alias's table, read with that area selected for the
// one access. The value is read into a buffer of this object, good until the next read.
class AliasedField {
 public:
  AliasedField(const Alias& alias, const char* name) : alias_(&alias), ref_(name) {}
  AliasedField(const char* alias, const char* name) : own_(alias), alias_(&own_), ref_(name) {}
  AliasedField(const AliasedField&) = delete;
  AliasedField& operator=(const AliasedField&) = delete;
  const Value& value() const {
    AreaSelectionGuard guard;
    if (alias_->select()) {
      ref_.get_into(value_);
    } else {
      value_ = Value();
    }
    return value_;
  }
  operator const Value&() const { return value(); }  // NOLINT(google-explicit-constructor)
  // The field's bytes when its table's record is at hand and the field is a character
  // field kept in the record (Area::stored_text), without selecting the area; nothing
  // when value() must read it (the first read of a record, another kind of field, an
  // alias to look up again).
  std::optional<std::string_view> stored_text() const {
    Area* area = alias_->resolved_area();
    if (area == nullptr) return std::nullopt;
    const int index = ref_.resolve(area);
    return index >= 0 ? area->stored_text(index) : std::nullopt;
  }

 private:
  Alias own_{""};  // the alias when it was given as text
  const Alias* alias_;
  mutable FieldRef ref_;
  mutable Value value_;
};

inline Field& Field::operator=(const AliasedField& source) {
  if (std::optional<std::string_view> text = source.stored_text()) {
    ref_.put_field_text(*text);
    return *this;
  }
  return *this = source.value();
}

// alias->(expression): f evaluated with the alias's area selected; the previous area is
// selected again whatever happens.
template <class F>
Value in_area(const Alias& alias, F&& f) {
  return alias_eval(alias, std::forward<F>(f));
}
template <class F>
Value in_area(const char* alias, F&& f) {
  return alias_eval(alias, std::forward<F>(f));
}

// The running counter: moves to its position, adds one to A and shows it as
// "@E 999,999". Called at the top of every pass through a conversion's loop.
// Each step below also records its source line in the running conversion's call
// level, so an error report's "Error at" line points into the conversion.
void show_counter(Var& a, int row, int col,
                  std::source_location at = std::source_location::current());
// Writes a conversion's label at (row, 10) with the counter A set to 0 first.
void start_counter(Var& a, int row, const char* label,
                   std::source_location at = std::source_location::current());

// Operators of the program's expressions.
Value operator+(const Value& a, const Value& b);
Value plus_computed(Value&& a, const Value& b);
// a + b where a is a value computed just before (LIVRE + LIVRE2 + LIVRE3): texts are
// appended to a's own storage. Only a Value itself binds here, never a name.
template <class T>
requires std::same_as<T, Value> Value operator+(T&& a, const Value& b) {
  return plus_computed(std::move(a), b);
}
Value operator-(const Value& a, const Value& b);
bool EQ(const Value& a, const Value& b);  // "=": a text equals when it begins with b
bool NE(const Value& a, const Value& b);  // "!=", "<>"
bool GT(const Value& a, const Value& b);  // ">"

// SUBSTR(d, 1, 2) + "/" + SUBSTR(d, 3, 2) + "/" + SUBSTR(d, 5, 4): the text
// "dd/mm/yyyy" that CTOD reads, out of eight digits ddmmyyyy.
Value day_month_year(const Value& digits);

// A count of the running conversion in the run's record (kNoteWritten ...), to be taken
// once before its loop and counted in it.
inline RunRecord::Tally& noted(const char* what) { return run_record().tally(what); }

// The steps with the files of the conversion's plan, each named by the alias of its
// table. Each records its source line in the running conversion's call level.

// Proves, before the conversion's first open, that every file of its plan will open:
// first each text file it imports, with the import's own open error raised before
// anything is emptied (retry tests again; a text settled with a default unasked, as one
// held by another program is, is tried once more under an error that offers no
// default), then every table, in its order and mode, each opened with its memo file and
// closed again with nothing written, raising the open's own errors with their retry.
// When a table's open gives up and the run goes on (the handler settles a table held by
// another program, or the operator chooses Default), the conversion is put where it
// would stand at that open (the tables before it open in their work areas, its own area
// selected and empty), the area's first use as the plan gives it meets its own error,
// and after the closing sequence the result is false: the conversion ends at once,
// with nothing of it emptied.
bool prove_files(const ConversionPlan& plan,
                 std::source_location at = std::source_location::current());

// Opens the plan's table of that alias, as the plan says (DBUSEAREA with the default
// driver, in a new work area or the current one, the alias and sharing argument given
// or left out).
void open_table(const ConversionPlan& plan, const char* alias,
                std::source_location at = std::source_location::current());

// Appends the plan's text for the staging table of that alias to the current table
// (__DBSDF). When its open is settled with a default unasked (a text held by another
// program), the text is tried once more under an error that offers no default, and
// appended when it opens: the staging table never stays empty for a text that could not
// be read while the run goes on.
void append_text(const ConversionPlan& plan, const char* staging,
                 std::source_location at = std::source_location::current());

// Empties the current table, imports the plan's text for that staging alias into it and
// goes to its first record: the staging step of every conversion.
void import_text(const ConversionPlan& plan, const char* staging,
                 std::source_location at = std::source_location::current());

// Builds the plan's index on the table of that alias (the current area's), keyed by the
// field its key names: DBCREATEINDEX(file, key, {|| key}).
void build_index(const ConversionPlan& plan, const char* alias,
                 std::source_location at = std::source_location::current());

}  // namespace lum::script
