// The built qvrinst.dll loaded into the test process, as the installer engine and the product's setup host see it:
// the custom actions in a real installer session, the factory and the installer object's slots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "component/oxa/system/unique_handle.h"
#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_files.h"
#include "tests/support/test_product.h"

namespace {

using qvrtest::AnyMatch;
using qvrtest::EndRecord;
using qvrtest::FullMatch;
using qvrtest::kLinePrefix;
using qvrtest::MsiSession;
using qvrtest::Printable;
using qvrtest::RecordingSink;
using qvrtest::SinkLine;
using qvrtest::StartRecord;
using qvrtest::TestName;
using testing::ElementsAre;

// Loads $QVR_BUILD_DIR/bin/qvrinst.dll; its factory and its custom actions.
class QvrinstModule {
 public:
  QvrinstModule() : module_(LoadLibraryW(qvrtest::BuildPath(L"bin/qvrinst.dll").c_str())) {
    EXPECT_TRUE(module_) << "cannot load qvrinst.dll: " << GetLastError();
  }
  qvr::GetVersionedQVRInstallerFn Factory() const {
    return reinterpret_cast<qvr::GetVersionedQVRInstallerFn>(Export("GetVersionedQVRInstaller"));
  }
  using CustomAction = UINT(__stdcall*)(MSIHANDLE);
  CustomAction Action(const char* name) const { return reinterpret_cast<CustomAction>(Export(name)); }

 private:
  void* Export(const char* name) const {
    void* address = module_ ? reinterpret_cast<void*>(GetProcAddress(module_.Get(), name)) : nullptr;
    EXPECT_NE(address, nullptr) << "qvrinst.dll does not export " << name;
    return address;
  }
  oxa::ModuleHandle module_;
};

constexpr UINT kInstallFailure = 1603;

// Registry, Plugins and ProtocolHandlers by their bits, in rows that no two of them share both of; Files, Profiles and
// the records around the line: custom_action_data_test.sh. Without ProductInfoDLL the activation fails after the line.
TEST(CustomActions, ActivationModeFromCustomActionData) {
  QvrinstModule module;
  const struct {
    const wchar_t* data;
    const char* parameters;
  } cases[] = {
      {nullptr, "ProductType=, Files=, Registry=, Plugins=, ProtocolHandlers=, ProfilesActivation=, mode=0"},
      {L"ProductType=vmobpc|Registry=1|ProtocolHandlers=1",
       "ProductType=vmobpc, Files=, Registry=1, Plugins=, ProtocolHandlers=1, ProfilesActivation=, mode=10"},
      // Only the exact text "1" switches a bit on; keys keep trailing blanks.
      {L"Files=0|Registry=true|Plugins=1|ProtocolHandlers=1|Profiles=1 |ProductType =x",
       "ProductType=, Files=0, Registry=true, Plugins=1, ProtocolHandlers=1, ProfilesActivation=1 , mode=9"},
  };
  for (const auto& c : cases) {  // no CustomActionData when null
    MsiSession session;
    if (c.data) session.SetProperty(L"CustomActionData", c.data);
    EXPECT_EQ(module.Action("MsiProductActivate")(session.Handle()), kInstallFailure);
    const auto lines = session.Lines();
    ASSERT_EQ(lines.size(), 4u) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines[1], (kLinePrefix + std::string("MsiProductActivate: ") + c.parameters).c_str()))
        << Printable(lines);
  }
}

// The rollback deactivates only a stored type, the deactivation always (for the empty type every flag goes to 0); the
// stored type stays. Without the product's key paths (the library without its export) the rollback fails. Feature Pc
// counts for vmobpc and declares flag A, which an earlier activation left at 1.
TEST(CustomActions, RollbackAndDeactivationOfTheStoredType) {
  const struct {
    const char* action;
    const wchar_t* storedType;
    bool locked;
    bool noKeyPaths;
    UINT result;
    std::optional<DWORD> flag;
    const char* line;  // a line that must be written; "" for none of WriteRegistry's
  } cases[] = {
      {"MsiProductRbActivate", L"", false, false, 0, 1, ""},
      {"MsiProductRbActivate", L"vmobpc", false, false, 0, 0,
       "DeactivateRegistry: registry value FlagA requested by feature Pc"},
      {"MsiProductDeactivate", L"", false, false, 0, 0, "WriteRegistry: setting value A to not installed"},
      {"MsiProductDeactivate", L"vmobpc", true, false, kInstallFailure, std::nullopt,
       "WriteRegistry: can't create key .*"},
      {"MsiProductRbActivate", L"", false, true, kInstallFailure, 1,
       "MSI \\(X\\) \\(XX:XX\\) \\[[0-9:]{12}\\]: MsiProductRbActivate: Initialize failed, deactivating what was read"},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << ++number);
    qvrtest::TestProduct product(TestName() + L"." + std::to_wstring(number));
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
    if (*c.storedType) product.SetString(L"environment", L"ProductType", c.storedType);
    const std::wstring flags = product.KeyOf(L"Flags");
    product.SetString(L"Installer\\registry", L"FlagA", L"Key=" + flags + L"|Name=A");
    product.AddFeature(L"Pc", L"vmobpc");
    product.SetString(L"Installer\\features\\Pc", L"Registry", L"FlagA");
    product.SetDword(L"Flags", L"A", 1);
    std::optional<qvrtest::ScopedKeyLock> lock;
    if (c.locked) {
      ASSERT_TRUE(lock.emplace(HKEY_LOCAL_MACHINE, flags).Locked());
    }
    if (c.noKeyPaths) {
      const std::wstring library = qvrtest::BuildPath(L"bin\\product_info_noexport.dll");
      ASSERT_TRUE(SetEnvironmentVariableW(L"ProductInfoDLL", library.c_str()));
    }
    QvrinstModule module;
    MsiSession session;
    EXPECT_EQ(module.Action(c.action)(session.Handle()), c.result);
    const auto lines = session.Lines();
    ASSERT_GE(lines.size(), 2u) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines.front(), StartRecord(c.action).c_str())) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines.back(), EndRecord(c.action, c.result ? 3 : 1).c_str())) << Printable(lines);
    EXPECT_EQ(AnyMatch(lines, *c.line ? c.line : "WriteRegistry:.*"), *c.line != '\0') << Printable(lines);
    EXPECT_EQ(qvrtest::ReadDword(HKEY_LOCAL_MACHINE, flags, L"A"), c.flag);  // a locked key cannot be read either
    EXPECT_EQ(product.GetString(L"environment", L"ProductType"),
              *c.storedType ? std::optional<std::wstring>(c.storedType) : std::nullopt);
  }
}

// A list that notes whether it was released, to see that it was not.
class TrackedList final : public qvr::StringList {
 public:
  void Release() override { released = true; }
  std::uint32_t Count() override { return 1; }
  const wchar_t* Get(std::uint32_t index) override { return index == 0 ? L"SomeApp" : L""; }
  bool released = false;
};

TEST(VersionedInstallerFactory, VersionsAndArguments) {
  QvrinstModule module;
  const auto factory = module.Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory(1, nullptr), 160);
  for (std::uint32_t version : {0u, 4u}) {
    auto* installer = reinterpret_cast<qvr::VersionedInstaller*>(&module);  // anything but null
    EXPECT_EQ(factory(version, &installer), static_cast<std::int32_t>(0x80004002u)) << version;
    EXPECT_EQ(installer, nullptr) << version;
  }
  for (std::uint32_t version : {1u, 2u}) {
    qvr::VersionedInstaller* installer = nullptr;
    ASSERT_EQ(factory(version, &installer), 0) << version;
    ASSERT_NE(installer, nullptr) << version;
    EXPECT_TRUE(installer->AlwaysSucceeds());
    installer->Release();
  }
}

// Without the product's key paths every path would name the root of HKLM: the operations on declarations refuse; the
// cleaner's leave the host's lists alone.
TEST(VersionedInstaller, OperationsThatRefuse) {
  QvrinstModule module;
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(module.Factory()(3, &installer), 0);
  // A fresh object has no key paths; it refuses without a sink to say so.
  EXPECT_FALSE(installer->ActivateProduct(2));

  const std::wstring library = qvrtest::BuildPath(L"bin\\product_info_noexport.dll");
  ASSERT_TRUE(SetEnvironmentVariableW(L"ProductInfoDLL", library.c_str()));
  RecordingSink sink;
  EXPECT_FALSE(installer->Initialize(&sink, L"vmobpc", nullptr));
  SetEnvironmentVariableW(L"ProductInfoDLL", nullptr);
  sink.lines.clear();
  auto expectRefused = [&](bool result, const std::wstring& line) {
    EXPECT_FALSE(result) << testing::PrintToString(line);
    EXPECT_THAT(sink.lines, ElementsAre(SinkLine{3, line}));
    sink.lines.clear();
  };
  const std::wstring noKeys = L": the product's registry keys are unknown (Initialize failed)";
  expectRefused(installer->ActivateProduct(2 | 16), L"ActivateProduct" + noKeys);
  expectRefused(installer->SwitchProductType(), L"SwitchProductType" + noKeys);
  expectRefused(installer->DeactivateCurrentType(), L"DeactivateCurrentType" + noKeys);
  EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, L"ProductType", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);

  auto* untouched = reinterpret_cast<qvr::StringList*>(&sink);
  qvr::StringList* detected = untouched;
  expectRefused(installer->CheckForApplicationsToRemove(0, &detected), L"CheckForApplicationsToRemove" + noKeys);
  EXPECT_EQ(detected, untouched);
  TrackedList names;
  qvr::StringList* applications = &names;
  expectRefused(installer->RemoveApplications(0, &applications), L"RemoveApplications" + noKeys);
  EXPECT_EQ(applications, &names);
  EXPECT_FALSE(names.released);

  expectRefused(installer->RemoveProductShortcuts(), L"RemoveProductShortcuts" + noKeys);
  expectRefused(installer->ChangeProductIcons(L"dark"), L"ChangeProductIcons" + noKeys);

  EXPECT_TRUE(installer->AlwaysSucceeds());
  EXPECT_TRUE(sink.lines.empty());
  installer->Release();
}

// Dump files of the process's TEMP folder.
std::vector<std::wstring> DumpFiles() {
  wchar_t temp[MAX_PATH];
  const std::wstring folder(temp, GetTempPathW(MAX_PATH, temp) - 1);  // without its last backslash
  std::vector<std::wstring> files;
  for (const std::wstring& name : qvrtest::ListNames(folder))
    if (name.starts_with(L"TRXINST.") && name.ends_with(L".dmp")) files.push_back(folder + L"\\" + name);
  return files;
}

TEST(VersionedInstaller, ExceptionAtASlotIsReportedAndAnsweredWithFalse) {
  QvrinstModule module;
  for (const auto& dump : DumpFiles()) DeleteFileW(dump.c_str());
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(module.Factory()(3, &installer), 0);
  RecordingSink sink;
  // Initialize's first line throws inside the module; the report is the next.
  sink.failingWrites = 1;
  EXPECT_FALSE(installer->Initialize(&sink, L"vmobpc", nullptr));
  EXPECT_THAT(sink.lines, ElementsAre(SinkLine{3, L"Initialize: unexpected exception: the host's sink failed"}));
  const auto dumps = DumpFiles();
  EXPECT_EQ(dumps.size(), 1u);
  for (const auto& dump : dumps) DeleteFileW(dump.c_str());

  // A report that throws as well is swallowed: the host still gets false.
  sink.lines.clear();
  sink.failingWrites = 2;
  EXPECT_FALSE(installer->Initialize(&sink, L"vmobpc", nullptr));
  EXPECT_TRUE(sink.lines.empty());
  for (const auto& dump : DumpFiles()) DeleteFileW(dump.c_str());
  installer->Release();
}

}  // namespace
