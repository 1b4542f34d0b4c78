// Every run can be undone. Before a run changes any file, it saves every file it may
// change into a folder of its own under "lumconv-undo" in the working directory, named
// by the run's start (lumconv-undo/20261209-053012): a copy of each file that exists,
// and a manifest (undo_manifest.h) that records each file as it was, absent ones
// included. The copies are written and forced to the disk and the manifest is put in
// place by rename, all before the first change: a run killed before that point has
// changed nothing, and a folder without a manifest is a partial snapshot, which the
// next run or undo clears. When the run ends, however it ends, the manifest gains what
// each file was then.
//
// "lumconv --undo" puts back the files of the most recent run not undone yet: each
// file byte for byte with its modification time, written beside it and renamed over
// it, so that an undo that is interrupted and run again completes; files that the run
// created are removed. It refuses, changing nothing, when a file is held by another
// program, when a file was changed after the run ended (unless forced), and when the
// snapshot is damaged. An undone snapshot is kept, marked as undone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/backend.h"
#include "frame/digest_workers.h"
#include "frame/undo_manifest.h"

namespace lum {

// The folder of the snapshots, in the working directory.
inline constexpr const char* kUndoFolder = "lumconv-undo";

// The snapshot of one run.
class RunSnapshot {
 public:
  // Saves the files of that name (as the run names them) before the run. Raises the
  // errors of what fails (making the folder or a copy, reading a file, a file held by
  // another program), each with its retry; false when it could not be completed, and
  // then the partial folder is removed. Clears partial folders of earlier runs first.
  bool take(const std::vector<std::string>& names);
  bool taken() const { return !folder_.empty(); }
  // The snapshot's folder, as the working directory names it ("lumconv-undo/...").
  const std::string& folder() const { return folder_; }
  // Records in the manifest what each file is now: called when the run has ended and
  // every table is closed. Best effort: a manifest that cannot be rewritten keeps
  // "unknown", which an undo treats as a run that did not end.
  void record_after();

 private:
  // Copies one file into the folder, its digest handed to `workers` as `digest`.
  bool save(SavedFile& f, int number, DigestWorkers& workers, DigestWorkers::Message& digest);
  bool write_manifest();

  std::string folder_;
  Manifest manifest_;
};

// The bytes that a snapshot of these files would take now (the files that exist).
std::uint64_t snapshot_bytes(const std::vector<std::string>& names);

struct UndoRequest {
  bool force = false;  // put back files that were changed after the run, too
};

// lumconv --undo: puts back the most recent run's files (see above), telling what it
// does on `out` and why it refuses on `err`. Exit code: 0 when the files are as they
// were before that run (or nothing was left to undo), 1 when it refused or failed or
// a stop request ended it.
int undo_last_run(const std::string& program, const UndoRequest& request, const OutputSink& out,
                  const OutputSink& err);

}  // namespace lum
