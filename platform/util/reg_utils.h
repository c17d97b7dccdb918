// Registry key that remembers its root and path, can map the current-user and
// classes roots to the hive of the thread's user, reads string values and
// walks subkeys. Operations return oxa::ResultCode.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "component/oxa/result_code.h"

namespace qvr {

class RegKey {
 public:
  // Called for each subkey with its name, a descend flag preset to true (clear
  // it to skip the subkey's children), the parent's path and the root. A
  // non-zero result ends the walk and is returned from EnumSubKeys.
  using SubKeyVisitor = std::function<oxa::ResultCode(const std::wstring& name, bool& descend,
                                                      const std::wstring& parentPath, HKEY root)>;

  RegKey() = default;
  ~RegKey() { Close(); }

  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Opens `path` under `root` (an empty path opens the root itself). With
  // `useThreadUserRoot`, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT stand for the
  // hives of the thread's user; for HKEY_CLASSES_ROOT that needs a thread
  // token, and its absence throws oxa::CheckResultFailedException.
  oxa::ResultCode Open(HKEY root, const std::wstring& path, REGSAM access, bool useThreadUserRoot = false);
  // Open with KEY_READ plus `extraAccess`.
  oxa::ResultCode OpenForRead(HKEY root, const std::wstring& path, REGSAM extraAccess = 0,
                              bool useThreadUserRoot = false);
  void Close();

  // Reads a REG_SZ or REG_EXPAND_SZ value (empty name: the default value) up
  // to its first NUL; `expand` expands environment references.
  oxa::ResultCode QueryValue(const wchar_t* name, std::wstring& text, bool expand = false) const;

  // Walks the subkeys depth first. Names longer than 255 characters are
  // skipped.
  oxa::ResultCode EnumSubKeys(const SubKeyVisitor& visitor) const;

  HKEY Get() const { return key_; }
  bool IsOpen() const { return key_ != nullptr; }
  const std::wstring& Path() const { return path_; }
  HKEY Root() const { return root_; }

 private:
  oxa::ResultCode OpenThreadUserRoot(HKEY root, REGSAM access);

  HKEY userRoot_ = nullptr;
  HKEY key_ = nullptr;
  std::wstring path_;
  HKEY root_ = nullptr;
  bool useThreadUserRoot_ = false;
};

}  // namespace qvr
