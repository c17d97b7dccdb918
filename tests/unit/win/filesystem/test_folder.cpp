#include "tests/unit/win/filesystem/test_folder.h"

#include <cwchar>
#include <utility>

#include "tests/support/unix_links.h"

namespace fs_test {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// Removes what the tests left, without following links.
void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring_view name = entry.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path + L"\\" + entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> ReadPendingRenames() {
  std::vector<std::wstring> strings;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return strings;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_MULTI_SZ) {
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS) {
      data.resize(size / sizeof(wchar_t));
      // Pairs of source and target (empty: delete), then one more empty string.
      for (std::size_t begin = 0; begin < data.size();) {
        std::size_t end = data.find(L'\0', begin);
        if (end == std::wstring::npos) end = data.size();
        strings.push_back(data.substr(begin, end - begin));
        begin = end + 1;
      }
      while (strings.size() % 2 != 0 && !strings.empty() && strings.back().empty()) strings.pop_back();
    }
  }
  RegCloseKey(key);
  return strings;
}

void WritePendingRenames(const std::vector<std::wstring>& strings) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  if (strings.empty()) {
    RegDeleteValueW(key, kPendingRenames);
  } else {
    std::wstring data;
    for (const std::wstring& s : strings) data += s + L'\0';
    data += L'\0';
    RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}

// "\??\C:\dir\x" as "C:\dir\x".
std::wstring_view WithoutNtPrefix(std::wstring_view path) {
  constexpr std::wstring_view kNtPrefix = L"\\??\\";
  if (path.substr(0, kNtPrefix.size()) == kNtPrefix) path.remove_prefix(kNtPrefix.size());
  return path;
}

bool SourceIn(const std::wstring& source, const std::wstring& folder) {
  const std::wstring_view path = WithoutNtPrefix(source);
  return !path.empty() && path.size() >= folder.size() && _wcsnicmp(path.data(), folder.c_str(), folder.size()) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == L'\\');
}

}  // namespace

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

CurrentDirectoryScope::CurrentDirectoryScope(const std::wstring& directory) {
  previous_.resize(GetCurrentDirectoryW(0, nullptr));
  previous_.resize(GetCurrentDirectoryW(static_cast<DWORD>(previous_.size()), previous_.data()));
  SetCurrentDirectoryW(directory.c_str());
}

CurrentDirectoryScope::~CurrentDirectoryScope() { SetCurrentDirectoryW(previous_.c_str()); }

TestFolder::TestFolder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp, length) + L"qvr-fs-" + std::to_wstring(GetCurrentProcessId());
  RemoveTree(LongForm());  // left by an earlier process of the same id
  CreateDirectoryW(path_.c_str(), nullptr);
}

TestFolder::~TestFolder() {
  for (const std::wstring& link : links_) qvrtest::RemoveUnixSymlink(link);
  RemoveTree(LongForm());
}

// Tests make paths over MAX_PATH and names the plain form changes.
std::wstring TestFolder::LongForm() const { return L"\\\\?\\" + path_; }

bool TestFolder::Link(const std::wstring& target, const std::wstring& link) {
  if (!qvrtest::CreateUnixSymlink(target, link)) return false;
  links_.push_back(link);
  return true;
}

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
