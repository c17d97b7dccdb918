// The factory and the installer object through the exports of the built
// module, as the product's setup host drives them.
#include "tests/unit/win/installer/qvrinst_module.h"

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

TEST(VersionedInstaller, FreshObject) {
  QvrinstModule module;
  qvr::VersionedInstaller* installer = nullptr;
  ASSERT_EQ(module.Factory()(3, &installer), 0);
  EXPECT_TRUE(installer->AlwaysSucceeds());
  // Kept, never released: any address will do for an object that is not used.
  installer->SetServiceLocator(reinterpret_cast<qvr::ServiceLocator*>(&module));
  // No sink yet: a failing operation has nowhere to write its line.
  qvr::StringList* detected = nullptr;
  EXPECT_FALSE(installer->CheckForApplicationsToRemove(0, &detected));
  EXPECT_EQ(detected, nullptr);
  EXPECT_TRUE(installer->AlwaysSucceeds());
  installer->Release();
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
