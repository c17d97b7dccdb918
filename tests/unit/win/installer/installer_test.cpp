// The factory and the installer object through the exports of the built
// module, as the product's setup host drives them.
#include "tests/unit/win/installer/qvrinst_module.h"

#include "tests/support/msi_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using installer_test::LogRecord;
using installer_test::QvrinstModule;
using installer_test::RecordingSink;
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

// The operations whose implementation is not part of this build yet; the
// list shrinks as they arrive. The cleaner operations must leave the host's
// lists alone whenever they fail.
TEST(VersionedInstaller, OperationsNotInThisBuildFailAndTouchNothing) {
  QvrinstModule module;
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(module.Factory()(3, &installer), 0);
  RecordingSink sink;
  // Without the product's identity Initialize fails, after keeping the sink,
  // and says why.
  EXPECT_FALSE(installer->Initialize(&sink, L"vmobpc", nullptr));
  ASSERT_FALSE(sink.lines.empty());
  EXPECT_EQ(sink.lines.back().level, 3);
  sink.lines.clear();

  auto expectUnavailable = [&](const wchar_t* operation, bool result) {
    EXPECT_FALSE(result) << testing::PrintToString(operation);
    EXPECT_THAT(sink.lines, ElementsAre(LogRecord{3, std::wstring(operation) + L": not available in this build"}));
    sink.lines.clear();
  };
  expectUnavailable(L"RemoveProductShortcuts", installer->RemoveProductShortcuts());

  auto* untouched = reinterpret_cast<qvr::StringList*>(&sink);
  qvr::StringList* detected = untouched;
  expectUnavailable(L"CheckForApplicationsToRemove", installer->CheckForApplicationsToRemove(0, &detected));
  EXPECT_EQ(detected, untouched);

  TrackedList names;
  qvr::StringList* applications = &names;
  expectUnavailable(L"RemoveApplications", installer->RemoveApplications(0, &applications));
  EXPECT_EQ(applications, &names);
  EXPECT_FALSE(names.released);

  EXPECT_TRUE(installer->AlwaysSucceeds());
  EXPECT_TRUE(sink.lines.empty());
  installer->Release();
}

}  // namespace

namespace {

// Dump files of the process's TEMP folder.
std::vector<std::wstring> DumpFiles() {
  wchar_t temp[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW found;
  const oxa::FindHandle search(FindFirstFileW((std::wstring(temp, length) + L"TRXINST.*.dmp").c_str(), &found));
  if (!search) return files;
  do files.push_back(std::wstring(temp, length) + found.cFileName);
  while (FindNextFileW(search.Get(), &found));
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
  EXPECT_THAT(sink.lines, ElementsAre(LogRecord{3, L"Initialize: unexpected exception: the host's sink failed"}));
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

// Without the product's key paths every path would be empty and name the
// root of HKLM: the operations on declarations refuse instead.
TEST(VersionedInstaller, OperationsOnDeclarationsNeedTheKeyPaths) {
  QvrinstModule module;
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(module.Factory()(3, &installer), 0);
  // A fresh object has none; it refuses without a sink to say so.
  EXPECT_FALSE(installer->ActivateProduct(2));

  // An identity library without its export: no key paths.
  const std::wstring library = qvrtest::BuildPath(L"bin\\product_info_noexport.dll");
  ASSERT_TRUE(SetEnvironmentVariableW(L"ProductInfoDLL", library.c_str()));
  RecordingSink sink;
  EXPECT_FALSE(installer->Initialize(&sink, L"vmobpc", nullptr));
  SetEnvironmentVariableW(L"ProductInfoDLL", nullptr);
  EXPECT_EQ(sink.Texts(3).size(), 1u);
  struct Case {
    const wchar_t* operation;
    bool (*run)(qvr::VersionedInstaller&);
  };
  const Case cases[] = {
      {L"ActivateProduct", [](qvr::VersionedInstaller& object) { return object.ActivateProduct(2 | 16); }},
      {L"SwitchProductType", [](qvr::VersionedInstaller& object) { return object.SwitchProductType(); }},
      {L"DeactivateCurrentType", [](qvr::VersionedInstaller& object) { return object.DeactivateCurrentType(); }},
  };
  for (const Case& c : cases) {
    sink.lines.clear();
    EXPECT_FALSE(c.run(*installer)) << testing::PrintToString(c.operation);
    EXPECT_THAT(sink.lines, ElementsAre(LogRecord{3, std::wstring(c.operation) +
                                                         L": the product's registry keys are unknown (Initialize "
                                                         L"failed)"}));
  }
  EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, L"ProductType", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  installer->Release();
}

}  // namespace
