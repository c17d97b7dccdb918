#include "tests/support/pending_renames.h"

#include <algorithm>
#include <cwchar>
#include <string_view>

#include "platform/util/scoped_reg_key.h"
#include "tests/support/registry_guards.h"

namespace fs_test {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// The value's data, NUL-terminated strings; nothing when it is absent.
std::optional<std::wstring> ReadPendingRenames() {
  const auto value = qvrtest::ReadRegValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
  if (!value || value->type != REG_MULTI_SZ) return std::nullopt;
  return value->bytes;
}

}  // namespace

std::vector<std::wstring> PendingDeletionsIn(const std::wstring& folder) {
  // Pairs of source ("\??\C:\...") and target (empty: delete); the list ends in one more empty string.
  const std::wstring data = ReadPendingRenames().value_or(L"");
  std::vector<std::wstring_view> strings;
  for (std::size_t begin = 0; begin < data.size();) {
    const std::size_t end = std::min(data.find(L'\0', begin), data.size());
    strings.push_back(std::wstring_view(data).substr(begin, end - begin));
    begin = end + 1;
  }
  std::vector<std::wstring> deletions;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    std::wstring_view path = strings[i];
    if (path.substr(0, 4) == L"\\??\\") path.remove_prefix(4);
    if (strings[i + 1].empty() && path.size() >= folder.size() &&
        _wcsnicmp(path.data(), folder.c_str(), folder.size()) == 0 &&
        (path.size() == folder.size() || path[folder.size()] == L'\\'))
      deletions.emplace_back(path);
  }
  return deletions;
}

PendingRenamesGuard::PendingRenamesGuard()
    : mutex_(CreateMutexW(nullptr, FALSE, L"QvrTest.PendingFileRenameOperations")) {
  if (mutex_) WaitForSingleObject(mutex_.Get(), INFINITE);
  saved_ = ReadPendingRenames();
}

PendingRenamesGuard::~PendingRenamesGuard() {
  qvr::ScopedRegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kSessionManager, KEY_SET_VALUE) == ERROR_SUCCESS) {
    if (!saved_)
      key.DeleteValue(kPendingRenames);
    else
      RegSetValueExW(key.Get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved_->data()),
                     static_cast<DWORD>(saved_->size() * sizeof(wchar_t)));
  }
  if (mutex_) ReleaseMutex(mutex_.Get());
}

}  // namespace fs_test
