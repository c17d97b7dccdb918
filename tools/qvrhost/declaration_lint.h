// qvrhost lint: the declarations that the module would skip or reject, and
// why. The rules look at the declaration keys as stored (types, sizes,
// names) and at the features as the module's own reader made them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Custom_Actions/qvrinst/feature_model.h"

namespace qvrhost {

// The registry's value types that the rules name.
enum RegistryType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

struct StoredValue {
  std::wstring name;  // empty: the key's default value
  std::uint32_t type = kRegNone;
  std::uint32_t bytes = 0;
  std::wstring text;  // the data of a REG_SZ or REG_EXPAND_SZ value
};

struct StoredKey {
  bool present = false;
  std::vector<StoredValue> values;
  std::vector<std::wstring> subKeys;  // names, in index order
};

// The declaration keys below the product key as stored, names of any length.
struct DeclarationSnapshot {
  StoredKey profiles;
  StoredKey registry;
  StoredKey selfregs;
  StoredKey selfunregs;
  StoredKey drivers;
  StoredKey features;  // a subkey per feature
  std::map<std::wstring, StoredKey> featureKeys;
  StoredKey protoHandlers;  // a subkey per scheme
  std::map<std::wstring, StoredKey> protoHandlerKeys;
  StoredKey environments;  // a subkey per product type (Installer\environment)
};

struct LintFinding {
  std::wstring declaration;  // its path below the product key
  std::wstring reason;       // what is wrong and what the module does about it
  bool operator==(const LintFinding&) const = default;
};

// Every finding, key by key in the order Initialize reads them, then the
// features' names of declarations that are not stored at all (a stored one
// that is skipped or rejected has a finding of its own). `productTypes`: the
// types a run would use (the stored one, the target), checked for a feature
// that declares them; empty ones are left out.
std::vector<LintFinding> LintDeclarations(const DeclarationSnapshot& snapshot, const qvr::FeatureMap& features,
                                          const std::vector<std::wstring>& productTypes);

}  // namespace qvrhost
