#include "import/sdf_area.h"

#include "runtime/runtime.h"

namespace lum {

std::string sdf_file_name(std::string_view file) {
  std::string name(file);
  const std::size_t part = name.find_last_of("\\/:");
  const std::size_t start = part == std::string::npos ? 0 : part + 1;
  const bool has_extension = name.find('.', start) != std::string::npos;
  if (!has_extension && Runtime::current().settings().defextensions) name += ".txt";
  return name;
}

bool sdf_open_file(const std::string& name, File& out, bool allow_default) {
  // One error object for all the attempts, so that its TRIES counts the retries.
  ErrorObject e = make_error(kErrOpen, kSdfDriver, kOpenError, "",
                             kCanRetry | (allow_default ? kCanDefault : 0));
  e.filename = name;
  return with_retry(e, [&](int& oscode) {
    oscode = out.open(name, FileAccess::ReadOnly, FileShare::Shared);
    return oscode == kOsOk;
  });
}

SdfArea::SdfArea() : Area(kSdfDriver) {}

SdfArea::~SdfArea() = default;

void SdfArea::set_structure(const std::vector<SdfFieldDesc>& structure) {
  layout_ = SdfLayout::from_structure(structure);
  std::vector<dbf::Field> fields;
  fields.reserve(layout_.fields.size());
  for (std::size_t i = 0; i < layout_.fields.size(); ++i) {
    const SdfField& f = layout_.fields[i];
    dbf::Field d;
    d.name = f.name;
    d.type = structure[i].type;
    d.len = static_cast<std::uint32_t>(f.width);
    d.dec = static_cast<std::uint8_t>(f.dec);
    d.offset = static_cast<std::uint32_t>(1 + f.offset);
    fields.push_back(std::move(d));
  }
  set_fields(std::move(fields));
}

bool SdfArea::open(const OpenInfo& info) {
  File file;
  if (!sdf_open_file(info.name, file)) return false;
  filename_ = info.name;
  codepage_ = info.codepage;
  file_.emplace(std::move(file));
  window_ = std::make_unique<ReadAhead>(*file_);
  reader_ =
      std::make_unique<SdfReader>(layout_, Runtime::current().settings().eol, *window_, filename_);
  return go_top();
}

bool SdfArea::close() {
  reader_.reset();
  window_.reset();
  if (file_) {
    file_->file().close();
    file_.reset();
  }
  clear_fields();
  return true;
}

void SdfArea::sync_flags() {
  eof_ = reader_->eof();
  bof_ = false;
  found_ = false;
}

bool SdfArea::go_top() {
  const bool ok = reader_->go_top();
  sync_flags();
  return ok;
}

bool SdfArea::go_to(RecNo recno) {
  const bool ok = reader_->go_to(recno);
  sync_flags();
  return ok;
}

bool SdfArea::skip_raw(std::int64_t n) {
  if (n != 1) return false;
  const bool ok = reader_->skip();
  sync_flags();
  return ok;
}

RecNo SdfArea::recno() const { return reader_ ? reader_->recno() : 0; }

bool SdfArea::refuse_write(const char* operation) {
  raise_error(kErrReadonly, kReadOnly, 0, filename_, 0, operation);
  return false;
}

bool SdfArea::append(bool) { return refuse_write("APPEND"); }
bool SdfArea::zap() { return refuse_write("ZAP"); }
bool SdfArea::delete_record() { return refuse_write("DELETE"); }
bool SdfArea::put_record_image(const std::uint8_t*, std::size_t) { return refuse_write("PUTREC"); }
bool SdfArea::put_field(int index, const Value&) { return refuse_write(field(index).name.c_str()); }

bool SdfArea::get_field(int index, Value& out) {
  out = reader_->field_value(static_cast<std::size_t>(index));
  return true;
}

}  // namespace lum
