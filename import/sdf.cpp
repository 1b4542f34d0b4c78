#include "import/sdf.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "import/sdf_area.h"
#include "import/transfer.h"
#include "platform/text.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/dbf_area.h"
#include "table/workareas.h"
#include "values/dates.h"
#include "values/number_text.h"

namespace lum {
namespace {

constexpr char kAppendOperation[] = "APPEND FROM";
constexpr char kCopyOperation[] = "COPY TO";
constexpr std::size_t kWriteChunk = 256 * 1024;

// The fields a transfer takes, as table field positions in transfer order. `all` tells
// whether they are every field of the table in table order (the same structure).
std::vector<int> transfer_fields(const Area& table, const Value& fields, bool& all) {
  std::vector<int> out;
  if (!fields.is_array() || fields.arr().empty()) {
    for (int i = 0; i < table.field_count(); ++i) out.push_back(i);
    all = true;
    return out;
  }
  for (const Value& name : fields.arr()) {
    if (!name.is_string()) continue;
    const int index = table.field_index(name.str());
    if (index >= 0) out.push_back(index);
  }
  all = static_cast<int>(out.size()) == table.field_count();
  for (std::size_t i = 0; all && i < out.size(); ++i) all = out[i] == static_cast<int>(i);
  return out;
}

std::vector<SdfFieldDesc> structure_of(const Area& table, const std::vector<int>& fields) {
  std::vector<SdfFieldDesc> out;
  out.reserve(fields.size());
  for (int i : fields) {
    const dbf::Field& f = table.field(i);
    out.push_back({f.name, f.type, static_cast<int>(f.len), f.dec});
  }
  return out;
}

// The scope arguments; a value of the wrong kind counts as absent.
void read_scope(TransferPlan& plan, const CodeBlock& for_block, const CodeBlock& while_block,
                const Value& next, const Value& record, const Value& rest) {
  if (for_block) {
    plan.for_condition = [&for_block] {
      Value v = for_block();
      return v.is_logical() && v.log();
    };
  }
  if (while_block) {
    plan.while_condition = [&while_block] {
      Value v = while_block();
      return v.is_logical() && v.log();
    };
  }
  if (next.is_number()) plan.next = static_cast<std::int64_t>(next.num().as_double());
  if (record.is_number()) {
    const double r = record.num().as_double();
    plan.record = r < 1 ? 0u : r > 4294967295.0 ? 4294967295u : static_cast<std::uint32_t>(r);
  } else if (!record.is_nil()) {
    plan.record = 0;  // present but not a number: no such record
  }
  plan.rest = rest.is_logical() && rest.log();
}

// The runtime's import journal (Runtime slot Imports).
class ImportJournal : public Service {
 public:
  std::vector<ImportRecord> imports;
};

ImportJournal& journal() {
  Runtime& rt = Runtime::current();
  if (auto* j = rt.service_as<ImportJournal>(ServiceSlot::Imports)) return *j;
  auto j = std::make_unique<ImportJournal>();
  ImportJournal* raw = j.get();
  rt.set_service(ServiceSlot::Imports, std::move(j));
  return *raw;
}

// Records the import in the journal when it ends, however it ends.
class JournalEntry {
 public:
  JournalEntry(const SdfArea& text, const Area& dest) : text_(text) {
    entry_.text_file = text.file_name();
    const auto* table = dynamic_cast<const DbfArea*>(&dest);
    entry_.table = table != nullptr ? table->file_name() : dest.alias();
    entry_.record_length = text.record_length();
  }
  ~JournalEntry() {
    entry_.lines = text_.tally();
    journal().imports.push_back(std::move(entry_));
  }
  JournalEntry(const JournalEntry&) = delete;
  JournalEntry& operator=(const JournalEntry&) = delete;

 private:
  const SdfArea& text_;
  ImportRecord entry_;
};

// A destination table seen by the transfer.
class AreaTarget final : public TransferTarget {
 public:
  explicit AreaTarget(Area& area) : area_(area) {}
  bool append_blank() override { return area_.append(true); }
  bool replace_image(std::string_view image) override {
    return area_.put_record_image(reinterpret_cast<const std::uint8_t*>(image.data()),
                                  image.size());
  }
  bool put_field(std::size_t index, const Value& value) override {
    return area_.put_field(static_cast<int>(index), value);
  }
  bool mark_deleted() override { return area_.delete_record(); }

 private:
  Area& area_;
};

// A source table seen by the transfer (the export direction).
class AreaSource final : public TransferSource {
 public:
  AreaSource(Area& area, const std::vector<int>& fields) : area_(area), fields_(fields) {}
  bool go_top() override { return area_.go_top(); }
  bool go_to(std::uint32_t recno) override { return area_.go_to(recno); }
  bool skip() override { return area_.skip(1); }
  bool eof() const override { return area_.eof(); }
  bool deleted() const override {
    bool d = false;
    return area_.deleted(d) && d;
  }
  Value field(std::size_t index) const override {
    Value v;
    area_.get_field(fields_[index], v);
    return v;
  }
  std::string_view image() const override { return {}; }  // never whole-image

 private:
  Area& area_;
  const std::vector<int>& fields_;
};

// Closes and releases the temporary text area and selects the remembered area again,
// on every path out of the transfer, an unwinding run included.
class TemporaryArea {
 public:
  TemporaryArea(WorkAreas& wa, AreaNumber remembered) : wa_(wa), remembered_(remembered) {}
  ~TemporaryArea() {
    if (number_ != 0) {
      wa_.select(number_);
      std::unique_ptr<Area> area = wa_.detach(number_);
      if (area) area->close();
    }
    wa_.select(remembered_);
  }
  TemporaryArea(const TemporaryArea&) = delete;
  TemporaryArea& operator=(const TemporaryArea&) = delete;
  void attach(AreaNumber n, std::unique_ptr<Area> area) {
    wa_.attach(n, std::move(area));
    number_ = n;
  }

 private:
  WorkAreas& wa_;
  AreaNumber remembered_;
  AreaNumber number_ = 0;
};

// Writes text records through a buffer; each record is the fields at their text widths
// and the line end.
class TextTarget final : public TransferTarget {
 public:
  TextTarget(File& file, const SdfLayout& layout, std::string eol, std::string name)
      : file_(file), layout_(layout), eol_(std::move(eol)), name_(std::move(name)) {}

  bool append_blank() override {
    if (!line_.empty() && !finish_line()) return false;
    line_.assign(layout_.record_length, ' ');
    return true;
  }
  bool replace_image(std::string_view) override { return false; }
  bool put_field(std::size_t index, const Value& v) override {
    const SdfField& f = layout_.fields[index];
    char* out = line_.data() + f.offset;
    std::string text;
    switch (f.kind) {
      case SdfKind::Character:
        if (v.is_string()) text = v.str();
        break;
      case SdfKind::Numeric:
        if (v.is_number()) text = number_text(v.num(), static_cast<int>(f.width), f.dec);
        break;
      case SdfKind::Date:
        if (v.is_date() && v.day() != 0) {
          int y = 0, m = 0, d = 0;
          date_decode(v.day(), y, m, d);
          char buf[16];
          std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
          text = buf;
        }
        break;
      case SdfKind::Logical:
        if (v.is_logical()) text = v.log() ? "T" : "F";
        break;
      case SdfKind::Memo:
      case SdfKind::None:
        break;
    }
    std::copy_n(text.data(), std::min(text.size(), f.width), out);
    return true;
  }
  bool mark_deleted() override { return true; }

  // Writes the last record, the end-of-file mark and what is still buffered.
  bool finish() {
    if (!line_.empty() && !finish_line()) return false;
    pending_.push_back('\x1A');
    return write_pending();
  }

 private:
  bool finish_line() {
    pending_ += line_;
    pending_ += eol_;
    line_.clear();
    return pending_.size() < kWriteChunk || write_pending();
  }
  bool write_pending() {
    IoResult r = file_.write_at(offset_, pending_.data(), pending_.size());
    offset_ += r.bytes;
    if (r.bytes != pending_.size()) {
      ErrorObject e = make_error(kErrWrite, kSdfDriver, kWriteError, "", 0);
      e.filename = name_;
      e.oscode = r.oscode;
      raise(e);
      return false;
    }
    pending_.clear();
    return true;
  }

  File& file_;
  const SdfLayout& layout_;
  std::string eol_;
  std::string name_;
  std::string line_;
  std::string pending_;
  std::uint64_t offset_ = 0;
};

}  // namespace

const std::vector<ImportRecord>& import_journal() { return journal().imports; }

void register_sdf_driver() {
  register_driver(kSdfDriver, [] { return std::make_unique<SdfArea>(); });
}

bool cmd::DBSDF(bool export_records, const Value& file, const Value& fields,
                const CodeBlock& for_block, const CodeBlock& while_block, const Value& next,
                const Value& record, const Value& rest, const Value& connection) {
  if (export_records) {
    return cmd::DBCOPY(file, fields, for_block, while_block, next, record, rest,
                       Value::string(kSdfDriver), connection);
  }
  return cmd::DBAPP(file, fields, for_block, while_block, next, record, rest,
                    Value::string(kSdfDriver), connection);
}

bool cmd::DBAPP(const Value& file, const Value& fields, const CodeBlock& for_block,
                const CodeBlock& while_block, const Value& next, const Value& record,
                const Value& rest, const Value& driver, const Value& /*connection*/,
                const Value& codepage, const Value& /*delimiter*/) {
  WorkAreas& wa = WorkAreas::get();
  Area* dest = current_table_for(kAppendOperation);
  if (dest == nullptr) return false;
  const AreaNumber remembered = wa.current_number();
  if (!driver_registered(kSdfDriver)) register_sdf_driver();
  const std::string drv =
      driver.is_string() ? ascii_upper(trim_blanks(driver.str())) : std::string();
  std::unique_ptr<Area> made = drv.empty() ? nullptr : make_area(drv);
  auto* text = dynamic_cast<SdfArea*>(made.get());
  // Only the text driver reads records for a transfer; a table driver cannot be the
  // source of this append.
  if (text == nullptr || !file.is_string() || file.str().empty()) {
    raise_dbcmd(kErrArgument, kNoFileOrDriver, kAppendOperation, 0);
    return false;
  }

  bool same_structure = false;
  const std::vector<int> fields_used = transfer_fields(*dest, fields, same_structure);
  TransferPlan plan;
  for (std::size_t i = 0; i < fields_used.size(); ++i) {
    plan.pairs.emplace_back(i, static_cast<std::size_t>(fields_used[i]));
  }
  read_scope(plan, for_block, while_block, next, record, rest);

  TemporaryArea temporary(wa, remembered);
  const AreaNumber number = wa.first_free();
  if (number == 0) {
    // Every area is taken, so the text has none to open in: the error DBUSEAREA raises
    // for the same case (argument error, 1015), under this command's operation.
    // Nothing is appended.
    raise_dbcmd(kErrArgument, kNoDriverOrArea, kAppendOperation, 0);
    return false;
  }
  text->set_structure(structure_of(*dest, fields_used));
  OpenInfo info;
  info.name = sdf_file_name(file.str());
  info.shared = true;
  info.read_only = true;
  if (codepage.is_string()) info.codepage = codepage.str();
  wa.select(number);
  if (!text->open(info)) return false;
  const JournalEntry entry(*text, *dest);  // before the temporary area closes the text
  temporary.attach(number, std::move(made));

  if (same_structure && text->whole_image() && text->codepage().empty()) {
    // The destination keeps the run's code page: no table of this program has another.
    plan.whole_image = dest->driver() == text->driver() || dest->accepts_record_images();
  }
  AreaTarget target(*dest);
  return run_transfer(text->source(), target, plan);
}

bool cmd::DBCOPY(const Value& file, const Value& fields, const CodeBlock& for_block,
                 const CodeBlock& while_block, const Value& next, const Value& record,
                 const Value& rest, const Value& driver, const Value& /*connection*/,
                 const Value& /*codepage*/, const Value& /*delimiter*/) {
  Area* table = current_table_for(kCopyOperation);
  if (table == nullptr) return false;
  const std::string drv =
      driver.is_string() ? ascii_upper(trim_blanks(driver.str())) : std::string();
  if (drv != kSdfDriver || !file.is_string() || file.str().empty()) {
    raise_dbcmd(kErrArgument, kNoFileOrDriver, kCopyOperation, 0);
    return false;
  }
  bool same_structure = false;
  const std::vector<int> fields_used = transfer_fields(*table, fields, same_structure);
  const SdfLayout layout = SdfLayout::from_structure(structure_of(*table, fields_used));
  TransferPlan plan;
  for (std::size_t i = 0; i < fields_used.size(); ++i) plan.pairs.emplace_back(i, i);
  read_scope(plan, for_block, while_block, next, record, rest);

  const std::string name = sdf_file_name(file.str());
  File out;
  ErrorObject e = make_error(kErrCreate, kSdfDriver, kTextCreateError, "", kCanRetry | kCanDefault);
  e.filename = name;
  if (!with_retry(e, [&](int& oscode) {
        oscode = out.create(name, FileShare::Exclusive);
        return oscode == kOsOk;
      })) {
    return false;
  }
  std::string eol = Runtime::current().settings().eol;
  if (eol.empty()) eol = "\r\n";
  TextTarget target(out, layout, eol, name);
  AreaSource source(*table, fields_used);
  bool ok = run_transfer(source, target, plan);
  ok = target.finish() && ok;
  out.close();
  return ok;
}

bool SDF_CHECK_OPEN(std::string_view file, bool allow_default) {
  File f;
  if (!sdf_open_file(sdf_file_name(file), f, allow_default)) return false;
  f.close();
  return true;
}

}  // namespace lum
