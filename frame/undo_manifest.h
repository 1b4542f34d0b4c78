// The manifest of an undo snapshot: one text file a person can read, in the snapshot's
// folder, with a line per file the run may change: the name the run knows it by, where
// it lives on disk, what it was before the run (absent, or its size, modification time
// and SHA-256, and the name of its copy in the folder) and what it was when the run
// ended (size and modification time, or absent; unknown until the run has ended).
//
//   lumconv undo snapshot
//   started: 2026-12-09 05:30:12
//   drive root: /data/firma
//   working directory: /data/firma/conv
//   (then, tab-separated, one line per file)
//   file  \lum\firma1\Clientes.DBF  /data/firma/lum/firma1/Clientes.DBF
//         before 4133 2026-12-01T10:20:30.123456789Z <sha256> 001-Clientes.DBF
//         after 9011 2026-12-09T05:30:14.000000000Z
//   file  coditem.ntx  /data/firma/conv/coditem.ntx  absent  after unknown
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

// A file's size and modification time (nanoseconds since 1970, UTC), or its absence.
struct FileMark {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t mtime_ns = 0;
  bool operator==(const FileMark&) const = default;
};

struct SavedFile {
  std::string name;       // as the run names it: "\lum\firma1\Clientes.DBF", "coditem.ntx"
  std::string host_path;  // where it lives, spelled as on disk
  FileMark before;
  std::string sha256;     // of its bytes before the run (when it existed)
  std::string copy;       // its copy in the snapshot's folder (when it existed)
  std::optional<FileMark> after;  // when the run ended; none until then
};

struct Manifest {
  std::string started;     // "2026-12-09 05:30:12", local time
  std::string drive_root;  // the host directory that "\" named
  std::string directory;   // the working directory
  std::vector<SavedFile> files;

  std::string text() const;
  // False, with why, when the text is not a whole manifest.
  static bool parse(std::string_view text, Manifest& out, std::string& why);
};

// "2026-12-09T05:30:14.000000000Z" and back; false for anything else.
std::string utc_text(std::int64_t ns);
bool parse_utc_text(std::string_view s, std::int64_t& ns);

}  // namespace lum
