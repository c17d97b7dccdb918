// The registry key paths of the product, derived from its product registry
// key. Each is opened under HKEY_LOCAL_MACHINE by the reader of its
// declarations.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace qvr {

// Indexes into CommonRegKeys.
enum CommonRegKey : std::size_t {
  kProductKey,                // P
  kProductEnvironmentKey,     // P\environment: the product's run-time values, ProductType
  kProductDataKey,            // P\data
  kInstallerKey,              // I = P\Installer
  kFeaturesKey,               // I\features\ (a feature's name is appended directly)
  kProfilesKey,               // I\profiles\ (likewise)
  kProtoHandlersKey,          // I\ProtoHandlers
  kShortcutsKey,              // I\shortcuts
  kRegistryDeclarationsKey,   // I\registry
  kDriversKey,                // I\drivers
  kSelfregsKey,               // I\Selfregs
  kSelfunregsKey,             // I\Selfunregs
  kInstallerEnvironmentKey,   // I\environment: per-product-type values
  kCommonRegKeyCount,
};

using CommonRegKeys = std::array<std::wstring, kCommonRegKeyCount>;

// The 13 paths below `productRegistryKey`, taken as it is.
CommonRegKeys DeriveCommonRegKeys(std::wstring_view productRegistryKey);

}  // namespace qvr
