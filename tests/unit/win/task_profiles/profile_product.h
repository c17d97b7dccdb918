// A TestProduct whose folder holds a copy of vtcore.dll and a profiles.xml
// (tasks\Scan with def\enabled = 1, tasks\Update, tasks\Old installed,
// tasks\Never), named by its environment key.
#pragma once

#include "tests/support/msi_session.h"
#include "tests/support/test_product.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace task_profiles_test {

using qvrtest::Printable;
using qvrtest::TestName;

class ProfileProduct {
 public:
  explicit ProfileProduct(const std::wstring& name);

  qvrtest::TestProduct& Product() { return product_; }
  const std::wstring& Folder() const { return product_.Folder(); }
  std::wstring XmlPath() const { return Folder() + L"\\profiles.xml"; }

  void DeclareProfile(const std::wstring& name, const std::wstring& path) {
    product_.SetString(L"Installer\\profiles", name.c_str(), path);
  }
  // A feature that names `profiles` and is switched off for `disabledTypes`.
  void AddFeature(const std::wstring& name, const std::wstring& productTypes, const std::wstring& profiles,
                  const std::wstring& disabledTypes = L"") {
    product_.AddFeature(name, productTypes);
    product_.SetString(L"Installer\\features\\" + name, L"Profiles", profiles);
    product_.SetString(L"Installer\\features\\" + name, L"DisabledProductTypes", disabledTypes);
  }
  // A dword of a node as the store's file holds it, or nothing.
  std::optional<std::uint32_t> StoredDword(const std::string& node, const std::string& value) const;

 private:
  qvrtest::TestProduct product_;
};

// Sets an environment variable (null: unsets it) for the life of the object;
// it is unset at the end.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) { SetEnvironmentVariableW(name, value); }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
};

}  // namespace task_profiles_test
