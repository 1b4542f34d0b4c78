// Counts what the run asks of the host files, through the file layer's test seam:
// every read and write with its file, offset and size. Tests bound with it how often a
// pass reads each byte and what a rewrite writes. One counter at a time; it removes the
// seam when it goes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace lum::test {

class IoCounter {
 public:
  struct Transfer {
    IoOp op;
    std::string path;
    std::uint64_t offset;
    std::size_t n;
  };

  IoCounter() {
    set_io_fault_hook(
        [this](IoOp op, const std::string& path, std::uint64_t offset, std::size_t n, IoFault&) {
          transfers_.push_back({op, path, offset, n});
          return false;  // counted, never cut
        });
  }
  ~IoCounter() { set_io_fault_hook(nullptr); }
  IoCounter(const IoCounter&) = delete;
  IoCounter& operator=(const IoCounter&) = delete;

  void clear() { transfers_.clear(); }

  // The transfers of one kind on files whose path ends with `file`.
  std::vector<Transfer> of(IoOp op, std::string_view file) const {
    std::vector<Transfer> out;
    for (const Transfer& t : transfers_) {
      if (t.op == op && t.path.size() >= file.size() &&
          std::string_view(t.path).substr(t.path.size() - file.size()) == file) {
        out.push_back(t);
      }
    }
    return out;
  }
  std::uint64_t bytes(IoOp op, std::string_view file) const {
    std::uint64_t sum = 0;
    for (const Transfer& t : of(op, file)) sum += t.n;
    return sum;
  }
  // The most times that one byte of [from, to) of the file was asked for by reads.
  int most_reads_of_a_byte(std::string_view file, std::uint64_t from, std::uint64_t to) const {
    // Coverage by sweeping the starts and ends of the reads.
    std::map<std::uint64_t, int> edges;
    for (const Transfer& t : of(IoOp::Read, file)) {
      std::uint64_t a = std::max(t.offset, from), b = std::min(t.offset + t.n, to);
      if (a >= b) continue;
      ++edges[a];
      --edges[b];
    }
    int depth = 0, most = 0;
    for (const auto& [at, change] : edges) {
      depth += change;
      most = std::max(most, depth);
    }
    return most;
  }

 private:
  std::vector<Transfer> transfers_;
};

}  // namespace lum::test
