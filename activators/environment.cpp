// The environment values' registry side.
#include "activators/environment.h"

#include "activators/declaration_table.h"
#include "log/log_sink.h"

namespace qvr {

bool EnvironmentValues::Apply(LogSink* sink, const std::wstring& productEnvironmentKey,
                              const std::wstring& installerEnvironmentKey, const std::wstring& declarations,
                              const std::wstring& type) {
  static constexpr DeclarationValueRules kRules{
      L"ActivateEnvironment: can't enum environment key: 0x%08x",
      L"ActivateEnvironment: can't query value %ls: 0x%08x",
      nullptr,
      L"ActivateEnvironment: Set value %ls = %ls",
      true,
      false,
      false,
  };
  ScopedRegKey product;
  if (!CheckSuccess(sink, product.Open(HKEY_LOCAL_MACHINE, productEnvironmentKey.c_str(), KEY_READ | KEY_WRITE),
                    L"ActivateEnvironment: can't open product environment key: 0x%08x"))
    return false;
  ScopedRegKey installer;
  if (!CheckSuccess(sink, installer.Open(HKEY_LOCAL_MACHINE, installerEnvironmentKey.c_str(), KEY_READ),
                    L"ActivateEnvironment: can't open installer environment key: 0x%08x"))
    return false;
  ScopedRegKey declared;
  const LONG opened = installer.OpenChild(declarations.c_str(), KEY_READ, declared);
  if (opened != ERROR_SUCCESS) {
    LogLine(sink, kLogError,
            L"ActivateEnvironment: can't open installer environment key for current type: 0x%08x, type = %ls", opened,
            type.c_str());
    return false;
  }
  return ReadDeclarationValues(sink, declared, kRules, [&](const std::wstring& name, const std::wstring& text) {
    if (!CheckSuccess(sink, product.WriteString(name.c_str(), text), L"ActivateEnvironment: can't set value %ls: 0x%08x",
                      name.c_str()))
      return Taken::kFailed;
    return Taken::kTaken;
  });
}

}  // namespace qvr
