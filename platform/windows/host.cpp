#include "platform/host.h"

#include <windows.h>

#include "platform/file.h"

namespace lum {

std::string host_name() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!::GetComputerNameA(name, &size)) return "";
  return std::string(name, size);
}

std::string os_description() {
  // GetVersionEx answers what the program's manifest allows; the kernel's own call
  // gives the real release.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  auto get = ntdll != nullptr ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                    ::GetProcAddress(ntdll, "RtlGetVersion")))
                              : nullptr;
  if (get == nullptr || get(&v) != 0) return "Windows";
  SYSTEM_INFO si = {};
  ::GetNativeSystemInfo(&si);
  const char* machine = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? "x86_64"
                        : si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? "arm64"
                                                                                    : "x86";
  return "Windows " + std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) +
         "." + std::to_string(v.dwBuildNumber) + " " + machine;
}

std::uint64_t available_memory_kb() {
  MEMORYSTATUSEX m = {};
  m.dwLength = sizeof m;
  if (!::GlobalMemoryStatusEx(&m)) return 0;
  return m.ullAvailPhys / 1024;
}

std::string current_directory() {
  char buf[MAX_PATH + 1];
  DWORD n = ::GetCurrentDirectoryA(sizeof buf, buf);
  return n > 0 && n <= MAX_PATH ? std::string(buf, n) : std::string();
}

std::string current_disk() {
  if (drive_root() != "\\") return drive_root();
  std::string cwd = current_directory();
  if (cwd.size() >= 2 && cwd[1] == ':') return cwd.substr(0, 2);
  return "\\";
}

std::optional<std::uint64_t> free_disk_bytes() {
  ULARGE_INTEGER free_to_caller;
  if (!::GetDiskFreeSpaceExA(nullptr, &free_to_caller, nullptr, nullptr)) return std::nullopt;
  return free_to_caller.QuadPart;
}

}  // namespace lum
