// The factory and the installer object through the exports of the built
// module, as the product's setup host drives them.
#include "tests/unit/win/installer/qvrinst_module.h"

#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/test_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using installer_test::QvrinstModule;
using qvrtest::RecordingSink;
using qvrtest::SinkLine;
using testing::ElementsAre;

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

  for (std::uint32_t version : {0u, 4u, 0xFFFFFFFFu}) {
    auto* installer = reinterpret_cast<qvr::VersionedInstaller*>(&module);  // anything but null
    EXPECT_EQ(factory(version, &installer), static_cast<std::int32_t>(0x80004002u)) << version;
    EXPECT_EQ(installer, nullptr) << version;
  }

  for (std::uint32_t version : {1u, 2u, 3u}) {
    qvr::VersionedInstaller* installer = nullptr;
    ASSERT_EQ(factory(version, &installer), 0) << version;
    ASSERT_NE(installer, nullptr) << version;
    EXPECT_TRUE(installer->AlwaysSucceeds());
    installer->Release();
  }
}

// Without the product's key paths (an identity library without its export)
// every path would be empty and name the root of HKLM: the operations on
// declarations refuse instead (DeactivateCurrentType: custom_actions_test).
// The operations whose implementation is not part of this build yet fail
// whatever was read (the list shrinks as they arrive); the cleaner's leave
// the host's lists alone.
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
  EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, L"ProductType", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);

  const std::wstring unavailable = L": not available in this build";
  expectRefused(installer->RemoveProductShortcuts(), L"RemoveProductShortcuts" + unavailable);
  auto* untouched = reinterpret_cast<qvr::StringList*>(&sink);
  qvr::StringList* detected = untouched;
  expectRefused(installer->CheckForApplicationsToRemove(0, &detected), L"CheckForApplicationsToRemove" + unavailable);
  EXPECT_EQ(detected, untouched);
  TrackedList names;
  qvr::StringList* applications = &names;
  expectRefused(installer->RemoveApplications(0, &applications), L"RemoveApplications" + unavailable);
  EXPECT_EQ(applications, &names);
  EXPECT_FALSE(names.released);

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
