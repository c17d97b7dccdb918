// The task profile context in a real installer session: vtcore.dll loaded
// from the product folder, the store built from profiles.xml, the lines in
// the log, the ways it ends without a store, and its tear-down.
#include "Custom_Actions/COMMON/vantor_tm_profiles.h"

#include "tests/support/msi_session.h"
#include "tests/unit/win/task_profiles/profile_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qvr::ProcessFrameworkRoot;
using qvr::VantorTmProfiles;
using qvrtest::FullMatch;
using qvrtest::MsiSession;
using task_profiles_test::Printable;
using task_profiles_test::ProfileProduct;
using task_profiles_test::ScopedVariable;
using task_profiles_test::TestName;
using testing::ElementsAre;

// The context's lines, without their time-stamp prefix.
std::vector<std::wstring> ContextLines(const MsiSession& session) {
  std::vector<std::wstring> lines;
  for (const auto& line : session.Lines()) {
    EXPECT_TRUE(FullMatch(line, "MSI \\(X\\) \\(XX:XX\\) \\[[0-9:]{12}\\]: \\[VantorTmProfiles\\]\t.*"))
        << Printable({line});
    lines.push_back(line.substr(std::min<std::size_t>(line.size(), 32)));
  }
  return lines;
}

// A context that ends without a store and without the framework: the
// session holds `pattern`, the one line.
void ExpectNoStore(const wchar_t* ofWhat, const char* pattern,
                   qvr::WindowsVersionQuery version = &qvr::QueryWindowsVersionNumber) {
  SCOPED_TRACE(testing::PrintToString(ofWhat));
  MsiSession session;
  {
    VantorTmProfiles profiles(session.Handle(), version);
    EXPECT_EQ(profiles.Store(), nullptr);
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  }
  const auto lines = ContextLines(session);
  ASSERT_EQ(lines.size(), 1u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines[0], (std::string("\\[VantorTmProfiles\\]\t") + pattern).c_str())) << Printable(lines);
}

TEST(VantorTmProfiles, WithoutProductInfoDllThereIsNoStore) {
  {
    ScopedVariable unset(L"ProductInfoDLL", nullptr);
    ExpectNoStore(L"unset", "GetEnvironmentVariableW failed, err = 203");
  }
  // Set but empty is no library either; the error is whatever the system
  // left, since an empty value is no failure to it.
  ScopedVariable empty(L"ProductInfoDLL", L"");
  ExpectNoStore(L"empty", "GetEnvironmentVariableW failed, err = [0-9]+");
}

TEST(VantorTmProfiles, BuildsTheStoreFromProfilesXmlAndTearsDown) {
  ProfileProduct product(TestName());
  const std::wstring frameworkPath = product.Folder() + L"\\vtcore.dll";
  MsiSession session;
  {
    VantorTmProfiles profiles(session.Handle());
    ASSERT_NE(profiles.Store(), nullptr) << Printable(session.Lines());
    EXPECT_EQ(profiles.RuntimeModule(), nullptr) << "the harness prefix reports Windows 10";
    EXPECT_NE(GetModuleHandleW(frameworkPath.c_str()), nullptr) << "the product's copy is the one loaded";
    EXPECT_NE(ProcessFrameworkRoot(), nullptr);
  }
  // Store released, framework unloaded, root forgotten.
  EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  EXPECT_EQ(GetModuleHandleW(frameworkPath.c_str()), nullptr);
  EXPECT_THAT(ContextLines(session),
              ElementsAre(L"[VantorTmProfiles]\tprocessing profiles.xml : " + product.XmlPath(),
                          L"[VantorTmProfiles]\tCreate registry node from profiles.xml : " + product.XmlPath()));
  // The new store was written out with the declared tree.
  EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 1u);
  EXPECT_EQ(product.StoredDword("tasks\\Old", "installed"), 1u);
}

TEST(VantorTmProfiles, FrameworkThatGivesNoRoot) {
  {
    ProfileProduct product(TestName() + L"Missing");
    DeleteFileW((product.Folder() + L"\\vtcore.dll").c_str());
    ExpectNoStore(L"vtcore.dll missing", "Vantor init failed, err = 800001C1");
  }
  {
    // A library that loads but is no framework.
    ProfileProduct product(TestName() + L"NoExport");
    ASSERT_TRUE(CopyFileW(qvrtest::BuildPath(L"bin/product_info.dll").c_str(),
                          (product.Folder() + L"\\vtcore.dll").c_str(), FALSE));
    ExpectNoStore(L"vtcore.dll without VantorLoad", "Vantor init failed, err = 800001C4");
  }
  ProfileProduct product(TestName() + L"Failing");
  ScopedVariable fault(L"VTCORE_FAULT", L"load");
  ExpectNoStore(L"VantorLoad failing", "Vantor init failed, err = 8000004B");
}

// Each step of building the store that fails: the framework stays loaded
// while the context lives, and no store is written.
TEST(VantorTmProfiles, StoreThatCannotBeBuilt) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"create", L"8000004B"},               // the store object is refused
      {L"create-empty", L"800000C7"},         // success without an object
      {L"property=0x2040004A", L"8000004B"},  // the last property is refused
      {L"complete", L"8000004B"},
  };
  int index = 0;
  for (const auto& [fault, code] : cases) {
    ProfileProduct product(TestName() + std::to_wstring(index++));
    ScopedVariable faultVariable(L"VTCORE_FAULT", fault);
    MsiSession session;
    {
      VantorTmProfiles profiles(session.Handle());
      EXPECT_EQ(profiles.Store(), nullptr) << code;
      EXPECT_NE(ProcessFrameworkRoot(), nullptr) << code;
    }
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
    EXPECT_THAT(ContextLines(session),
                ElementsAre(L"[VantorTmProfiles]\tprocessing profiles.xml : " + product.XmlPath(),
                            std::wstring(L"[VantorTmProfiles]\tCreateRegistry failed, err = ") + code))
        << code;
    EXPECT_EQ(GetFileAttributesW(product.StorePath().c_str()), INVALID_FILE_ATTRIBUTES) << code;
  }
}

TEST(VantorTmProfiles, ProductInfoThatCannotBeLoadedIsLogged) {
  ProfileProduct product(TestName());
  ScopedVariable missing(L"ProductInfoDLL", (product.Folder() + L"\\missing.dll").c_str());
  ExpectNoStore(L"missing product_info.dll", "oxa::Exception occurred: 0x8001[0-9a-f]{4} \\(.+\\)");
}

bool WindowsVersion61(std::uint32_t& version) {
  version = 0x0601;
  return true;
}
bool WindowsVersion100(std::uint32_t& version) {
  version = 0x0A00;
  return true;
}
bool WindowsVersionUnknown(std::uint32_t&) { return false; }

TEST(VantorTmProfiles, RuntimeLibraryOnlyBelowWindows10) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring systemRuntime = std::wstring(system) + L"\\ucrtbase.dll";
  // The product folder's ucrtbase.dll is loaded first on Windows 7, not on
  // Windows 10 even when the product ships one.
  for (const auto& [version, loaded] : {std::pair{&WindowsVersion61, true}, std::pair{&WindowsVersion100, false}}) {
    ProfileProduct product(TestName() + (loaded ? L"Win7" : L"Win10"));
    ASSERT_TRUE(CopyFileW(systemRuntime.c_str(), (product.Folder() + L"\\ucrtbase.dll").c_str(), FALSE));
    MsiSession session;
    VantorTmProfiles profiles(session.Handle(), version);
    EXPECT_EQ(profiles.RuntimeModule() != nullptr, loaded);
    EXPECT_NE(profiles.Store(), nullptr) << Printable(session.Lines());
  }
  // An unknown version counts as old; without the library the context ends
  // with the load failure, before the framework is loaded.
  ProfileProduct product(TestName() + L"Unknown");
  ExpectNoStore(L"unknown version", "oxa::Exception occurred: 0x80010112 \\(.+\\)", &WindowsVersionUnknown);
  // The real query: major * 256 + minor of the running system.
  std::uint32_t version = 0;
  ASSERT_TRUE(qvr::QueryWindowsVersionNumber(version));
  EXPECT_EQ(version, 0x0A00u) << "the harness sets its prefix to Windows 10";
}

TEST(FrameworkLoader, LoadsFromADirectoryUnlessItsPathIsTooLong) {
  const std::wstring bin = qvrtest::BuildPath(L"bin");
  {
    qvr::FrameworkLoader loader;
    loader.Load(bin + L"\\");
    EXPECT_EQ(loader.Result(), 0);
    ASSERT_NE(loader.Root(), nullptr);
    EXPECT_EQ(ProcessFrameworkRoot(), loader.Root());

    // The framework is as strict as the product's: the root creates the
    // store object and nothing else, and a store has no tree to open before
    // its creation is completed.
    qvr::FrameworkObject* root = loader.Root();
    const auto create = qvr::ObjectEntry<qvr::CreateObjectFn>(root, qvr::kCreateObjectEntry);
    qvr::FrameworkObject* object = reinterpret_cast<qvr::FrameworkObject*>(1);
    EXPECT_EQ(create(root, &object, 12, 43003, 0), static_cast<qvr::FrameworkResult>(0x80000001u));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(root, &object, 13, 43004, 0), static_cast<qvr::FrameworkResult>(0x80000100u));
    ASSERT_EQ(create(root, &object, 13, 43003, 0), 0);
    ASSERT_NE(object, nullptr);
    auto* store = static_cast<qvr::ProfileStore*>(object);
    qvr::StoreHandle handle = 7;
    EXPECT_EQ(qvr::StoreEntry<qvr::StoreOpenFn>(store, qvr::kStoreOpenEntry)(store, &handle, 0, "", 0),
              static_cast<qvr::FrameworkResult>(0x8000006Bu));
    EXPECT_EQ(qvr::ObjectEntry<qvr::ReleaseObjectFn>(object, qvr::kReleaseObjectEntry)(object), 0);
  }
  EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  // Too long to be tried at all.
  qvr::FrameworkLoader tooLong;
  tooLong.Load(L"C:\\" + std::wstring(32000, L'x'));
  EXPECT_EQ(tooLong.Result(), 0);
  EXPECT_EQ(tooLong.Root(), nullptr);
}

}  // namespace
