// The installer object's registry flags: declarations under the product's
// registry key, and every declared flag written on each activation or
// deactivation.
#include "activators/registry_values.h"

#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/key_value_list.h"
#include "Custom_Actions/qvrinst/log_sink.h"
#include "platform/product_info/common_reg_keys.h"
#include "platform/util/scoped_reg_key.h"

#include <cstdint>

namespace qvr {
namespace {

constexpr DWORD kDeclarationNameChars = 256;
constexpr REGSAM kFlagKeyAccess = KEY_READ | KEY_WRITE;

HKEY HiveOf(const std::wstring& root) {
  if (root == L"HKCR") return HKEY_CLASSES_ROOT;
  if (root == L"HKCU") return HKEY_CURRENT_USER;
  if (root == L"HKU") return HKEY_USERS;
  return HKEY_LOCAL_MACHINE;
}

// The predefined handles are sign-extended 32-bit numbers
// (HKEY_LOCAL_MACHINE is -2147483646).
int HiveNumber(HKEY hive) { return static_cast<int>(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(hive))); }

// Sets `installed` of every record that a feature qualifying for
// `productType` names, with one `requestedLine` per naming.
void MarkRequested(LogSink* sink, const wchar_t* requestedLine, const std::map<std::wstring, FeatureRecord>& features,
                   RegistryValueTable& table, const std::wstring& productType, bool installed) {
  for (const auto& [featureName, feature] : features) {
    if (!Qualifies(feature, productType)) continue;
    for (const auto& declarationName : feature.registry) {
      const auto record = table.find(declarationName);
      if (record == table.end()) continue;
      LogLine(sink, kLogInfo, requestedLine, declarationName.c_str(), featureName.c_str());
      record->second.installed = installed;
    }
  }
}

}  // namespace

bool Installer::ReadRegistry() {
  LogSink* sink = GetLogSink();
  ScopedRegKey declarations;
  LONG result = declarations.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kRegistryDeclarationsKey].c_str(), KEY_READ);
  if (result != ERROR_SUCCESS) {
    LogLine(sink, kLogError, L"ReadRegistry: can't open registry key: 0x%08x", result);
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[kDeclarationNameChars] = {};
    DWORD length = kDeclarationNameChars;
    result = RegEnumValueW(declarations.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"ReadRegistry: can't enum registry key: 0x%08x", result);
      return false;
    }
    if (length == 0) continue;  // the key's default value declares nothing
    const std::wstring declarationName(name, length);

    std::wstring text;
    result = declarations.QueryString(declarationName.c_str(), text);
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"ReadRegistry: can't query value %ls: 0x%08x", declarationName.c_str(), result);
      return false;
    }
    if (text.empty()) {
      LogLine(sink, kLogError, L"ReadRegistry: can't query value %ls is empty", declarationName.c_str());
      return false;
    }
    KeyValueList pairs;
    if (!pairs.Parse(text)) continue;
    registryValues_[declarationName] =
        RegistryValueRecord{pairs.GetValue(L"Root"), pairs.GetValue(L"Key"), pairs.GetValue(L"Name"), false};
    LogLine(sink, kLogInfo, L"ReadRegistry: registry %ls = %ls", declarationName.c_str(), text.c_str());
  }
}

bool Installer::ActivateRegistry(const std::wstring& productType) {
  for (auto& [name, record] : registryValues_) record.installed = false;
  MarkRequested(GetLogSink(), L"ActivateRegistry: registry value %ls requested by feature %ls", features_,
                registryValues_, productType, true);
  return WriteRegistry();
}

bool Installer::DeactivateRegistry(const std::wstring& productType) {
  MarkRequested(GetLogSink(), L"DeactivateRegistry: registry value %ls requested by feature %ls", features_,
                registryValues_, productType, false);
  return WriteRegistry();
}

bool Installer::WriteRegistry() {
  LogSink* sink = GetLogSink();
  for (const auto& [declarationName, record] : registryValues_) {
    LogLine(sink, kLogInfo, L"WriteRegistry: setting value %ls to %ls", record.name.c_str(),
            record.installed ? L"installed" : L"not installed");
    const HKEY hive = HiveOf(record.root);
    ScopedRegKey key;
    LONG result = key.Create(hive, record.key.c_str(), kFlagKeyAccess);
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"WriteRegistry: can't create key %ls: 0x%08x", record.key.c_str(), result);
      return false;
    }
    LogLine(sink, kLogInfo, L"WriteRegistry: opened key %ls: %d", record.key.c_str(), HiveNumber(hive));
    const DWORD flag = record.installed ? 1 : 0;
    result = RegSetValueExW(key.Get(), record.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flag),
                            sizeof(flag));
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"WriteRegistry: can't set value installed for key %ls: 0x%08x", record.key.c_str(),
              result);
      return false;
    }
    LogLine(sink, kLogInfo, L"WriteRegistry: set value %ls installed for key %ls: Result 0x%08x", record.name.c_str(),
            record.key.c_str(), result);
  }
  return true;
}

}  // namespace qvr
