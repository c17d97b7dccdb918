#include "tests/support/test_files.h"

#include "component/oxa/system/unique_handle.h"
#include "tests/support/unix_links.h"

#include <mutex>

namespace qvrtest {

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return;
  for (const std::wstring& name : ListNames(path)) RemoveTree(path + L"\\" + name);
  RemoveDirectoryW(path.c_str());
}

std::string ReadAll(const std::wstring& path) {
  const oxa::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  if (!file) return "<cannot open>";
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read != 0) content.append(buffer, read);
  return content;
}

void WriteAll(const std::wstring& path, std::string_view content) {
  const oxa::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<WIN32_FIND_DATAW> ListEntries(const std::wstring& folder) {
  std::vector<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW entry;
  const oxa::FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.Get(), &entry)) {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") entries.push_back(entry);
  }
  return entries;
}

std::wstring FolderRemovedAtExit(const std::wstring& name) {
  // Left as the current directory it could not be removed.
  static struct Folders {
    ~Folders() {
      SetCurrentDirectoryW(L"C:\\");
      for (const std::wstring& folder : list) RemoveTree(L"\\\\?\\" + folder);
    }
    std::mutex lock;
    std::vector<std::wstring> list;
  } folders;
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  const std::lock_guard<std::mutex> hold(folders.lock);
  const std::wstring path = std::wstring(temp, length) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(folders.list.size());
  RemoveTree(L"\\\\?\\" + path);  // left by an earlier process of the same id
  CreateDirectoryW(path.c_str(), nullptr);
  folders.list.push_back(path);
  return path;
}

std::vector<std::wstring> ListNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  for (const WIN32_FIND_DATAW& entry : ListEntries(folder)) names.emplace_back(entry.cFileName);
  return names;
}

TestFolder::TestFolder(std::wstring_view tag) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp, length) + L"qvr-" + std::wstring(tag) + L"-" + std::to_wstring(GetCurrentProcessId());
  RemoveTree(L"\\\\?\\" + path_);  // left by an earlier process of the same id
  CreateDirectoryW(path_.c_str(), nullptr);
}

// The long form: tests make paths over MAX_PATH and names the plain form changes.
TestFolder::~TestFolder() {
  for (const std::wstring& link : links_) RemoveUnixSymlink(link);
  RemoveTree(L"\\\\?\\" + path_);
}

bool TestFolder::Link(const std::wstring& target, const std::wstring& link) {
  if (!CreateUnixSymlink(target, link)) return false;
  links_.push_back(link);
  return true;
}

CurrentDirectoryScope::CurrentDirectoryScope(const std::wstring& directory) {
  previous_.resize(GetCurrentDirectoryW(0, nullptr));
  previous_.resize(GetCurrentDirectoryW(static_cast<DWORD>(previous_.size()), previous_.data()));
  SetCurrentDirectoryW(directory.c_str());
}

CurrentDirectoryScope::~CurrentDirectoryScope() { SetCurrentDirectoryW(previous_.c_str()); }

}  // namespace qvrtest
