#include "platform/product_info/common_reg_keys.h"

namespace qvr {

CommonRegKeys DeriveCommonRegKeys(std::wstring_view productRegistryKey) {
  CommonRegKeys keys;
  const std::wstring product(productRegistryKey);
  keys[kProductKey] = product;
  keys[kProductEnvironmentKey] = product + L"\\environment";
  keys[kProductDataKey] = product + L"\\data";

  const std::wstring installer = product + L"\\Installer";
  keys[kInstallerKey] = installer;
  keys[kFeaturesKey] = installer + L"\\features\\";
  keys[kProfilesKey] = installer + L"\\profiles\\";
  keys[kProtoHandlersKey] = installer + L"\\ProtoHandlers";
  keys[kShortcutsKey] = installer + L"\\shortcuts";
  keys[kRegistryDeclarationsKey] = installer + L"\\registry";
  keys[kDriversKey] = installer + L"\\drivers";
  keys[kSelfregsKey] = installer + L"\\Selfregs";
  keys[kSelfunregsKey] = installer + L"\\Selfunregs";
  keys[kInstallerEnvironmentKey] = installer + L"\\environment";
  return keys;
}

}  // namespace qvr
