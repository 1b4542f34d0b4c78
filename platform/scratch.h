// Inside platform/ only: the scratch copies of a dry run (file.h says what they do), as
// File and the functions of the file layer by name consult them. The same on every host: the
// host's own calls are those of HostFiles. Every function but active() REQUIRES that
// the copies are on.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace lum::scratch {

bool active();
// The path that an open of `r` works on, in `use`: the file's copy (made now when the
// open writes or locks exclusively and there is none yet), or r.path, the file itself,
// for a shared read of a file without a copy. The OS code of the open so far.
int for_open(const ResolvedName& r, FileAccess access, FileShare share, std::string& use);
// The path that a create of `r` works on: its copy, made now.
int for_create(const ResolvedName& r, std::string& use);
// Whether the run changed the file of `r` (changed_by_run).
bool changed(const ResolvedName& r);
// A File opened at `path` has changed it.
void note_change(const std::string& path);
// Whether the run sees a regular file at `path`; false in `known` when the copies know
// nothing of it (the file itself then answers).
bool exists(const std::string& path, bool& known);
// delete_file and rename_file of resolved names, on the copies.
int remove(const ResolvedName& r);
int rename(const ResolvedName& from, const ResolvedName& to);
// Turns the names listed in `dir` into the run's own view of it: without what it
// deleted or renamed away, with what it created that `matches`.
void adjust_listing(const std::string& dir, const std::function<bool(std::string_view)>& matches,
                    std::vector<std::string>& names);

}  // namespace lum::scratch
