#include "platform/util/reg_utils.h"

#include <vector>

#include "component/oxa/exception/exception.h"
#include "platform/util/scoped_handle.h"

namespace qvr {
namespace {

// Source position reported when the classes root of the thread's user cannot
// be found; catch sites and logs know this failure by it.
constexpr char kThreadRootSource[] = "platform/util/reg_utils";
constexpr int kThreadRootLine = 468;

constexpr std::size_t kMaxSubKeyNameChars = 256;

// The thread token for RegOpenUserClassesRoot. Without impersonation there is
// none, which is a programming error of the caller: it throws.
void OpenThreadTokenOrThrow(ScopedHandle& token) {
  constexpr DWORD kAccess = TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE;
  if (OpenThreadToken(GetCurrentThread(), kAccess, TRUE, token.Receive())) return;
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    if (OpenThreadToken(GetCurrentThread(), kAccess, FALSE, token.Receive())) return;
    error = GetLastError();
  }
  const oxa::ResultCode code = error == ERROR_NO_TOKEN ? oxa::rc::NotFound : oxa::ResultFromWin32Error(error);
  oxa::ThrowCheckResultFailed(code, kThreadRootSource, kThreadRootLine);
}

std::wstring ChildPath(const std::wstring& parent, const std::wstring& name) {
  return parent.empty() ? name : parent + L'\\' + name;
}

oxa::ResultCode Expand(const wchar_t* source, std::wstring& text) {
  const DWORD needed = ExpandEnvironmentStringsW(source, nullptr, 0);
  if (needed == 0) return oxa::ResultFromWin32Error(GetLastError());
  std::wstring expanded(needed, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(source, expanded.data(), needed);
  if (written == 0) return oxa::ResultFromWin32Error(GetLastError());
  // The environment may have changed between the two calls.
  if (written > needed) return oxa::rc::BufferTooSmall;
  expanded.resize(written - 1);
  text = std::move(expanded);
  return oxa::rc::Ok;
}

}  // namespace

void RegKey::Close() {
  if (key_ != nullptr) RegCloseKey(key_);
  if (userRoot_ != nullptr) RegCloseKey(userRoot_);
  key_ = nullptr;
  userRoot_ = nullptr;
}

oxa::ResultCode RegKey::OpenThreadUserRoot(HKEY root, REGSAM access) {
  if (root == HKEY_CURRENT_USER) return oxa::ResultFromWin32Error(RegOpenCurrentUser(access, &userRoot_));
  ScopedHandle token;
  OpenThreadTokenOrThrow(token);
  return oxa::ResultFromWin32Error(RegOpenUserClassesRoot(token.Get(), 0, access, &userRoot_));
}

oxa::ResultCode RegKey::Open(HKEY root, const std::wstring& path, REGSAM access, bool useThreadUserRoot) {
  Close();
  root_ = root;
  path_ = path;
  useThreadUserRoot_ = useThreadUserRoot;

  HKEY openRoot = root;
  if (useThreadUserRoot && (root == HKEY_CURRENT_USER || root == HKEY_CLASSES_ROOT)) {
    const oxa::ResultCode result = OpenThreadUserRoot(root, access);
    if (OXA_FAILED(result)) return result;
    openRoot = userRoot_;
  }
  return oxa::ResultFromWin32Error(RegOpenKeyExW(openRoot, path.c_str(), 0, access, &key_));
}

oxa::ResultCode RegKey::OpenForRead(HKEY root, const std::wstring& path, REGSAM extraAccess,
                                    bool useThreadUserRoot) {
  return Open(root, path, extraAccess | KEY_READ, useThreadUserRoot);
}

oxa::ResultCode RegKey::QueryValue(const wchar_t* name, std::wstring& text, bool expand) const {
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG error = RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size);
  if (error != ERROR_SUCCESS) return oxa::ResultFromWin32Error(error);
  if (size == 0) return oxa::rc::InvalidSize;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return oxa::rc::InvalidType;

  // Two spare characters keep the data terminated whatever its byte count.
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
  DWORD bytes = size;
  error = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  if (error != ERROR_SUCCESS) return oxa::ResultFromWin32Error(error);
  // The value may have been rewritten between the two reads.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return oxa::rc::InvalidType;

  if (expand) return Expand(buffer.data(), text);
  text.assign(buffer.data());
  return oxa::rc::Ok;
}

oxa::ResultCode RegKey::EnumSubKeys(const SubKeyVisitor& visitor) const {
  if (key_ == nullptr) return oxa::rc::InvalidArgument;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kMaxSubKeyNameChars] = {};
    DWORD length = kMaxSubKeyNameChars;
    const LONG error = RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return oxa::rc::Ok;
    if (error == ERROR_MORE_DATA) continue;
    if (error != ERROR_SUCCESS) return oxa::ResultFromWin32Error(error);

    const std::wstring subKeyName(name, length);
    bool descend = true;
    oxa::ResultCode result = visitor(subKeyName, descend, path_, root_);
    if (result != oxa::rc::Ok) return result;
    if (!descend) continue;

    RegKey child;
    result = child.Open(root_, ChildPath(path_, subKeyName), KEY_READ, useThreadUserRoot_);
    if (OXA_FAILED(result)) return result;
    result = child.EnumSubKeys(visitor);
    if (result != oxa::rc::Ok) return result;
  }
}

}  // namespace qvr
