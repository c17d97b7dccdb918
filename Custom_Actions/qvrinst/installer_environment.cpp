// Environment activation: the values declared per product type copied into
// the product environment key.
#include "platform/product_info/common_reg_keys.h"
#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/log_sink.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {

bool Installer::ActivateEnvironment(const std::wstring& type) {
  LogSink* sink = GetLogSink();
  ScopedRegKey product;
  LONG result = product.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kProductEnvironmentKey].c_str(), 0x2001F);
  if (result != ERROR_SUCCESS) {
    LogLine(sink, kLogError, L"ActivateEnvironment: can't open product environment key: 0x%08x", result);
    return false;
  }
  ScopedRegKey installer;
  result = installer.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kInstallerEnvironmentKey].c_str(), KEY_READ);
  if (result != ERROR_SUCCESS) {
    LogLine(sink, kLogError, L"ActivateEnvironment: can't open installer environment key: 0x%08x", result);
    return false;
  }
  const std::wstring subkey = IsSmallOfficeType(type) ? std::wstring(L"vmob") : type;
  ScopedRegKey declared;
  result = declared.Open(installer.Get(), subkey.c_str(), KEY_READ);
  if (result != ERROR_SUCCESS) {
    LogLine(sink, kLogError, L"ActivateEnvironment: can't open installer environment key for current type: 0x%08x, type = %ls",
            result, type.c_str());
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD length = 256;
    result = RegEnumValueW(declared.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"ActivateEnvironment: can't enum environment key: 0x%08x", result);
      return false;
    }
    std::wstring data;
    result = declared.QueryString(name, data);
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"ActivateEnvironment: can't query value %ls: 0x%08x", name, result);
      return false;
    }
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    result = RegSetValueExW(product.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"ActivateEnvironment: can't set value %ls: 0x%08x", name, result);
      return false;
    }
    LogLine(sink, kLogInfo, L"ActivateEnvironment: Set value %ls = %ls", name, data.c_str());
  }
}

}  // namespace qvr
