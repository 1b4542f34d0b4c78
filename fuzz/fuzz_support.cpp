#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace lum::fuzz {

std::string scratch(std::string_view name) {
  namespace fs = std::filesystem;
  // Removed when the process ends normally (a replay); a fuzzer that stops on a
  // finding leaves it for a look.
  static struct Dir {
    fs::path path;
    Dir() {
      std::random_device rd;
      char leaf[40];
      std::snprintf(leaf, sizeof leaf, "lumfuzz-%08x%08x", rd(), rd());
      path = fs::temp_directory_path() / leaf;
      fs::create_directories(path);
    }
    ~Dir() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } dir;
  return (dir.path / name).string();
}

void write_file(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(static_cast<bool>(out), "the scratch file could not be written");
}

std::string read_file(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void check(bool ok, std::string_view what) {
  if (ok) return;
  std::fprintf(stderr, "property failed: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

Run::Run(std::vector<Allowed> allowed) : allowed_(std::move(allowed)) {
  rt_.settings().hardcommit = false;  // thousands of closes a second: no forcing to disk
  rt_.install_handler([this](ErrorObject& e) -> Value {
    errors_.push_back(e);
    bool expected = false;
    for (const Allowed& a : allowed_) {
      expected = expected || (a.gencode == e.gencode && a.subcode == e.subcode);
    }
    if (!expected) {
      std::fprintf(stderr, "unexpected error %d/%d %s: %s %s\n", e.gencode, e.subcode,
                   e.subsystem.c_str(), e.description.c_str(), e.filename.c_str());
      std::abort();
    }
    if (e.can_default) return Value::logical(false);
    throw Break{};
  });
}

std::uint8_t Input::byte() {
  if (n_ == 0) return 0;
  --n_;
  return *p_++;
}

std::uint64_t Input::bits(int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(byte()) << (8 * i);
  return v;
}

}  // namespace lum::fuzz
