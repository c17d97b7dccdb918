#include "tests/unit/win/filesystem/pending_renames.h"

#include <cwchar>
#include <string_view>
#include <utility>

namespace fs_test {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// Pairs of source and target (empty: delete).
std::vector<std::wstring> ReadPendingRenames() {
  std::vector<std::wstring> strings;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return strings;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS) {
      data.resize(size / sizeof(wchar_t));
      for (std::size_t begin = 0; begin < data.size();) {
        std::size_t end = data.find(L'\0', begin);
        if (end == std::wstring::npos) end = data.size();
        strings.push_back(data.substr(begin, end - begin));
        begin = end + 1;
      }
      // The list ends in one more empty string.
      while (strings.size() % 2 != 0 && strings.back().empty()) strings.pop_back();
    }
  }
  RegCloseKey(key);
  return strings;
}

void WritePendingRenames(const std::vector<std::wstring>& strings) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  std::wstring data;
  for (const std::wstring& s : strings) data += s + L'\0';
  data += L'\0';
  if (strings.empty()) {
    RegDeleteValueW(key, kPendingRenames);
  } else {
    RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}

// "\??\C:\dir\x" as "C:\dir\x".
std::wstring_view WithoutNtPrefix(std::wstring_view path) {
  if (path.substr(0, 4) == L"\\??\\") path.remove_prefix(4);
  return path;
}

bool SourceIn(const std::wstring& source, const std::wstring& folder) {
  const std::wstring_view path = WithoutNtPrefix(source);
  return path.size() >= folder.size() && _wcsnicmp(path.data(), folder.c_str(), folder.size()) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == L'\\');
}

}  // namespace

std::vector<std::wstring> PendingDeletionsIn(const std::wstring& folder) {
  const std::vector<std::wstring> strings = ReadPendingRenames();
  std::vector<std::wstring> deletions;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2)
    if (strings[i + 1].empty() && SourceIn(strings[i], folder)) deletions.emplace_back(WithoutNtPrefix(strings[i]));
  return deletions;
}

PendingRenamesGuard::PendingRenamesGuard(std::wstring folder)
    : folder_(std::move(folder)), mutex_(CreateMutexW(nullptr, FALSE, L"QvrTest.PendingFileRenameOperations")) {
  if (mutex_ != nullptr) WaitForSingleObject(mutex_, INFINITE);
}

PendingRenamesGuard::~PendingRenamesGuard() {
  const std::vector<std::wstring> strings = ReadPendingRenames();
  std::vector<std::wstring> kept;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (strings[i].empty() || SourceIn(strings[i], folder_)) continue;
    kept.push_back(strings[i]);
    kept.push_back(strings[i + 1]);
  }
  if (kept.size() != strings.size()) WritePendingRenames(kept);
  if (mutex_ != nullptr) {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
}

}  // namespace fs_test
