// A product with task profiles for one test: a TestProduct whose folder
// holds a copy of vtcore.dll and a profiles.xml, whose environment key names
// them (ProductRoot, ProfilesXmlPath = "%ProductRoot%\profiles.xml"), with
// helpers for the profile and feature declarations and for reading the
// store back from its file.
#pragma once

#include "companions/vtcore/settings_tree.h"
#include "tests/support/msi_session.h"
#include "tests/support/test_product.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace task_profiles_test {

// tasks\Scan (def\enabled = 1), tasks\Update, tasks\Old (installed = 1) and
// tasks\Never.
extern const char kTaskProfilesXml[];

using qvrtest::Printable;
using qvrtest::TestName;

class ProfileProduct {
 public:
  explicit ProfileProduct(const std::wstring& name, bool rootEndsInBackslash = false,
                          const std::string& profilesXml = kTaskProfilesXml);

  qvrtest::TestProduct& Product() { return product_; }
  const std::wstring& Folder() const { return product_.Folder(); }
  std::wstring XmlPath() const { return Folder() + L"\\profiles.xml"; }
  std::wstring StorePath() const { return XmlPath() + L".store"; }

  void WriteProductFile(const std::wstring& name, const std::string& bytes);
  // A profile declaration (Installer\profiles\<name> = path).
  void DeclareProfile(const std::wstring& name, const std::wstring& path, DWORD type = REG_SZ);
  // A feature that names `profiles` and is switched off for `disabledTypes`.
  void AddFeature(const std::wstring& name, const std::wstring& productTypes, const std::wstring& profiles,
                  const std::wstring& disabledTypes = L"", bool installed = true);

  // The store's state as its file holds it (empty when there is none).
  vtcore::SettingsNode StoredTree() const;
  // A dword of a node of the stored state, or nothing.
  std::optional<std::uint32_t> StoredDword(const std::string& node, const std::string& value) const;

 private:
  qvrtest::TestProduct product_;
};

// Sets an environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};


}  // namespace task_profiles_test
