// The installer object's side of the feature and product-type model: the
// stored product type and the feature declarations in the registry.
#include "platform/product_info/common_reg_keys.h"
#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/log_sink.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

constexpr REGSAM kRead = KEY_READ;

// A list value, or the one-empty-entry list when it cannot be read.
StringVector ReadList(const ScopedRegKey& key, const wchar_t* name) {
  std::wstring text;
  if (key.QueryString(name, text) != ERROR_SUCCESS) text.clear();
  return SplitDeclarationList(text);
}

// Absent, of another type or not exactly four bytes: installed.
bool ReadInstalled(const ScopedRegKey& key) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LONG result = RegQueryValueExW(key.Get(), L"installed", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return true;
  return value != 0;
}

}  // namespace

bool Installer::ReadProductType(std::wstring& productType) {
  productType.clear();
  ScopedRegKey key;
  LONG result = key.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kProductEnvironmentKey].c_str(), kRead);
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogError, L"ReadProductType: can't open environment key: 0x%08x", result);
    return false;
  }
  std::wstring text;
  result = key.QueryString(L"ProductType", text);
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogInfo, L"ReadProductType: can't query ProductType value: 0x%08x", result);
    return false;
  }
  if (text.empty()) {
    LogLine(GetLogSink(), kLogInfo, L"ReadProductType: current product type is not set");
  } else {
    productType = text;
    LogLine(GetLogSink(), kLogInfo, L"ReadProductType: current product type is %ls", productType.c_str());
  }
  return true;
}

bool Installer::WriteProductType(const std::wstring& productType) {
  ScopedRegKey key;
  LONG result = key.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kProductEnvironmentKey].c_str(), KEY_ALL_ACCESS);
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogError, L"WriteProductType: can't open environment key: 0x%08x", result);
    return false;
  }
  if (!productType.empty()) {
    const auto bytes = static_cast<DWORD>((productType.size() + 1) * sizeof(wchar_t));
    result = RegSetValueExW(key.Get(), L"ProductType", 0, REG_SZ, reinterpret_cast<const BYTE*>(productType.c_str()),
                            bytes);
    if (result != ERROR_SUCCESS) {
      LogLine(GetLogSink(), kLogError, L"WriteProductType: can't set ProductType value: 0x%08x", result);
      return false;
    }
    LogLine(GetLogSink(), kLogError, L"WriteProductType: set ProductType value: %ls", productType.c_str());
    return true;
  }
  result = RegDeleteValueW(key.Get(), L"ProductType");
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    LogLine(GetLogSink(), kLogDetail, L"WriteProductType: can't remove ProductType value: 0x%08x", result);
    return false;
  }
  LogLine(GetLogSink(), kLogDetail, L"WriteProductType: remove ProductType value");
  return true;
}

bool Installer::ReadFeatures() {
  ScopedRegKey features;
  LONG result = features.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kFeaturesKey].c_str(), kRead);
  if (result != ERROR_SUCCESS) {
    LogLine(GetLogSink(), kLogError, L"ReadFeatures: can't open features key: 0x%08x", result);
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD length = 256;
    result = RegEnumKeyExW(features.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) {
      LogLine(GetLogSink(), kLogError, L"ReadFeatures: can't enum features key: 0x%08x", result);
      return false;
    }
    const std::wstring featureName(name, length);
    ScopedRegKey featureKey;
    result = featureKey.Open(HKEY_LOCAL_MACHINE, (commonRegKeys_[kFeaturesKey] + featureName).c_str(), kRead);
    if (result != ERROR_SUCCESS) {
      LogLine(GetLogSink(), kLogError, L"ReadFeatures: can't open feature key %ls: 0x%08x", featureName.c_str(), result);
      return false;
    }
    FeatureRecord record;
    record.installed = ReadInstalled(featureKey);
    record.productTypes = ReadList(featureKey, L"ProductTypes");
    record.disabledProductTypes = ReadList(featureKey, L"DisabledProductTypes");
    record.profiles = ReadList(featureKey, L"Profiles");
    record.selfregs = ReadList(featureKey, L"Selfregs");
    record.selfUnregs = ReadList(featureKey, L"SelfUnregs");
    record.drivers = ReadList(featureKey, L"Drivers");
    record.registry = ReadList(featureKey, L"Registry");
    LogLine(GetLogSink(), kLogInfo,
            L"ReadFeatues: feature %ls = installed: %d, producttypes: %d, profiles: %d, selfregs: %d, selfunregs: %d, "
            L"drivers: %d",
            featureName.c_str(), record.installed ? 1 : 0, static_cast<int>(record.productTypes.size()),
            static_cast<int>(record.profiles.size()), static_cast<int>(record.selfregs.size()),
            static_cast<int>(record.selfUnregs.size()), static_cast<int>(record.drivers.size()));
    features_[featureName] = std::move(record);
  }
}

bool Installer::IsSmallOfficeVersion() {
  ScopedRegKey data;
  if (data.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kProductDataKey].c_str(), kRead) != ERROR_SUCCESS) return true;
  unsigned long long version = 0;
  DWORD type = 0;
  DWORD size = sizeof(version);
  if (RegQueryValueExW(data.Get(), L"inmobver", nullptr, &type, reinterpret_cast<BYTE*>(&version), &size) !=
          ERROR_SUCCESS ||
      type != REG_QWORD)
    return false;
  return IsSmallOfficeVersionAtMost62(version);
}

}  // namespace qvr
