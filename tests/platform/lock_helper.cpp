// A second process for the sharing and process tests. "try FILE MODE" opens FILE (MODE
// "exclusive" or "shared") and exits with the operating-system code of the open; "hold
// FILE READY RELEASE" holds FILE exclusively, creates READY, and exits once RELEASE
// exists; "report CODE NAME" writes its working directory to standard output and the
// variable NAME (or "<unset>") to standard error, and exits with CODE; "sleep" waits
// thirty seconds. As another program on a POSIX host locks a file: "record FILE KIND
// START LENGTH" takes a classic fcntl record lock (KIND "read" or "write"; LENGTH 0
// reaches past the end of the file) and exits with 0, or 32 when another holder's lock
// is in the way; "hold-record FILE KIND START LENGTH READY RELEASE" takes it, creates
// READY and exits once RELEASE exists.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/file.h"
#include "platform/foreign_hold.h"
#include "platform/terminal.h"

namespace {

void wait_for(const char* release) {
  for (int i = 0; i < 3000 && !std::filesystem::exists(release); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The exit code of a record lock as "record" takes it; `hold` keeps the lock.
int take_record_lock(lum::ForeignHold& hold, char** args) {
  return hold.lock_range(args[0], std::strcmp(args[1], "write") == 0,
                         std::strtoull(args[2], nullptr, 10), std::strtoull(args[3], nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  lum::prepare_standard_streams();
  using lum::File;
  if (argc == 4 && std::strcmp(argv[1], "try") == 0) {
    File f;
    bool excl = std::strcmp(argv[3], "exclusive") == 0;
    return f.open(argv[2], lum::FileAccess::ReadWrite,
                  excl ? lum::FileShare::Exclusive : lum::FileShare::Shared);
  }
  if (argc == 5 && std::strcmp(argv[1], "hold") == 0) {
    File f;
    int rc = f.open(argv[2], lum::FileAccess::ReadWrite, lum::FileShare::Exclusive);
    if (rc != 0) return rc;
    std::ofstream(argv[3]) << "ready";
    wait_for(argv[4]);
    return 0;
  }
  if (argc == 6 && std::strcmp(argv[1], "record") == 0) {
    lum::ForeignHold hold;
    return take_record_lock(hold, argv + 2);
  }
  if (argc == 8 && std::strcmp(argv[1], "hold-record") == 0) {
    lum::ForeignHold hold;
    if (int rc = take_record_lock(hold, argv + 2); rc != 0) return rc;
    std::ofstream(argv[6]) << "ready";
    wait_for(argv[7]);
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "report") == 0) {
    std::fputs(std::filesystem::current_path().string().c_str(), stdout);
    const char* v = std::getenv(argv[3]);
    std::fputs(v != nullptr ? v : "<unset>", stderr);
    return std::atoi(argv[2]);
  }
  if (argc == 2 && std::strcmp(argv[1], "sleep") == 0) {
    std::this_thread::sleep_for(std::chrono::seconds(30));
    return 0;
  }
  return 100;
}
