#include "tools/qvrhost/declaration_lint.h"

#include <algorithm>
#include <array>

#include "Custom_Actions/qvrinst/key_value_list.h"

namespace qvrhost {
namespace {

// The longest declaration name the readers take; schemes are shorter.
constexpr std::size_t kNameChars = 255;
constexpr std::size_t kSchemeChars = 24;

constexpr wchar_t kInitializeFails[] = L"Initialize fails";
constexpr wchar_t kSkipped[] = L"skipped";

std::wstring TypeName(std::uint32_t type) {
  switch (type) {
    case kRegNone:
      return L"REG_NONE";
    case kRegSz:
      return L"REG_SZ";
    case kRegExpandSz:
      return L"REG_EXPAND_SZ";
    case kRegBinary:
      return L"REG_BINARY";
    case kRegDword:
      return L"REG_DWORD";
    case kRegMultiSz:
      return L"REG_MULTI_SZ";
    case kRegQword:
      return L"REG_QWORD";
    default:
      return L"type " + std::to_wstring(type);
  }
}

// How one reader treats the values of its key.
struct ValueRules {
  const wchar_t* key;  // below the product key
  bool numbers;        // REG_DWORD values (otherwise REG_SZ)
  bool emptyIsBad;
  const wchar_t* badValue;  // what a value of the wrong type (or empty) costs
  const wchar_t* longName;  // what a name over 255 characters costs
  bool keyValueLists;       // each text must parse as Root=...|Key=...|Name=...
};

constexpr ValueRules kProfileRules{L"Installer\\profiles", false, true, kInitializeFails, kInitializeFails, false};
constexpr ValueRules kRegistryRules{L"Installer\\registry", false, true, kInitializeFails, kInitializeFails, true};
constexpr ValueRules kSelfregRules{L"Installer\\Selfregs", false, true, kSkipped, kSkipped, false};
constexpr ValueRules kSelfunregRules{L"Installer\\Selfunregs", false, true, kSkipped, kSkipped, false};
constexpr ValueRules kDriverRules{
    L"Installer\\drivers", true, false, kSkipped, L"the drivers after it are not read", false};

class Findings {
 public:
  void Add(std::wstring declaration, std::wstring reason) {
    list_.push_back({std::move(declaration), std::move(reason)});
  }
  std::vector<LintFinding> Take() { return std::move(list_); }

 private:
  std::vector<LintFinding> list_;
};

std::wstring Below(const std::wstring& key, const std::wstring& name) { return key + L"\\" + name; }

std::wstring LongName(std::size_t chars, std::size_t limit, const wchar_t* cost) {
  return L"its name has " + std::to_wstring(chars) + L" characters, more than " + std::to_wstring(limit) + L": " + cost;
}

void LintValues(const StoredKey& key, const ValueRules& rules, Findings& findings) {
  for (const StoredValue& value : key.values) {
    if (value.name.empty()) continue;  // the readers pass over the default value
    const std::wstring where = Below(rules.key, value.name);
    if (value.name.size() > kNameChars) {
      findings.Add(where.substr(0, std::wstring(rules.key).size() + 1 + 32) + L"...",
                   LongName(value.name.size(), kNameChars, rules.longName));
      continue;
    }
    const bool wanted = rules.numbers ? value.type == kRegDword && value.bytes == 4 : value.type == kRegSz;
    if (!wanted) {
      findings.Add(where, L"is " + TypeName(value.type) +
                              (rules.numbers ? L" of " + std::to_wstring(value.bytes) + L" bytes, not a REG_DWORD: "
                                             : L", not REG_SZ: ") +
                              rules.badValue);
    } else if (!rules.numbers && rules.emptyIsBad && value.text.empty()) {
      findings.Add(where, std::wstring(L"is empty: ") + rules.badValue);
    } else if (rules.keyValueLists && !qvr::KeyValueList().Parse(value.text)) {
      findings.Add(where, L"'" + value.text + L"' does not parse as Root=...|Key=...|Name=...: skipped");
    }
  }
}

constexpr std::array<const wchar_t*, 7> kFeatureLists{
    L"ProductTypes", L"DisabledProductTypes", L"Profiles", L"Selfregs", L"SelfUnregs", L"Drivers", L"Registry"};

void LintFeatureValues(const std::wstring& where, const StoredKey& key, Findings& findings) {
  for (const StoredValue& value : key.values) {
    if (value.name == L"installed") {
      if (value.type != kRegDword || value.bytes != 4)
        findings.Add(Below(where, value.name),
                     L"is " + TypeName(value.type) + L", not a REG_DWORD: taken as installed");
    } else if (std::find(kFeatureLists.begin(), kFeatureLists.end(), value.name) != kFeatureLists.end() &&
               value.type != kRegSz) {
      findings.Add(Below(where, value.name), L"is " + TypeName(value.type) + L", not REG_SZ: read as an empty list");
    }
  }
}

void LintFeatures(const DeclarationSnapshot& snapshot, Findings& findings) {
  const std::wstring key = L"Installer\\features";
  for (const std::wstring& name : snapshot.features.subKeys) {
    if (name.size() > kNameChars) {
      findings.Add(Below(key, name.substr(0, 32)) + L"...", LongName(name.size(), kNameChars, kInitializeFails));
      continue;
    }
    const auto stored = snapshot.featureKeys.find(name);
    if (stored != snapshot.featureKeys.end()) LintFeatureValues(Below(key, name), stored->second, findings);
  }
}

void LintProtoHandlers(const DeclarationSnapshot& snapshot, Findings& findings) {
  const std::wstring key = L"Installer\\ProtoHandlers";
  for (const std::wstring& scheme : snapshot.protoHandlers.subKeys) {
    if (scheme.size() > kSchemeChars) {
      findings.Add(Below(key, scheme), LongName(scheme.size(), kSchemeChars, kInitializeFails));
      continue;
    }
    const auto stored = snapshot.protoHandlerKeys.find(scheme);
    if (stored == snapshot.protoHandlerKeys.end()) continue;
    auto find = [&](const wchar_t* name) -> const StoredValue* {
      for (const StoredValue& value : stored->second.values)
        if (value.name == name) return &value;
      return nullptr;
    };
    auto isText = [](const StoredValue* value) {
      return value && (value->type == kRegSz || value->type == kRegExpandSz);
    };
    const StoredValue* command = find(L"Command");
    if (!isText(command) || command->text.empty())
      findings.Add(
          Below(key, scheme),
          std::wstring(command ? L"its Command is empty or not a string: " : L"has no Command: ") + kInitializeFails);
    if (!isText(find(L"Descr")))
      findings.Add(Below(key, scheme), L"has no Descr string: an error line, and an empty description is registered");
  }
}

bool IsStored(const StoredKey& key, const std::wstring& name) {
  return std::any_of(key.values.begin(), key.values.end(),
                     [&](const StoredValue& value) { return value.name == name; });
}

void LintReferences(const qvr::FeatureMap& features, qvr::StringVector qvr::FeatureRecord::*list, const wchar_t* value,
                    const wchar_t* kind, const StoredKey& declared, Findings& findings) {
  for (const auto& [featureName, feature] : features)
    for (const std::wstring& name : feature.*list)
      if (!name.empty() && !IsStored(declared, name))
        findings.Add(L"Installer\\features\\" + featureName + L"\\" + value,
                     L"names " + std::wstring(kind) + L" '" + name + L"', which is not declared: left out");
}

bool Declares(const qvr::FeatureMap& features, const std::wstring& type) {
  for (const auto& [name, feature] : features)
    if (std::find(feature.productTypes.begin(), feature.productTypes.end(), type) != feature.productTypes.end())
      return true;
  return false;
}

void LintProductTypes(const DeclarationSnapshot& snapshot, const qvr::FeatureMap& features,
                      const std::vector<std::wstring>& productTypes, Findings& findings) {
  for (const std::wstring& type : productTypes)
    if (!type.empty() && !Declares(features, type))
      findings.Add(L"product type '" + type + L"'", L"no feature declares it: nothing feature-driven is activated");
  for (const std::wstring& type : snapshot.environments.subKeys) {
    // The small-office types share the declarations of "vmob".
    const bool declared = type == L"vmob"
                              ? std::any_of(features.begin(), features.end(),
                                            [](const auto& feature) {
                                              const qvr::StringVector& types = feature.second.productTypes;
                                              return std::any_of(types.begin(), types.end(), qvr::IsSmallOfficeType);
                                            })
                              : Declares(features, type);
    if (!declared)
      findings.Add(L"Installer\\environment\\" + type, L"environment of a product type that no feature declares");
  }
}

}  // namespace

std::vector<LintFinding> LintDeclarations(const DeclarationSnapshot& snapshot, const qvr::FeatureMap& features,
                                          const std::vector<std::wstring>& productTypes) {
  Findings findings;
  const std::pair<const StoredKey*, const wchar_t*> required[] = {
      {&snapshot.profiles, kProfileRules.key},
      {&snapshot.features, L"Installer\\features"},
      {&snapshot.protoHandlers, L"Installer\\ProtoHandlers"},
      {&snapshot.registry, kRegistryRules.key}};
  for (const auto& [key, path] : required)
    if (!key->present) findings.Add(path, std::wstring(L"is missing: ") + kInitializeFails);
  LintValues(snapshot.profiles, kProfileRules, findings);
  LintFeatures(snapshot, findings);
  LintValues(snapshot.selfregs, kSelfregRules, findings);
  LintValues(snapshot.selfunregs, kSelfunregRules, findings);
  LintValues(snapshot.drivers, kDriverRules, findings);
  LintProtoHandlers(snapshot, findings);
  LintValues(snapshot.registry, kRegistryRules, findings);
  using qvr::FeatureRecord;
  LintReferences(features, &FeatureRecord::profiles, L"Profiles", L"profile", snapshot.profiles, findings);
  LintReferences(features, &FeatureRecord::registry, L"Registry", L"registry flag", snapshot.registry, findings);
  LintReferences(features, &FeatureRecord::selfregs, L"Selfregs", L"self-registration", snapshot.selfregs, findings);
  LintReferences(features, &FeatureRecord::selfUnregs, L"SelfUnregs", L"self-unregistration", snapshot.selfunregs,
                 findings);
  LintReferences(features, &FeatureRecord::drivers, L"Drivers", L"driver", snapshot.drivers, findings);
  LintProductTypes(snapshot, features, productTypes, findings);
  return findings.Take();
}

}  // namespace qvrhost
