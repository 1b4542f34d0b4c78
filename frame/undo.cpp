#include "frame/undo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "frame/account.h"
#include "frame/digest_workers.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

constexpr const char* kManifest = "manifest.txt";
constexpr const char* kManifestNew = "manifest.new";
constexpr const char* kUndoneMark = "undone.txt";
// A file being put back is written beside the file under its name with this added.
constexpr const char* kPutBackSuffix = ".lumconv-undo";

// Sub-codes of the snapshot's errors (subsystem "UNDO").
enum UndoSubcode : int {
  kUndoMakeFolder = 1101,  // the snapshot's folder cannot be made
  kUndoOpenFile = 1102,    // a file to save cannot be opened (held by another program)
  kUndoReadFile = 1103,    // a file to save cannot be read
  kUndoMakeCopy = 1104,    // its copy cannot be created
  kUndoWriteCopy = 1105,   // its copy cannot be written or forced to the disk
  kUndoManifest = 1106,    // the manifest cannot be written or put in place
};

std::string folder_path(const std::string& folder, const std::string& file) {
  return folder + "/" + file;
}

FileMark mark_of(std::string_view name) {
  FileState s;
  FileMark m;
  if (file_state(name, s) == kOsOk && s.exists) {
    m.exists = true;
    m.size = s.size;
    m.mtime_ns = s.mtime_ns;
  }
  return m;
}

// Raises a snapshot error with retry; true when the handler asks to retry.
bool retry_after(int gencode, int subcode, const std::string& file, int oscode) {
  ErrorObject e = make_error(gencode, "UNDO", subcode, "", kCanRetry);
  e.filename = file;
  e.oscode = oscode;
  return raise(e).retry();
}

// Writes `text` to a new file at `path` and forces it to the disk; the OS code.
int write_whole(const std::string& path, const std::string& text) {
  File f;
  if (int rc = f.create(path, FileShare::Exclusive); rc != kOsOk) return rc;
  IoResult w = f.write_at(0, text.data(), text.size());
  if (w.bytes != text.size()) return w.oscode != kOsOk ? w.oscode : kOsDiskFull;
  if (int rc = f.commit(); rc != kOsOk) return rc;
  return f.close();
}

// Reads the whole file; false when it cannot be read.
bool read_whole(std::string_view name, std::string& out) {
  File f;
  if (f.open(name, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return false;
  const IoResult size = f.size();
  if (size.oscode != kOsOk) return false;
  out.resize(static_cast<std::size_t>(size.bytes));
  return f.read_at(0, out.data(), out.size()).bytes == out.size();
}

// What went wrong copying a file a block at a time.
enum class CopyFault { kNone, kRead, kWrite, kReadBack, kStopped };

// Copies what `in` holds into `out` (new, empty) a block at a time and forces `out` to
// the disk, handing each block to `workers` as the next bytes of `message`: the copy
// and the hashing go side by side. With `read_back`, the host copies each block and
// what is hashed is the block read back from `out`: the digest is then of the bytes
// that `out` holds. A stop request ends it between blocks. `bytes` is what was copied,
// `oscode` the code of what failed.
CopyFault copy_blocks(File& in, File& out, DigestWorkers& workers, DigestWorkers::Message message,
                      bool read_back, std::uint64_t& bytes, int& oscode) {
  const std::size_t size = workers.block_bytes();
  for (bytes = 0;;) {
    if (Runtime::interrupt_pending()) return CopyFault::kStopped;
    std::vector<char> block = workers.block();
    CopyFault fault = CopyFault::kNone;
    std::size_t n = 0;
    if (read_back) {
      bool reading = false;
      const IoResult c = out.copy_from(in, bytes, size, reading);
      n = static_cast<std::size_t>(c.bytes);
      if ((oscode = c.oscode) != kOsOk) {
        fault = reading ? CopyFault::kRead : CopyFault::kWrite;
      } else if (const IoResult b = out.read_at(bytes, block.data(), n); b.bytes != n) {
        oscode = b.oscode != kOsOk ? b.oscode : kOsReadFault;
        fault = CopyFault::kReadBack;
      }
    } else {
      const IoResult r = in.read_at(bytes, block.data(), size);
      n = static_cast<std::size_t>(r.bytes);
      if ((oscode = r.oscode) != kOsOk) {
        fault = CopyFault::kRead;
      } else if (const IoResult w = out.write_at(bytes, block.data(), n); w.bytes != n) {
        oscode = w.oscode != kOsOk ? w.oscode : kOsDiskFull;
        fault = CopyFault::kWrite;
      }
    }
    if (fault != CopyFault::kNone) {
      workers.give_back(std::move(block));
      return fault;
    }
    workers.add(message, std::move(block), n);
    out.start_writeback(bytes, n);  // the disk writes while the next block is copied
    bytes += n;
    if (n < size) break;
  }
  if ((oscode = out.commit()) != kOsOk || (oscode = out.close()) != kOsOk) return CopyFault::kWrite;
  return CopyFault::kNone;
}

// The SHA-256 of a file's bytes, "" when it cannot be read whole.
std::string digest_of(const std::string& name) {
  File f;
  if (f.open(name, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return {};
  Sha256 h;
  std::vector<char> buf(std::size_t{1} << 20);
  for (std::uint64_t at = 0;;) {
    const IoResult r = f.read_at(at, buf.data(), buf.size());
    if (r.oscode != kOsOk) return {};
    h.update(buf.data(), static_cast<std::size_t>(r.bytes));
    at += r.bytes;
    if (r.bytes < buf.size()) return h.hex_digest();
  }
}

// Removes a folder of the snapshots and everything in it (files only: a snapshot has no
// subfolders); best effort.
void remove_folder(const std::string& folder) {
  for (const std::string& name : list_files(folder + "/*")) delete_file(folder_path(folder, name));
  remove_directory(folder);
}

// Clears the partial snapshots that runs killed before their manifest left.
void clear_partial_snapshots() {
  for (const std::string& name : list_directories(kUndoFolder)) {
    const std::string folder = folder_path(kUndoFolder, name);
    if (!file_exists(folder_path(folder, kManifest))) remove_folder(folder);
  }
}

// The local time now, as a folder's name ("20261209-053012", sortable) or for a person
// ("2026-12-09 05:30:12").
enum class TimeText { kFolder, kReadable };
std::string local_time_now(TimeText as) {
  const LocalDateTime t = local_now();
  const char* format =
      as == TimeText::kFolder ? "%04d%02d%02d-%02d%02d%02d" : "%04d-%02d-%02d %02d:%02d:%02d";
  char buf[32];
  std::snprintf(buf, sizeof buf, format, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

std::string absolute(const std::string& path) {
  std::error_code ec;
  std::string s = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (s.size() > 1 && (s.back() == '/' || s.back() == '\\') && s[s.size() - 2] != ':') s.pop_back();
  return s;
}

// Whether two host paths name the same directory, however each is spelled.
bool same_directory(const std::string& a, const std::string& b) {
  const std::optional<std::string> rel = path_below(a + "/x", b);
  return rel && *rel == "x";
}

// The directory part of a name ("" for a bare name: the working directory).
std::string parent_of(const std::string& name) {
  const std::size_t cut = name.find_last_of("\\/");
  if (cut == std::string::npos) return ".";
  return cut == 0 ? name.substr(0, 1) : name.substr(0, cut);
}

}  // namespace

// --- the snapshot ---

std::uint64_t snapshot_bytes(const std::vector<std::string>& names) {
  std::uint64_t n = 0;
  for (const std::string& name : names) {
    File f;
    // The operator's own file, also while a dry run's copies are on.
    if (f.open_original(name) == kOsOk && f.size().oscode == kOsOk) n += f.size().bytes;
  }
  return n;
}

bool RunSnapshot::take(const std::vector<std::string>& names) {
  FrameGuard frame("SNAPSHOT");
  Runtime& rt = Runtime::current();
  // A stop request or a quit while the copies are made leaves no partial folder.
  struct Partial {
    RunSnapshot& s;
    bool done = false;
    ~Partial() {
      if (!done && !s.folder_.empty()) {
        remove_folder(s.folder_);
        s.folder_.clear();
      }
    }
  } partial{*this};
  for (;;) {
    int rc = make_directory(kUndoFolder);
    if (rc == kOsOk || rc == kOsAlreadyExists) break;
    if (!retry_after(kErrCreate, kUndoMakeFolder, kUndoFolder, rc)) return false;
  }
  clear_partial_snapshots();
  std::string folder;
  for (;;) {
    // Named by the run's start; a second run in the same second gets "-2" and so on.
    const std::string stamp = local_time_now(TimeText::kFolder);
    const std::vector<std::string> taken = list_directories(kUndoFolder);
    std::string name = stamp;
    for (int n = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++n) {
      name = stamp + "-" + std::to_string(n);
    }
    folder = folder_path(kUndoFolder, name);
    int rc = make_directory(folder);
    if (rc == kOsOk) break;
    if (rc == kOsAlreadyExists) continue;  // another run took the name meanwhile
    if (!retry_after(kErrCreate, kUndoMakeFolder, folder, rc)) return false;
  }
  folder_ = folder;
  manifest_ = Manifest{};
  manifest_.started = local_time_now(TimeText::kReadable);
  manifest_.drive_root = absolute(drive_root());
  manifest_.directory = absolute(".");
  // The copies are hashed on other threads while the next blocks are copied; the
  // manifest waits for every digest.
  DigestWorkers workers;
  std::vector<DigestWorkers::Message> digests;
  int number = 0;
  for (const std::string& name : names) {
    rt.poll_interrupt();
    SavedFile f;
    // The name the run knows it by reaches it again under the same drive root and
    // working directory; the host path is for the person who reads the manifest.
    f.name = operator_file_name(resolve_name(name).path);
    f.host_path = absolute(resolve_name(name).path);
    DigestWorkers::Message digest = 0;
    if (!save(f, ++number, workers, digest)) return false;
    manifest_.files.push_back(std::move(f));
    digests.push_back(digest);
  }
  for (std::size_t i = 0; i < manifest_.files.size(); ++i) {
    if (manifest_.files[i].before.exists) manifest_.files[i].sha256 = workers.digest(digests[i]);
  }
  if (!write_manifest()) return false;
  commit_directory(kUndoFolder);
  partial.done = true;
  return true;
}

bool RunSnapshot::save(SavedFile& f, int number, DigestWorkers& workers,
                       DigestWorkers::Message& digest) {
  for (;;) {
    f.before = mark_of(f.name);
    if (!f.before.exists) return true;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%03d-", number);
    f.copy = prefix + std::filesystem::path(f.host_path).filename().string();
    const std::string copy_path = folder_path(folder_, f.copy);
    File in;
    if (int rc = in.open(f.name, FileAccess::ReadOnly, FileShare::Shared); rc != kOsOk) {
      if (retry_after(kErrOpen, kUndoOpenFile, f.name, rc)) continue;
      return false;
    }
    File out;
    if (int rc = out.create(copy_path, FileShare::Exclusive); rc != kOsOk) {
      if (retry_after(kErrCreate, kUndoMakeCopy, copy_path, rc)) continue;
      return false;
    }
    digest = workers.begin();
    std::uint64_t bytes = 0;
    int code = kOsOk;
    const CopyFault fault = copy_blocks(in, out, workers, digest, false, bytes, code);
    if (fault == CopyFault::kNone) {
      f.before.size = bytes;  // the file as it was copied: what the manifest promises
      return true;
    }
    out.close();
    delete_file(copy_path);
    if (fault == CopyFault::kStopped) {
      Runtime::current().poll_interrupt();  // unwinds
      return false;
    }
    const bool read = fault == CopyFault::kRead;
    if (!retry_after(read ? kErrRead : kErrWrite, read ? kUndoReadFile : kUndoWriteCopy,
                     read ? f.name : copy_path, code)) {
      return false;
    }
  }
}

bool RunSnapshot::write_manifest() {
  const std::string fresh = folder_path(folder_, kManifestNew);
  const std::string final_path = folder_path(folder_, kManifest);
  for (;;) {
    delete_file(fresh);
    int rc = write_whole(fresh, manifest_.text());
    if (rc == kOsOk) rc = replace_file(fresh, final_path);
    if (rc == kOsOk) rc = commit_directory(folder_);
    if (rc == kOsOk) return true;
    if (!retry_after(kErrWrite, kUndoManifest, final_path, rc)) return false;
  }
}

void RunSnapshot::record_after() {
  if (folder_.empty()) return;
  for (SavedFile& f : manifest_.files) f.after = mark_of(f.name);
  const std::string fresh = folder_path(folder_, kManifestNew);
  delete_file(fresh);
  if (write_whole(fresh, manifest_.text()) == kOsOk &&
      replace_file(fresh, folder_path(folder_, kManifest)) == kOsOk) {
    commit_directory(folder_);
  }
}

// --- the undo ---

namespace {

struct Snapshot {
  std::string folder;
  Manifest manifest;
};

// What to do with one file of the snapshot.
enum class Step { kNothing, kPutBack, kRemove };

// The most recent snapshot not undone yet; false when there is none. `why` is set when
// the most recent one cannot be read.
bool latest_snapshot(Snapshot& out, std::string& why) {
  std::vector<std::string> names = list_directories(kUndoFolder);
  std::sort(names.rbegin(), names.rend());
  for (const std::string& name : names) {
    const std::string folder = folder_path(kUndoFolder, name);
    if (!file_exists(folder_path(folder, kManifest))) continue;  // partial
    if (file_exists(folder_path(folder, kUndoneMark))) continue;
    out.folder = folder;
    std::string text;
    if (!read_whole(folder_path(folder, kManifest), text)) {
      why = "its manifest cannot be read";
      return true;
    }
    if (!Manifest::parse(text, out.manifest, why)) why = "its manifest is damaged: " + why;
    return true;
  }
  return false;
}

// The snapshot can be used here: it was read whole, and it was taken in this directory
// with "\" naming the same folder.
bool snapshot_fits_here(const std::string& program, const std::string& prefix, const Snapshot& s,
                        const std::string& why, const OutputSink& err) {
  if (!why.empty()) {
    err(prefix + "the snapshot " + s.folder + " cannot be used: " + why + ". Nothing was changed.\n");
    return false;
  }
  const Manifest& m = s.manifest;
  if (!same_directory(m.directory, absolute("."))) {
    err(prefix + "the snapshot " + s.folder + " was taken in " + m.directory +
        "; run the undo there. Nothing was changed.\n");
    return false;
  }
  if (!same_directory(m.drive_root, absolute(drive_root()))) {
    err(prefix + "the run of " + m.started + " took \"\\\" as " + m.drive_root + "; now it names " +
        absolute(drive_root()) + ". Give the run's //DRIVE: (\"" + program +
        " --undo //DRIVE:" + m.drive_root + "\"). Nothing was changed.\n");
    return false;
  }
  return true;
}

// Every copy of the snapshot is there (their bytes are checked as they are put back).
bool copies_present(const std::string& prefix, const Snapshot& s, const OutputSink& err) {
  for (const SavedFile& f : s.manifest.files) {
    if (f.before.exists && !file_exists(folder_path(s.folder, f.copy))) {
      err(prefix + "the snapshot " + s.folder + " is damaged: the copy of " + f.name + " (" +
          f.copy + ") is missing. Nothing was changed.\n");
      return false;
    }
  }
  return true;
}

// What each file needs; refused (unless forced) when files were changed since the run
// ended.
bool plan_steps(const std::string& program, const std::string& prefix, const Manifest& m,
                const UndoRequest& request, std::vector<Step>& steps, const OutputSink& err) {
  std::vector<std::string> changed_since;
  for (const SavedFile& f : m.files) {
    const FileMark now = mark_of(f.name);
    if (now == f.before) {
      steps.push_back(Step::kNothing);  // as before the run (put back by an earlier undo)
      continue;
    }
    if (f.after && now != *f.after) changed_since.push_back(f.name);
    steps.push_back(f.before.exists ? Step::kPutBack : Step::kRemove);
  }
  if (!changed_since.empty() && !request.force) {
    std::string list;
    for (const std::string& n : changed_since) list += "  " + n + "\n";
    err(prefix + "these files were changed after the run of " + m.started +
        " ended (the destination system has been used since?):\n" + list +
        "Putting the run's files back would lose those changes. Nothing was changed; \"" +
        program + " --undo --force\" puts them back all the same.\n");
    return false;
  }
  return true;
}

// No file to be changed may be held by another program.
bool files_free(const std::string& prefix, const Manifest& m, const std::vector<Step>& steps,
                const OutputSink& err) {
  for (std::size_t i = 0; i < m.files.size(); ++i) {
    if (steps[i] == Step::kNothing || !mark_of(m.files[i].name).exists) continue;
    File probe;
    const int rc = probe.open(m.files[i].name, FileAccess::ReadWrite, FileShare::Exclusive);
    if (rc != kOsOk) {
      err(prefix + m.files[i].name + (rc == kOsFileInUse ? " is in use by another program "
                                                         : " cannot be opened for writing ") +
          dos_error_explained(rc) + ". Nothing was changed.\n");
      return false;
    }
  }
  return true;
}

// The file beside `name` that its copy is written to before it takes its place.
std::string beside(const std::string& name) { return name + kPutBackSuffix; }

// Removes the files written beside the files of the snapshot (best effort).
void remove_beside(const Manifest& m) {
  for (const SavedFile& f : m.files) {
    if (f.before.exists) delete_file(beside(f.name));
  }
}

// Writes the copy of every file to put back beside it and gives it the file's
// modification time, so that what is left to do are renames. The host copies each
// block and the block is read back, hashed on other threads while the next is copied:
// the digest checked against the manifest's SHA-256 is that of the bytes written. When
// any of it fails, or a stop request comes, what was written beside the files is
// removed and nothing was changed.
bool write_beside(const std::string& prefix, const Snapshot& s, const std::vector<Step>& steps,
                  const OutputSink& err) {
  const Manifest& m = s.manifest;
  remove_beside(m);  // left by an undo that was killed
  DigestWorkers workers;
  std::vector<std::pair<std::size_t, DigestWorkers::Message>> digests;
  std::string said;
  bool stopped = false;
  for (std::size_t i = 0; i < m.files.size() && said.empty() && !stopped; ++i) {
    const SavedFile& f = m.files[i];
    if (steps[i] != Step::kPutBack) continue;
    File in, out;
    int code = kOsOk;
    std::uint64_t bytes = 0;
    CopyFault fault = CopyFault::kRead;
    if ((code = in.open(folder_path(s.folder, f.copy), FileAccess::ReadOnly, FileShare::Shared)) ==
        kOsOk) {
      fault = CopyFault::kWrite;
      if ((code = out.create(beside(f.name), FileShare::Exclusive)) == kOsOk) {
        const DigestWorkers::Message digest = workers.begin();
        fault = copy_blocks(in, out, workers, digest, true, bytes, code);
        digests.emplace_back(i, digest);
      }
    }
    switch (fault) {
      case CopyFault::kNone:
        if ((code = set_file_time(beside(f.name), f.before.mtime_ns)) != kOsOk) {
          said = f.name + ": its modification time cannot be set " + dos_error_explained(code);
        }
        break;
      case CopyFault::kStopped:
        stopped = true;
        break;
      case CopyFault::kRead:
        said = f.name + ": its copy (" + f.copy + ") cannot be read " + dos_error_explained(code);
        break;
      case CopyFault::kWrite:
        said = f.name + ": cannot be written beside it " + dos_error_explained(code);
        break;
      case CopyFault::kReadBack:
        said = f.name + ": what was written beside it cannot be read back " +
               dos_error_explained(code);
        break;
    }
  }
  // Once something failed there is no digest to wait for.
  for (std::size_t k = 0; k < digests.size() && said.empty() && !stopped; ++k) {
    const auto& [i, digest] = digests[k];
    const SavedFile& f = m.files[i];
    if (workers.digest(digest) == f.sha256) continue;
    // Which side is wrong: the snapshot's copy, or what was written from it.
    if (digest_of(folder_path(s.folder, f.copy)) != f.sha256) {
      said = "the snapshot " + s.folder + " is damaged: the copy of " + f.name + " (" + f.copy +
             ") does not match its manifest";
    } else {
      said = f.name + ": the bytes written beside it do not read back as saved";
    }
  }
  if (said.empty() && !stopped) return true;
  remove_beside(m);
  err(prefix + (stopped ? "interrupted before anything was changed.\n"
                        : said + ". Nothing was changed.\n"));
  return false;
}

// Puts each file written beside its place in that place, and removes the files the run
// made. These are renames and removals only, done to the end once begun; then each
// directory's entries are forced to the disk (until then a power cut may leave some
// files as the run left them, which the next undo puts back: the snapshot is not marked
// as undone before this ends).
bool put_in_place(const std::string& program, const std::string& prefix, const Snapshot& s,
                  const std::vector<Step>& steps, const OutputSink& out, const OutputSink& err) {
  const Manifest& m = s.manifest;
  out(prefix + "putting back the files of the run of " + m.started + " (" + s.folder + "):\n");
  std::vector<std::string> directories;
  struct CommitDirectories {
    std::vector<std::string>& names;
    ~CommitDirectories() {
      for (const std::string& d : names) commit_directory(d);
    }
  } commit{directories};
  for (std::size_t i = 0; i < m.files.size(); ++i) {
    const SavedFile& f = m.files[i];
    if (steps[i] == Step::kNothing) continue;
    if (std::find(directories.begin(), directories.end(), parent_of(f.name)) == directories.end()) {
      directories.push_back(parent_of(f.name));
    }
    if (steps[i] == Step::kRemove) {
      if (int rc = delete_file(f.name); rc != kOsOk && rc != kOsFileNotFound) {
        remove_beside(m);
        err(prefix + f.name + " cannot be removed " + dos_error_explained(rc) + "; \"" + program +
            " --undo\" again finishes the work once the cause is gone.\n");
        return false;
      }
      out("  removed " + f.name + " (the run made it)\n");
      continue;
    }
    if (int rc = replace_file(beside(f.name), f.name); rc != kOsOk) {
      remove_beside(m);
      err(prefix + f.name + ": cannot take the place of the file " + dos_error_explained(rc) +
          "; \"" + program + " --undo\" again finishes the work once the cause is gone.\n");
      return false;
    }
    out("  put back " + f.name + " (" + plural(f.before.size, "byte", "bytes") + ")\n");
  }
  return true;
}

}  // namespace

int undo_last_run(const std::string& program, const UndoRequest& request, const OutputSink& out,
                  const OutputSink& err) {
  const std::string prefix = program + " --undo: ";
  clear_partial_snapshots();
  Snapshot s;
  std::string why;
  if (!latest_snapshot(s, why)) {
    out(prefix + "there is no run to undo (no snapshot in " + kUndoFolder + " that is not undone).\n");
    return 0;
  }
  if (!snapshot_fits_here(program, prefix, s, why, err) || !copies_present(prefix, s, err)) {
    return 1;
  }
  std::vector<Step> steps;
  if (!plan_steps(program, prefix, s.manifest, request, steps, err) ||
      !files_free(prefix, s.manifest, steps, err) || !write_beside(prefix, s, steps, err) ||
      !put_in_place(program, prefix, s, steps, out, err)) {
    return 1;
  }
  write_whole(folder_path(s.folder, kUndoneMark),
              "undone " + local_time_now(TimeText::kReadable) + "\n");
  commit_directory(s.folder);
  out("Every file is as it was before the run of " + s.manifest.started +
      ". The snapshot stays in " + s.folder +
      ", marked as undone; delete the folder when you no longer need it.\n");
  return 0;
}

}  // namespace lum
