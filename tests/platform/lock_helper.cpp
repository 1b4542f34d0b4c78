// A second process for the sharing and process tests. "try FILE MODE" opens FILE (MODE
// "exclusive" or "shared") and exits with the operating-system code of the open; "hold
// FILE READY RELEASE" holds FILE exclusively, creates READY, and exits once RELEASE
// exists; "report CODE NAME" writes its working directory to standard output and the
// variable NAME (or "<unset>") to standard error, and exits with CODE; "sleep" waits
// thirty seconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/file.h"
#include "platform/terminal.h"

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
    for (int i = 0; i < 3000 && !std::filesystem::exists(argv[4]); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
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
