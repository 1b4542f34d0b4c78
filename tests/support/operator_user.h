// Running a program as an operator for whom file permissions apply: when the tests run as
// the superuser (as in CI), as the host's unprivileged user; otherwise as this user.
#pragma once

#include <optional>
#include <string>

#include "platform/process.h"

namespace lum::test {

// The user to start `program` as (nullopt: this user). When this process is the superuser
// and cannot start `program` as the unprivileged user, `why` says so and the caller
// skips: permissions cannot be met here.
inline std::optional<HostUser> operator_user(const std::string& program, std::string& why) {
  std::optional<HostUser> user = unprivileged_user();
  if (!user) return user;
  ProcessOptions o;
  o.run_as = user;
  ProcessOutcome p = run_process(program, {"--version"}, o);
  if (!p.started || p.exit_code != 0) {
    why = "cannot start " + program + " as an unprivileged user: " + p.out;
  }
  return user;
}

}  // namespace lum::test
