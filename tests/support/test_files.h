// Files and folders for tests: whole-file reads and writes, and a folder of
// the test's own in the prefix's temporary folder.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace qvrtest {

// The file's bytes, or "<cannot open>".
std::string ReadAll(const std::wstring& path);
// Creates or replaces the file with `content`; nothing when it cannot be opened.
void WriteAll(const std::wstring& path, std::string_view content);
bool Exists(const std::wstring& path);
// The entries of `folder` other than "." and "..".
std::vector<WIN32_FIND_DATAW> ListEntries(const std::wstring& folder);
std::vector<std::wstring> ListNames(const std::wstring& folder);
// Removes a file or a folder with what it holds, without following links.
void RemoveTree(const std::wstring& path);

// A new folder "<TEMP>\<name>-<process id>-<number>", removed when the test
// program ends, not before: a removed file's index could be given to a later
// copy, which the process-wide product info cache would take for it.
std::wstring FolderRemovedAtExit(const std::wstring& name);

// "<TEMP>\qvr-<tag>-<process id>", new and empty; removed with what it holds
// (without following links) when the object goes.
class TestFolder {
 public:
  explicit TestFolder(std::wstring_view tag);
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::wstring& Path() const { return path_; }
  std::wstring operator/(std::wstring_view relative) const { return path_ + L"\\" + std::wstring(relative); }
  // A Unix link, removed from the Linux side before the folder is: Win32
  // deletion would act on its target.
  bool Link(const std::wstring& target, const std::wstring& link);

 private:
  std::wstring path_;
  std::vector<std::wstring> links_;
};

// Makes `directory` the current directory for as long as it lives.
class CurrentDirectoryScope {
 public:
  explicit CurrentDirectoryScope(const std::wstring& directory);
  ~CurrentDirectoryScope();
  CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
  CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

 private:
  std::wstring previous_;
};

}  // namespace qvrtest
