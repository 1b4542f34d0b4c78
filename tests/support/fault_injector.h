// Fails one call of the file layer through its fault seam: the n-th call that reaches
// the host (of every kind, or of one kind only) fails with an operating-system code, or a
// read or write moves only half its bytes; or, as a process killed there or a power cut
// would, that call and every later one. It also keeps the list of the calls it saw, so
// that a clean run counts the points a fault walk has to visit. One seam user at a time
// (like IoCounter); it removes the seam when it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"

namespace lum::test {

// Which call fails, and how.
struct FaultPlan {
  std::size_t nth = 0;          // the counted call that fails, from 1; 0: none fails
  std::optional<IoOp> only;     // count only the calls of this kind
  std::string file{};           // and only on paths that end so, case-blind ("": all)
  int oscode = -1;              // the code of the failure; -1: FaultInjector::code_for(op)
  bool short_transfer = false;  // a read or write moves half its bytes, with no code
  // A disk that fills up at the n-th counted call: from then on every write, to any file,
  // that would grow its file stops at the file's end with 112 (writes within the file
  // still work).
  bool disk_full = false;
  // The process is gone at the n-th counted call (kill -9, a power cut): that call and
  // every later one, of any kind and on any file, fails and moves no bytes.
  bool gone = false;
};

class FaultInjector {
 public:
  using Plan = FaultPlan;
  struct Call {
    IoOp op;
    std::string path;
  };

  explicit FaultInjector(Plan plan = {}) : plan_(plan) {
    set_io_fault_hook([this](IoOp op, const std::string& path, std::uint64_t offset,
                             std::size_t n, IoFault& fault) {
      return on_call(op, path, offset, n, fault);
    });
  }
  ~FaultInjector() { set_io_fault_hook(nullptr); }
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  // The codes a host gives most often for each kind of call: 112 for a write (disk
  // full), 32 for a lock (held by another program), 5 (access denied) for the rest.
  static int code_for(IoOp op) {
    switch (op) {
      case IoOp::Write:
        return kOsDiskFull;
      case IoOp::Lock:
        return kOsFileInUse;
      default:
        return kOsAccessDenied;
    }
  }

  // The calls counted so far, and every call seen, in order.
  std::size_t counted() const { return counted_; }
  const std::vector<Call>& calls() const { return calls_; }
  // The (first) call that failed, when one did.
  const std::optional<Call>& failed() const { return failed_; }
  // Its place among all the calls seen, from 1; 0 when none failed.
  std::size_t failed_at() const { return failed_at_; }

 private:
  bool on_call(IoOp op, const std::string& path, std::uint64_t offset, std::size_t n,
               IoFault& fault) {
    calls_.push_back({op, path});
    if (plan_.disk_full && full_) return fill(op, path, offset, n, fault);
    if (gone_) return nothing_moves(op, fault);
    if (plan_.only && op != *plan_.only) return false;
    if (!ends_case_blind(path, plan_.file)) return false;
    if (++counted_ != plan_.nth) return false;
    if (plan_.disk_full) {
      full_ = true;
      return fill(op, path, offset, n, fault);
    }
    fail_here(op, path);
    if (plan_.gone) {
      gone_ = true;
      return nothing_moves(op, fault);
    }
    const bool transfer = op == IoOp::Read || op == IoOp::Write;
    if (plan_.short_transfer && transfer) {
      fault.allow = n / 2;
      fault.oscode = kOsOk;
    } else {
      fault.allow = 0;
      fault.oscode = plan_.oscode >= 0 ? plan_.oscode : code_for(op);
    }
    return true;
  }

  void fail_here(IoOp op, const std::string& path) {
    failed_ = Call{op, path};
    failed_at_ = calls_.size();
  }
  static bool nothing_moves(IoOp op, IoFault& fault) {
    fault.allow = 0;
    fault.oscode = code_for(op);
    return true;
  }
  // The full disk: a write past the end of its file stops there.
  bool fill(IoOp op, const std::string& path, std::uint64_t offset, std::size_t n,
            IoFault& fault) {
    if (op != IoOp::Write) return false;
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec || offset + n <= size) return false;
    if (!failed_) fail_here(op, path);
    fault.allow = offset < size ? static_cast<std::size_t>(size - offset) : 0;
    fault.oscode = kOsDiskFull;
    return true;
  }
  static bool ends_case_blind(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
      char a = s[s.size() - tail.size() + i], b = tail[i];
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
      if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
      if (a != b) return false;
    }
    return true;
  }

  Plan plan_;
  bool full_ = false;
  bool gone_ = false;
  std::size_t counted_ = 0;
  std::vector<Call> calls_;
  std::optional<Call> failed_;
  std::size_t failed_at_ = 0;
};

}  // namespace lum::test
