// Inside platform/ only: what the sources of the file layer share — splitting a name
// and resolving its directories (file_names.cpp), and the fault seam's answer for an
// operation (file.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace lum::files {

// Host paths are joined with "/", which every host accepts.
std::string join(const std::string& base, std::string_view comp);
// True when the host path is a directory ("" is the working directory).
bool is_directory(const std::string& path);

struct SplitName {
  std::string base;  // "" (working directory), a root, or a drive ("C:", "C:\")
  std::vector<std::string_view> comps;
};
// Splits a name on both separators (see file_names.cpp for the drive rules).
SplitName split_name(std::string_view name);
// Resolves the first `count` components of `s` into `path`; returns the OS code.
int resolve_dirs(const SplitName& s, std::size_t count, std::string& path);

// The fault seam's answer for an operation that is not a transfer: the code it fails
// with, kOsOk when it goes on.
int injected_fault(IoOp op, const std::string& path, std::uint64_t offset = 0,
                   std::uint64_t n = 0);

}  // namespace lum::files
