#include "frame/account.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "frame/error_log.h"
#include "frame/frame_state.h"
#include "frame/undo.h"
#include "runtime/error.h"
#include "import/sdf.h"
#include "platform/file.h"
#include "platform/text.h"
#include "table/dbf_format.h"

namespace lum {

namespace {

namespace fs = std::filesystem;

// "40 bytes shorter", "1 to 3 bytes longer".
std::string by_bytes(std::uint64_t lo, std::uint64_t hi, const char* how) {
  if (lo == hi) return plural(lo, "byte ", "bytes ") + how;
  return std::to_string(lo) + " to " + std::to_string(hi) + " bytes " + how;
}

// "all 12 lines are", "2 of its 13 lines are", "1 of its 13 lines is".
std::string how_many(std::uint64_t n, std::uint64_t of) {
  if (n == of) return n == 1 ? "its one line is" : "all " + std::to_string(n) + " lines are";
  return std::to_string(n) + " of its " + std::to_string(of) +
         (n == 1 ? " lines is" : " lines are");
}

}  // namespace

std::vector<std::string> run_changed_files() {
  std::vector<std::string> out;
  for (const std::string& path : changed_files()) {
    if (!path_below(path, kUndoFolder)) out.push_back(path);
  }
  return out;
}

void add_operator_note(std::string note) { frame_state().notes.push_back(std::move(note)); }

std::string operator_file_name(const std::string& host_path) {
  // A file of the working directory by its bare name; below the drive root in the
  // system's form; else below the working directory; else the host path.
  if (std::optional<std::string> rel = path_below(host_path, "")) {
    if (rel->find('/') == std::string::npos) return *rel;
  }
  if (std::optional<std::string> rel = path_below(host_path, drive_root())) {
    for (char& c : *rel) {
      if (c == '/') c = '\\';
    }
    return "\\" + *rel;
  }
  if (std::optional<std::string> rel = path_below(host_path, "")) return *rel;
  return host_path;
}

std::string changed_file_note(const std::string& host_path, bool dry_run) {
  File f;
  if (f.open_path(host_path, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return {};
  const std::string ext = ascii_lower(fs::path(host_path).extension().string());
  if (ext == ".ntx") return "index, built again";
  if (ext == ".dbt" || ext == ".fpt" || ext == ".smt") return "memo file";
  std::uint8_t head[dbf::kHeaderSize];
  dbf::Header h;
  IoResult r = f.read_at(0, head, sizeof head);
  if (dbf::decode_header(std::span<const std::uint8_t>(head, r.bytes), h) != dbf::Status::Ok) {
    return "changed";
  }
  const std::string records = plural(dbf::get_le32(head + 4), "record", "records");
  return dry_run ? "table, " + records + " after the run" : "table, now " + records;
}

namespace {

// The errors that were settled with Default while the run went on, and the steps that
// gave up because of them; "" when there were none.
std::string settled_account(const std::string& prefix) {
  const FrameState& fs = frame_state();
  std::string out;
  if (!fs.settled.empty()) {
    out += prefix + "the run went on past " +
           (fs.settled.size() == 1 ? "an error that was" : "errors that were") +
           " settled with Default:\n";
    for (const FrameState::SettledError& s : fs.settled) {
      out += "  " + s.message + "\n    settled by " +
             (s.by_operator ? "the operator" : "the program itself") +
             (s.step.empty() ? "" : " in " + s.step) + ": " + s.skipped + "\n";
    }
  }
  for (const auto& [step, what] : fs.run.given_up()) out += prefix + step + " " + what + "\n";
  return out;
}

}  // namespace

std::vector<std::string> indexes_to_rebuild(const std::vector<std::string>& destination_tables) {
  // Each directory by the name the run reaches it by (a host path would be read as
  // below the drive root); whether the run changed a table by what the file is on the
  // host, however its name is spelled.
  std::vector<std::string> dirs, out;
  for (const std::string& table : destination_tables) {
    if (!changed_by_run(table)) continue;
    const std::size_t cut = table.find_last_of("\\/");
    const std::string dir = cut == std::string::npos ? "" : table.substr(0, cut + 1);
    if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(dir);
  }
  for (const std::string& dir : dirs) {
    for (const std::string& file : list_files(dir + "*.*")) {
      const std::string ext = ascii_lower(fs::path(file).extension().string());
      if (ext != ".ntx" && ext != ".cdx" && ext != ".idx" && ext != ".mdx" && ext != ".ndx") {
        continue;
      }
      if (!changed_by_run(dir + file)) out.push_back(resolve_name(dir + file).path);
    }
  }
  return out;
}

std::string indexes_to_rebuild_text(const std::vector<std::string>& indexes, bool dry_run) {
  if (indexes.empty()) return {};
  std::string s = dry_run ? "These index files beside the tables it would rewrite would no longer "
                            "match them; rebuild them in the destination system after the run, "
                            "before the data is used:\n"
                          : "these index files beside the tables the run rewrote no longer match "
                            "them; rebuild them in the destination system before the data is "
                            "used:\n";
  for (const std::string& ix : indexes) s += "  " + operator_file_name(ix) + "\n";
  return s;
}

std::string run_account(std::string_view program, bool ended_by_error, bool interrupted,
                        const UndoNote& undo, const std::vector<std::string>& destination_tables) {
  const std::string prefix = std::string(program) + ": ";
  std::string out;
  // After the account proper: the destination's indexes to rebuild, and how to undo.
  const auto tail = [&] {
    std::string s;
    const std::string rebuild =
        indexes_to_rebuild_text(indexes_to_rebuild(destination_tables), false);
    if (!rebuild.empty()) s += prefix + rebuild;
    if (!undo.folder.empty()) {
      const std::string command = std::string(program) + " --undo" + undo.command_switches;
      if (ended_by_error || interrupted) {
        s += prefix + "\"" + command +
             "\" puts every file the run changed back as it was before the run (saved in " +
             undo.folder + ").\n";
      } else {
        s += prefix + "the files this run changed were saved first in " + undo.folder + "; \"" +
             command + "\" puts them back.\n";
      }
    }
    return s;
  };
  if (ended_by_error || interrupted) {
    std::vector<std::string> lines;
    for (const std::string& path : run_changed_files()) {
      if (is_error_log_file(path)) continue;  // the report's own
      std::string note = changed_file_note(path, false);
      if (note.empty()) continue;  // a temporary file of the run, gone again
      lines.push_back("  " + operator_file_name(path) + " (" + note + ")\n");
    }
    out += prefix + (interrupted ? "the run was interrupted" : "an error ended the run");
    if (lines.empty()) {
      out += "; it changed no table, and every table is as it was before the run.\n";
      return out + settled_account(prefix) + tail();
    }
    out += ". It changed:\n";
    for (const std::string& l : lines) out += l;
    out += "Every other table is as it was before the run.\n";
    return out + settled_account(prefix) + tail();
  }
  for (const ImportRecord& imp : import_journal()) {
    const LineTally& t = imp.lines;
    if (t.all_fit()) continue;
    std::string what;
    if (t.shorter > 0) {
      what = how_many(t.shorter, t.lines) + " " + by_bytes(t.min_short, t.max_short, "shorter");
    }
    if (t.longer > 0) {
      if (what.empty()) {
        what = how_many(t.longer, t.lines) + " ";
      } else {
        what += t.longer == 1 ? " and 1 is " : " and " + std::to_string(t.longer) + " are ";
      }
      what += by_bytes(t.min_long, t.max_long, "longer");
    }
    out += prefix + imp.text_file + ": " + what + " than the " + std::to_string(imp.record_length) +
           "-byte record of " + imp.table + "; \"" + std::string(program) +
           " --check\" shows which.\n";
  }
  for (const std::string& note : frame_state().notes) out += prefix + note + "\n";
  return out + settled_account(prefix) + tail();
}

}  // namespace lum
