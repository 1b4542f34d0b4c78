#include "index/index_commands.h"

#include <memory>
#include <string>

#include "runtime/error.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/workareas.h"

namespace lum {

namespace {

// A character argument without trailing blanks; "" for any other kind.
std::string text_arg(const Value& v) {
  if (!v.is_string()) return {};
  std::string s = v.str();
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

void register_ntx_driver() {
  register_driver("DBFNTX", [] { return std::make_unique<NtxArea>(); });
}

Value ORDCREATE(const Value& file, const Value& order, const Value& key_text, CodeBlock key,
                const Value& unique) {
  Area* a = current_table_for("ORDCREATE");
  if (a == nullptr) return {};
  OrderRequest req;
  req.file = text_arg(file);
  req.order = text_arg(order);
  if (!key_text.is_string() || (req.file.empty() && req.order.empty())) {
    raise_dbcmd(kErrArgument, kOrderArgument, "ORDCREATE", 0);
    return {};
  }
  req.key_text = key_text.str();
  req.key = std::move(key);
  req.unique = unique.is_logical() ? unique.log() : Runtime::current().settings().unique;
  auto* ntx = dynamic_cast<NtxArea*>(a);
  if (ntx == nullptr) {
    // The table was opened through a driver without indexes.
    ErrorObject e = make_error(kErrUnsupported, a->driver(), kUnsupportedOperation, "ORDCREATE");
    raise(e);
    return {};
  }
  ntx->create_order(req);
  return {};
}

Value DBCREATEINDEX(const Value& file, const Value& key_text, CodeBlock key, const Value& unique,
                    const Value& order) {
  return ORDCREATE(file, order, key_text, std::move(key), unique);
}

bool DBSEEK(const Value& key, const Value& soft_seek, const Value& last) {
  Area* a = current_table_for("DBSEEK");
  if (a == nullptr) return false;
  if (key.is_nil()) {
    raise_dbcmd(kErrArgument, kSeekWithoutKey, "DBSEEK", 0);
    return false;
  }
  bool soft = soft_seek.is_logical() ? soft_seek.log() : Runtime::current().settings().softseek;
  bool find_last = last.is_logical() && last.log();
  if (!a->seek(key, soft, find_last)) return false;
  return a->found();
}

bool FOUND() {
  Area* a = WorkAreas::get().current();
  return a != nullptr && a->found();
}

void DBSETFILTER(CodeBlock condition, const Value& text) {
  Area* a = current_table_for("DBSETFILTER");
  if (a == nullptr) return;
  a->clear_filter();
  if (condition) a->set_filter(std::move(condition), text.is_string() ? text.str() : std::string());
}

}  // namespace lum
