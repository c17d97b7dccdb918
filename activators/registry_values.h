// Registry flags of the product's features: declarations of where each flag
// lives, and the flags written as REG_DWORD 1 (named by a qualifying feature)
// or 0. The reader and the activators are members of the installer object
// (installer.h); this file holds their record.
#pragma once

#include <map>
#include <string>

namespace qvr {

struct RegistryValueRecord {
  std::wstring root;  // "HKCR", "HKCU", "HKU"; anything else is HKEY_LOCAL_MACHINE
  std::wstring key;   // below the root; created with its parents
  std::wstring name;  // empty: the key's default value
  bool installed = false;
};

// Declaration name to its record.
using RegistryValueTable = std::map<std::wstring, RegistryValueRecord>;

}  // namespace qvr
