// What the fuzz targets share: a scratch directory for the files of an input, a run-time
// whose handler records every error and lets through only the errors a target allows,
// and a check that aborts, so that the fuzzer keeps the input, when a property fails.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum::fuzz {

// The full name of `name` in the process's own scratch directory under the system's
// temporary directory, made at the first call and removed when the process ends
// normally. The working directory stays as it is: libFuzzer reads its inputs and
// writes its findings there.
std::string scratch(std::string_view name);

// Writes `bytes` as the whole content of `file` / reads a whole file.
void write_file(const std::filesystem::path& file, std::string_view bytes);
std::string read_file(const std::filesystem::path& file);

// Prints `what` and aborts when `ok` is false.
void check(bool ok, std::string_view what);

// Thrown by the handler where the run's own handler would end the run.
struct Break {};

// An error a target expects from damaged input: generic code and sub-code.
struct Allowed {
  int gencode;
  int subcode;
};

// A run-time for one input, with closes that do not force the files to disk. Every
// error is recorded; it must be one of `allowed`, else the process aborts. An error
// that allows a default gets it; any other throws Break.
class Run {
 public:
  explicit Run(std::vector<Allowed> allowed);
  Runtime& runtime() { return rt_; }
  const std::vector<ErrorObject>& errors() const { return errors_; }

 private:
  Runtime rt_;
  std::vector<Allowed> allowed_;
  std::vector<ErrorObject> errors_;
};

// Reads the input from the front: bytes, then whatever is left.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
  // The next byte, 0 when the input is used up.
  std::uint8_t byte();
  // The next n bytes as an unsigned little-endian number (missing bytes are 0).
  std::uint64_t bits(int n);
  // The rest of the input.
  std::string_view rest() const { return {reinterpret_cast<const char*>(p_), n_}; }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

}  // namespace lum::fuzz
