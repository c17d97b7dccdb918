// The registry flags' registry side: the declarations read, and every
// declared flag written.
#include "activators/registry_values.h"

#include <cstdint>

#include "Custom_Actions/qvrinst/key_value_list.h"
#include "activators/declaration_table.h"
#include "log/log_sink.h"

namespace qvr {
namespace {

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

}  // namespace

bool RegistryValues::Read(LogSink* sink, const std::wstring& keyPath) {
  static constexpr DeclarationValueRules kRules{
      L"ReadRegistry: can't enum registry key: 0x%08x",
      L"ReadRegistry: can't query value %ls: 0x%08x",
      L"ReadRegistry: can't query value %ls is empty",
      L"ReadRegistry: registry %ls = %ls",
      true,
      false,
      true,
  };
  ScopedRegKey declarations;
  if (!OpenDeclarations(sink, keyPath, L"ReadRegistry: can't open registry key: 0x%08x", declarations)) return false;
  return ReadDeclarationValues(sink, declarations, kRules, [&](const std::wstring& name, const std::wstring& text) {
    KeyValueList pairs;
    if (!pairs.Parse(text)) return Taken::kSkipped;
    values_[name] =
        RegistryValueRecord{pairs.GetValue(L"Root"), pairs.GetValue(L"Key"), pairs.GetValue(L"Name"), false};
    return Taken::kTaken;
  });
}

bool RegistryValues::Apply(LogSink* sink, const RegistryValuePlan& plan, const wchar_t* requestedLine) {
  for (const Request& request : plan.requests)
    LogLine(sink, kLogInfo, requestedLine, request.declaration.c_str(), request.feature.c_str());
  values_ = plan.values;
  return Write(sink);
}

bool RegistryValues::Write(LogSink* sink) const {
  // The flags of one key are neighbours in the table (their declarations
  // share a prefix): the key stays open for the next flag that names it.
  ScopedRegKey key;
  const RegistryValueRecord* opened = nullptr;
  for (const auto& [declarationName, record] : values_) {
    LogLine(sink, kLogInfo, L"WriteRegistry: setting value %ls to %ls", record.name.c_str(),
            record.installed ? L"installed" : L"not installed");
    const HKEY hive = HiveOf(record.root);
    if (!opened || HiveOf(opened->root) != hive || opened->key != record.key) {
      opened = nullptr;
      if (!CheckSuccess(sink, key.Create(hive, record.key.c_str(), kFlagKeyAccess),
                        L"WriteRegistry: can't create key %ls: 0x%08x", record.key.c_str()))
        return false;
      opened = &record;
    }
    LogLine(sink, kLogInfo, L"WriteRegistry: opened key %ls: %d", record.key.c_str(), HiveNumber(hive));
    const LONG result = key.WriteDword(record.name.c_str(), record.installed ? 1 : 0);
    if (!CheckSuccess(sink, result, L"WriteRegistry: can't set value installed for key %ls: 0x%08x",
                      record.key.c_str()))
      return false;
    LogLine(sink, kLogInfo, L"WriteRegistry: set value %ls installed for key %ls: Result 0x%08x", record.name.c_str(),
            record.key.c_str(), result);
  }
  return true;
}

}  // namespace qvr
