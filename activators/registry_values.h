// Registry flags of the product's features: declarations of where each flag
// lives, the pure plan of which flags an activation or deactivation sets,
// and every declared flag written as REG_DWORD 1 (set) or 0.
#pragma once

#include <map>
#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"

namespace qvr {

class LogSink;

struct RegistryValueRecord {
  std::wstring root;  // "HKCR", "HKCU", "HKU"; anything else is HKEY_LOCAL_MACHINE
  std::wstring key;   // below the root; created with its parents
  std::wstring name;  // empty: the key's default value
  bool installed = false;
  bool operator==(const RegistryValueRecord&) const = default;
};

// Declaration name to its record.
using RegistryValueTable = std::map<std::wstring, RegistryValueRecord>;

struct RegistryValuePlan {
  Requests requests;
  RegistryValueTable values;
};

class RegistryValues {
 public:
  // ReadRegistry: fills the table from the values of `keyPath`, each a
  // "Root=...|Key=...|Name=..." text; a text that does not parse declares
  // nothing. False at the first value that cannot be read or is empty.
  bool Read(LogSink* sink, const std::wstring& keyPath);

  // ActivateRegistry: every flag cleared, then those named by the features
  // qualifying for `type` set.
  static RegistryValuePlan PlanActivation(const RegistryValueTable& values, const FeatureMap& features,
                                          const std::wstring& type);
  // DeactivateRegistry: the flags named by the qualifying features cleared.
  static RegistryValuePlan PlanDeactivation(const RegistryValueTable& values, const FeatureMap& features,
                                            const std::wstring& type);

  // Writes `requestedLine` (declaration, feature) for each naming, takes the
  // plan's flags and writes every one.
  bool Apply(LogSink* sink, const RegistryValuePlan& plan, const wchar_t* requestedLine);
  // WriteRegistry: every flag as REG_DWORD 1 or 0, stopping at the first
  // failure.
  bool Write(LogSink* sink) const;

  const RegistryValueTable& Table() const { return values_; }

 private:
  RegistryValueTable values_;
};

}  // namespace qvr
