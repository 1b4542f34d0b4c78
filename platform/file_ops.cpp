// Operations on files and directories by name: existence and state, delete, rename,
// replace, modification time, and making, removing and committing directories; each
// resolves the name by the name rules and asks the fault seam before the host's call.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/file_internal.h"
#include "platform/host_files.h"
#include "platform/scratch.h"

namespace lum {

using files::injected_fault;
using files::is_directory;

bool file_exists(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (scratch::active()) {
    bool known = false;
    bool seen = scratch::exists(r.path, known);
    if (known) return seen;
  }
  return r.oscode == kOsOk && host_files().kind(r.path) == EntryKind::Regular;
}

int delete_file(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (scratch::active()) return scratch::remove(r);
  if (r.oscode != kOsOk) return r.oscode;
  if (is_directory(r.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::Delete, r.path); rc != kOsOk) return rc;
  return host_files().remove(r.path);
}

int rename_file(std::string_view from, std::string_view to) {
  ResolvedName src = resolve_name(from);
  ResolvedName dst = resolve_name(to);
  if (scratch::active()) return scratch::rename(src, dst);
  if (src.oscode != kOsOk) return src.oscode;
  // The target must not exist: a rename never replaces another file.
  if (dst.oscode == kOsOk) return kOsAccessDenied;
  if (dst.oscode != kOsFileNotFound) return dst.oscode;
  if (int rc = injected_fault(IoOp::Rename, src.path); rc != kOsOk) return rc;
  return host_files().rename(src.path, dst.path);
}

// The operations below change files where they stand; while the scratch copies are on
// (a dry run) they are refused, as nothing of a dry run may change the operator's files.

int replace_file(std::string_view from, std::string_view to) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName src = resolve_name(from);
  ResolvedName dst = resolve_name(to);
  if (src.oscode != kOsOk) return src.oscode;
  if (dst.oscode != kOsOk && dst.oscode != kOsFileNotFound) return dst.oscode;
  if (is_directory(dst.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::Replace, src.path); rc != kOsOk) return rc;
  return host_files().replace(src.path, dst.path);
}

int file_state(std::string_view name, FileState& out) {
  out = FileState{};
  ResolvedName r = resolve_name(name);
  if (r.oscode == kOsFileNotFound || r.oscode == kOsPathNotFound) return kOsOk;
  if (r.oscode != kOsOk) return r.oscode;
  if (host_files().kind(r.path) != EntryKind::Regular) return kOsOk;
  return host_files().state(r.path, out);
}

int set_file_time(std::string_view name, std::int64_t mtime_ns) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk) return r.oscode;
  if (int rc = injected_fault(IoOp::SetTime, r.path); rc != kOsOk) return rc;
  return host_files().set_mtime(r.path, mtime_ns);
}

int make_directory(std::string_view name) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName r = resolve_name(name);
  if (r.oscode == kOsOk) return is_directory(r.path) ? kOsAlreadyExists : kOsAccessDenied;
  if (r.oscode != kOsFileNotFound) return r.oscode;
  if (int rc = injected_fault(IoOp::MakeDirectory, r.path); rc != kOsOk) return rc;
  return host_files().make_dir(r.path);
}

int remove_directory(std::string_view name) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk) return r.oscode;
  if (!is_directory(r.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::RemoveDirectory, r.path); rc != kOsOk) return rc;
  return host_files().remove_dir(r.path);
}

int commit_directory(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk) return r.oscode;
  if (!is_directory(r.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::CommitDirectory, r.path); rc != kOsOk) return rc;
  return host_files().commit_dir(r.path);
}

}  // namespace lum
