#include "tests/support/unix_links.h"

#include <windows.h>

namespace qvrtest {
namespace {

long LinuxSyscall3(long number, const void* first, const void* second, long third) {
#if defined(__x86_64__)
  long result;
  asm volatile("syscall" : "=a"(result) : "a"(number), "D"(first), "S"(second), "d"(third) : "rcx", "r11", "memory");
  return result;
#else
  (void)number, (void)first, (void)second, (void)third;
  return -38;  // ENOSYS
#endif
}

constexpr long kLinuxUnlink = 87;
constexpr long kLinuxSymlink = 88;
constexpr long kLinuxReadlink = 89;

}  // namespace

std::string UnixPath(const std::wstring& path) {
  using UnixFileName = char*(CDECL*)(const WCHAR*);
  const auto unix_file_name = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unix_file_name == nullptr) return {};
  char* name = unix_file_name(path.c_str());
  if (name == nullptr) return {};
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool CreateUnixSymlink(const std::wstring& target, const std::wstring& link) {
  const std::string unix_target = UnixPath(target), unix_link = UnixPath(link);
  return !unix_target.empty() && !unix_link.empty() &&
         LinuxSyscall3(kLinuxSymlink, unix_target.c_str(), unix_link.c_str(), 0) == 0;
}

bool RemoveUnixSymlink(const std::wstring& link) {
  const std::string unix_link = UnixPath(link);
  return !unix_link.empty() && LinuxSyscall3(kLinuxUnlink, unix_link.c_str(), nullptr, 0) == 0;
}

std::string ReadUnixSymlink(const std::wstring& link) {
  const std::string unix_link = UnixPath(link);
  if (unix_link.empty()) return {};
  char target[4096];
  const long length = LinuxSyscall3(kLinuxReadlink, unix_link.c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace qvrtest
