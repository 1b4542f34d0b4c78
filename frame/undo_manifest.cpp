#include "frame/undo_manifest.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace lum {

namespace {

constexpr std::string_view kTitle = "lumconv undo snapshot";

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  for (std::size_t at = 0;;) {
    const std::size_t end = s.find(sep, at);
    out.push_back(s.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    if (end == std::string_view::npos) return out;
    at = end + 1;
  }
}

template <class T>
bool number(std::string_view s, T& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

// "after 9011 <time>", "after absent" or "after unknown", in its fields.
std::string mark_text(const FileMark& m) {
  if (!m.exists) return "absent";
  return std::to_string(m.size) + "\t" + utc_text(m.mtime_ns);
}

// A mark from its fields at `at` (a size and a time, or "absent"); the fields it took.
std::size_t parse_mark(const std::vector<std::string_view>& f, std::size_t at, FileMark& m,
                       bool& ok) {
  ok = false;
  if (at >= f.size()) return 0;
  if (f[at] == "absent") {
    m = FileMark{};
    ok = true;
    return 1;
  }
  if (at + 1 >= f.size()) return 0;
  m.exists = true;
  ok = number(f[at], m.size) && parse_utc_text(f[at + 1], m.mtime_ns);
  return 2;
}

bool value_of(std::string_view line, std::string_view key, std::string& out) {
  if (!line.starts_with(key)) return false;
  out = std::string(line.substr(key.size()));
  return true;
}

}  // namespace

std::string utc_text(std::int64_t ns) {
  using namespace std::chrono;
  const sys_time<nanoseconds> t{nanoseconds(ns)};
  const sys_days day = floor<days>(t);
  const year_month_day ymd(day);
  const hh_mm_ss<nanoseconds> tod(t - day);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%09lldZ",
                static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), static_cast<int>(tod.hours().count()),
                static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()),
                static_cast<long long>(tod.subseconds().count()));
  return buf;
}

bool parse_utc_text(std::string_view s, std::int64_t& ns) {
  using namespace std::chrono;
  // YYYY-MM-DDTHH:MM:SS.NNNNNNNNNZ
  if (s.size() != 30 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
      s[16] != ':' || s[19] != '.' || s[29] != 'Z') {
    return false;
  }
  int y = 0;
  unsigned mo = 0, d = 0;
  long long h = 0, mi = 0, sec = 0, frac = 0;
  if (!number(s.substr(0, 4), y) || !number(s.substr(5, 2), mo) || !number(s.substr(8, 2), d) ||
      !number(s.substr(11, 2), h) || !number(s.substr(14, 2), mi) ||
      !number(s.substr(17, 2), sec) || !number(s.substr(20, 9), frac)) {
    return false;
  }
  const year_month_day ymd{year(y), month(mo), day(d)};
  if (!ymd.ok() || h > 23 || mi > 59 || sec > 60) return false;
  const sys_time<nanoseconds> t = sys_days(ymd) + hours(h) + minutes(mi) + seconds(sec) +
                                  nanoseconds(frac);
  ns = t.time_since_epoch().count();
  return true;
}

std::string Manifest::text() const {
  std::string s = std::string(kTitle) + "\n";
  s += "started: " + started + "\n";
  s += "drive root: " + drive_root + "\n";
  s += "working directory: " + directory + "\n";
  s += "# one line per file, tab-separated: the name the run knows it by, where it lies, what\n"
       "# it was before the run (absent, or size, modification time in UTC, SHA-256 and its\n"
       "# copy in this folder) and when the run ended (absent, size and time, or unknown)\n";
  for (const SavedFile& f : files) {
    s += "file\t" + f.name + "\t" + f.host_path + "\t";
    if (f.before.exists) {
      s += "before\t" + mark_text(f.before) + "\t" + f.sha256 + "\t" + f.copy;
    } else {
      s += "absent";
    }
    s += "\tafter\t" + (f.after ? mark_text(*f.after) : std::string("unknown")) + "\n";
  }
  return s;
}

bool Manifest::parse(std::string_view text, Manifest& out, std::string& why) {
  out = Manifest{};
  std::vector<std::string_view> lines = split(text, '\n');
  if (lines.empty() || lines[0] != kTitle) {
    why = "it does not begin as a manifest";
    return false;
  }
  bool started = false, root = false, dir = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty() || line.starts_with("#")) continue;
    if (value_of(line, "started: ", out.started)) {
      started = true;
      continue;
    }
    if (value_of(line, "drive root: ", out.drive_root)) {
      root = true;
      continue;
    }
    if (value_of(line, "working directory: ", out.directory)) {
      dir = true;
      continue;
    }
    why = "line " + std::to_string(i + 1) + " is not a file of the snapshot";
    const std::vector<std::string_view> f = split(line, '\t');
    if (f.size() < 5 || f[0] != "file") return false;
    SavedFile s;
    s.name = std::string(f[1]);
    s.host_path = std::string(f[2]);
    std::size_t at = 3;
    bool ok = false;
    if (f[at] == "absent") {
      ++at;
    } else if (f[at] == "before") {
      at += 1 + parse_mark(f, at + 1, s.before, ok);
      if (!ok || !s.before.exists || at + 2 > f.size()) return false;
      s.sha256 = std::string(f[at]);
      s.copy = std::string(f[at + 1]);
      at += 2;
      if (s.sha256.size() != 64 || s.copy.empty()) return false;
    } else {
      return false;
    }
    if (at >= f.size() || f[at] != "after") return false;
    ++at;
    if (at < f.size() && f[at] == "unknown") {
      ++at;
    } else {
      FileMark m;
      at += parse_mark(f, at, m, ok);
      if (!ok) return false;
      s.after = m;
    }
    if (at != f.size()) return false;
    out.files.push_back(std::move(s));
  }
  if (!started || !root || !dir) {
    why = "its heading is not whole";
    return false;
  }
  why.clear();
  return true;
}

}  // namespace lum
