#include "Custom_Actions/qvrinst/product_registry.h"

#include "activators/declaration_table.h"
#include "log/log_sink.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

constexpr wchar_t kProductTypeValue[] = L"ProductType";

// A list value, or the one-empty-entry list when it cannot be read.
StringVector ReadList(const ScopedRegKey& key, const wchar_t* name) {
  std::wstring text;
  if (key.ReadString(name, StringPolicy::kSzOnly, text) != ERROR_SUCCESS) text.clear();
  return SplitDeclarationList(text);
}

// Absent, of another type or not exactly four bytes: installed.
bool ReadInstalled(const ScopedRegKey& key) {
  DWORD value = 0;
  return key.ReadDword(L"installed", value) != ERROR_SUCCESS || value != 0;
}

}  // namespace

bool ReadProductType(LogSink* sink, const CommonRegKeys& keys, std::wstring& productType) {
  productType.clear();
  ScopedRegKey key;
  if (!CheckSuccess(sink, key.Open(HKEY_LOCAL_MACHINE, keys[kProductEnvironmentKey].c_str(), KEY_READ),
                    L"ReadProductType: can't open environment key: 0x%08x"))
    return false;
  std::wstring text;
  const LONG result = key.ReadString(kProductTypeValue, StringPolicy::kSzOnly, text);
  if (result != ERROR_SUCCESS) {
    LogLine(sink, kLogInfo, L"ReadProductType: can't query ProductType value: 0x%08x", result);
    return false;
  }
  if (text.empty()) {
    LogLine(sink, kLogInfo, L"ReadProductType: current product type is not set");
  } else {
    productType = text;
    LogLine(sink, kLogInfo, L"ReadProductType: current product type is %ls", productType.c_str());
  }
  return true;
}

bool WriteProductType(LogSink* sink, const CommonRegKeys& keys, const std::wstring& productType) {
  ScopedRegKey key;
  if (!CheckSuccess(sink, key.Open(HKEY_LOCAL_MACHINE, keys[kProductEnvironmentKey].c_str(), KEY_ALL_ACCESS),
                    L"WriteProductType: can't open environment key: 0x%08x"))
    return false;
  if (!productType.empty()) {
    if (!CheckSuccess(sink, key.WriteString(kProductTypeValue, productType),
                      L"WriteProductType: can't set ProductType value: 0x%08x"))
      return false;
    LogLine(sink, kLogError, L"WriteProductType: set ProductType value: %ls", productType.c_str());
    return true;
  }
  const LONG result = key.DeleteValue(kProductTypeValue);
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    LogLine(sink, kLogDetail, L"WriteProductType: can't remove ProductType value: 0x%08x", result);
    return false;
  }
  LogLine(sink, kLogDetail, L"WriteProductType: remove ProductType value");
  return true;
}

bool ReadFeatures(LogSink* sink, const CommonRegKeys& keys, FeatureMap& features) {
  ScopedRegKey declarations;
  if (!OpenDeclarations(sink, keys[kFeaturesKey], L"ReadFeatures: can't open features key: 0x%08x", declarations))
    return false;
  return ReadDeclarationSubKeys(
      sink, declarations, kDeclarationNameChars, L"ReadFeatures: can't enum features key: 0x%08x",
      [&](const std::wstring& featureName) {
        ScopedRegKey featureKey;
        // Below the open features key: no walk from the root for each feature.
        if (!CheckSuccess(sink, declarations.OpenChild(featureName.c_str(), KEY_READ, featureKey),
                          L"ReadFeatures: can't open feature key %ls: 0x%08x", featureName.c_str()))
          return Taken::kFailed;
        FeatureRecord record;
        record.installed = ReadInstalled(featureKey);
        record.productTypes = ReadList(featureKey, L"ProductTypes");
        record.disabledProductTypes = ReadList(featureKey, L"DisabledProductTypes");
        record.profiles = ReadList(featureKey, L"Profiles");
        record.selfregs = ReadList(featureKey, L"Selfregs");
        record.selfUnregs = ReadList(featureKey, L"SelfUnregs");
        record.drivers = ReadList(featureKey, L"Drivers");
        record.registry = ReadList(featureKey, L"Registry");
        LogLine(sink, kLogInfo,
                L"ReadFeatues: feature %ls = installed: %d, producttypes: %d, profiles: %d, selfregs: %d, "
                L"selfunregs: %d, drivers: %d",
                featureName.c_str(), record.installed ? 1 : 0, static_cast<int>(record.productTypes.size()),
                static_cast<int>(record.profiles.size()), static_cast<int>(record.selfregs.size()),
                static_cast<int>(record.selfUnregs.size()), static_cast<int>(record.drivers.size()));
        features[featureName] = std::move(record);
        return Taken::kTaken;
      });
}

bool IsSmallOfficeVersion(const CommonRegKeys& keys) {
  ScopedRegKey data;
  if (data.Open(HKEY_LOCAL_MACHINE, keys[kProductDataKey].c_str(), KEY_READ) != ERROR_SUCCESS) return true;
  std::uint64_t version = 0;
  return data.ReadQword(L"inmobver", version) == ERROR_SUCCESS && IsSmallOfficeVersionAtMost62(version);
}

}  // namespace qvr
