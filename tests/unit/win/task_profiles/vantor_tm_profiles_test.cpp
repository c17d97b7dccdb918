// The task profile context in a real installer session: vtcore.dll loaded
// from the product folder, the store built from profiles.xml, the lines in
// the log, every way it can end without a store, and its tear-down.
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

constexpr char kPrefix[] = "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: ";
constexpr std::size_t kPrefixChars = 32;

// The context's lines, without their time-stamp prefix.
std::vector<std::wstring> ContextLines(const MsiSession& session) {
  std::vector<std::wstring> lines;
  for (const auto& line : session.Lines()) {
    EXPECT_TRUE(FullMatch(line, (std::string(kPrefix) + "\\[VantorTmProfiles\\]\t.*").c_str())) << Printable({line});
    lines.push_back(line.substr(std::min(line.size(), kPrefixChars)));
  }
  return lines;
}

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<const wchar_t*>(address), &module);
  return module;
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

TEST(VantorTmProfiles, WithoutProductInfoDllThereIsNoStore) {
  ScopedVariable unset(L"ProductInfoDLL", nullptr);
  MsiSession session;
  {
    VantorTmProfiles profiles(session.Handle());
    EXPECT_EQ(profiles.Store(), nullptr);
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  }
  EXPECT_THAT(ContextLines(session), ElementsAre(L"[VantorTmProfiles]\tGetEnvironmentVariableW failed, err = 203"));

  // Set but empty is no library either; the error is whatever the system
  // left, since an empty value is no failure to it.
  ScopedVariable empty(L"ProductInfoDLL", L"");
  MsiSession second;
  {
    VantorTmProfiles profiles(second.Handle());
    EXPECT_EQ(profiles.Store(), nullptr);
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  }
  EXPECT_THAT(ContextLines(second),
              ElementsAre(testing::StartsWith(L"[VantorTmProfiles]\tGetEnvironmentVariableW failed, err = ")));
}

TEST(VantorTmProfiles, BuildsTheStoreFromProfilesXmlAndTearsDown) {
  for (const bool rootEndsInBackslash : {false, true}) {
    ProfileProduct product(TestName() + (rootEndsInBackslash ? L"Backslash" : L""), rootEndsInBackslash);
    const std::wstring xmlPath = product.Folder() + L"\\profiles.xml";
    const std::wstring frameworkPath = product.Folder() + L"\\vtcore.dll";
    MsiSession session;
    {
      VantorTmProfiles profiles(session.Handle());
      ASSERT_NE(profiles.Store(), nullptr) << Printable(session.Lines());
      EXPECT_EQ(profiles.RuntimeModule(), nullptr) << "the harness prefix reports Windows 10";

      // The framework loaded is the product's copy; the module reaches its
      // tables one pointer past each object's start.
      const HMODULE framework = GetModuleHandleW(frameworkPath.c_str());
      ASSERT_NE(framework, nullptr);
      const qvr::FrameworkObject* root = ProcessFrameworkRoot();
      ASSERT_NE(root, nullptr);
      EXPECT_EQ(reinterpret_cast<const void* const*>(root)[1], root->objectTable);
      EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(root->objectTable[qvr::kCreateObjectEntry])), framework);
      const qvr::ProfileStore* store = profiles.Store();
      EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(store->objectTable[qvr::kReleaseObjectEntry])), framework);
      EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(store->ownTable[qvr::kStoreOpenEntry])), framework);
    }
    // Store released, framework unloaded, root forgotten.
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
    EXPECT_EQ(GetModuleHandleW(frameworkPath.c_str()), nullptr);
    EXPECT_THAT(ContextLines(session),
                ElementsAre(L"[VantorTmProfiles]\tprocessing profiles.xml : " + xmlPath,
                            L"[VantorTmProfiles]\tCreate registry node from profiles.xml : " + xmlPath));
    // The new store was written out with the declared tree.
    EXPECT_EQ(product.StoredDword("tasks\\Scan\\def", "enabled"), 1u);
    EXPECT_EQ(product.StoredDword("tasks\\Old", "installed"), 1u);
  }
}

TEST(VantorTmProfiles, FrameworkThatGivesNoRoot) {
  struct Case {
    const char* what;
    const wchar_t* fault;
    bool replaceFramework;
    const wchar_t* line;
  };
  const Case cases[] = {
      {"vtcore.dll missing", nullptr, true, L"[VantorTmProfiles]\tVantor init failed, err = 800001C1"},
      {"vtcore.dll without VantorLoad", nullptr, true, L"[VantorTmProfiles]\tVantor init failed, err = 800001C4"},
      {"VantorLoad failing", L"load", false, L"[VantorTmProfiles]\tVantor init failed, err = 8000004B"},
  };
  int index = 0;
  for (const Case& c : cases) {
    ProfileProduct product(TestName() + std::to_wstring(index));
    const std::wstring framework = product.Folder() + L"\\vtcore.dll";
    if (c.replaceFramework) DeleteFileW(framework.c_str());
    // A library that loads but is no framework.
    if (index == 1) {
      ASSERT_TRUE(CopyFileW(qvrtest::BuildPath(L"bin/product_info.dll").c_str(), framework.c_str(), FALSE));
    }
    ScopedVariable fault(L"VTCORE_FAULT", c.fault);
    MsiSession session;
    {
      VantorTmProfiles profiles(session.Handle());
      EXPECT_EQ(profiles.Store(), nullptr) << c.what;
      EXPECT_EQ(ProcessFrameworkRoot(), nullptr) << c.what;
    }
    EXPECT_THAT(ContextLines(session), ElementsAre(c.line)) << c.what;
    ++index;
  }
}

TEST(VantorTmProfiles, StoreThatCannotBeBuilt) {
  struct Case {
    const char* what;
    const wchar_t* fault;
    const char* profilesXml;
    const wchar_t* line;
  };
  const Case cases[] = {
      {"create fails", L"create", nullptr, L"CreateRegistry failed, err = 8000004B"},
      {"create gives no object", L"create-empty", nullptr, L"CreateRegistry failed, err = 800000C7"},
      {"source path refused", L"property=0x20900040", nullptr, L"CreateRegistry failed, err = 8000004B"},
      {"a later property refused", L"property=0x2040004A", nullptr, L"CreateRegistry failed, err = 8000004B"},
      {"completion fails", L"complete", nullptr, L"CreateRegistry failed, err = 8000004B"},
      {"malformed profiles.xml", nullptr, "<profiles><node name=\"a\"></profiles>",
       L"CreateRegistry failed, err = 80000310"},
      {"profiles.xml of another kind", nullptr, "<settings/>", L"CreateRegistry failed, err = 80000310"},
      {"profiles.xml missing", nullptr, "", L"CreateRegistry failed, err = 80010102"},
  };
  int index = 0;
  for (const Case& c : cases) {
    ProfileProduct product(TestName() + std::to_wstring(index++));
    if (c.profilesXml && *c.profilesXml) product.WriteProductFile(L"profiles.xml", c.profilesXml);
    if (c.profilesXml && !*c.profilesXml) DeleteFileW(product.XmlPath().c_str());
    ScopedVariable fault(L"VTCORE_FAULT", c.fault);
    MsiSession session;
    {
      VantorTmProfiles profiles(session.Handle());
      EXPECT_EQ(profiles.Store(), nullptr) << c.what;
      EXPECT_NE(ProcessFrameworkRoot(), nullptr) << "the framework stays loaded while the context lives";
    }
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
    EXPECT_THAT(ContextLines(session), ElementsAre(L"[VantorTmProfiles]\tprocessing profiles.xml : " + product.XmlPath(),
                                                   std::wstring(L"[VantorTmProfiles]\t") + c.line))
        << c.what;
    EXPECT_EQ(GetFileAttributesW(product.StorePath().c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
  }
}

TEST(VantorTmProfiles, SelfReferencingXmlPathExpandsToNothing) {
  ProfileProduct product(TestName());
  product.Product().SetString(L"environment", L"ProfilesXmlPath", L"%ProfilesXmlPath%\\x");
  MsiSession session;
  {
    VantorTmProfiles profiles(session.Handle());
    EXPECT_EQ(profiles.Store(), nullptr);
  }
  EXPECT_THAT(ContextLines(session), ElementsAre(L"[VantorTmProfiles]\tprocessing profiles.xml : ",
                                                 L"[VantorTmProfiles]\tCreateRegistry failed, err = 80000046"));
}

TEST(VantorTmProfiles, ProductInfoThatCannotBeLoadedIsLogged) {
  ProfileProduct product(TestName());
  ScopedVariable missing(L"ProductInfoDLL", (product.Folder() + L"\\missing.dll").c_str());
  MsiSession session;
  {
    VantorTmProfiles profiles(session.Handle());
    EXPECT_EQ(profiles.Store(), nullptr);
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  }
  const auto lines = ContextLines(session);
  ASSERT_EQ(lines.size(), 1u) << Printable(lines);
  EXPECT_TRUE(FullMatch(lines[0], "\\[VantorTmProfiles\\]\toxa::Exception occurred: 0x8001[0-9a-f]{4} \\(.+\\)"))
      << Printable(lines);
}

TEST(VantorTmProfiles, RuntimeLibraryOnlyBelowWindows10) {
  const std::wstring systemRuntime = [] {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\ucrtbase.dll";
  }();
  // Windows 7: the product folder's ucrtbase.dll is loaded first.
  {
    ProfileProduct product(TestName() + L"Win7");
    ASSERT_TRUE(CopyFileW(systemRuntime.c_str(), (product.Folder() + L"\\ucrtbase.dll").c_str(), FALSE));
    MsiSession session;
    VantorTmProfiles profiles(session.Handle(), &WindowsVersion61);
    EXPECT_NE(profiles.RuntimeModule(), nullptr);
    EXPECT_NE(profiles.Store(), nullptr) << Printable(session.Lines());
  }
  // An unknown version counts as old; without the library the context ends
  // with the load failure.
  {
    ProfileProduct product(TestName() + L"Unknown");
    MsiSession session;
    {
      VantorTmProfiles profiles(session.Handle(), &WindowsVersionUnknown);
      EXPECT_EQ(profiles.RuntimeModule(), nullptr);
      EXPECT_EQ(profiles.Store(), nullptr);
      EXPECT_EQ(ProcessFrameworkRoot(), nullptr) << "the framework is not loaded after the failure";
    }
    const auto lines = ContextLines(session);
    ASSERT_EQ(lines.size(), 1u) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines[0], "\\[VantorTmProfiles\\]\toxa::Exception occurred: 0x80010112 \\(.+\\)"))
        << Printable(lines);
  }
  // Windows 10: not loaded even when the product ships one.
  {
    ProfileProduct product(TestName() + L"Win10");
    ASSERT_TRUE(CopyFileW(systemRuntime.c_str(), (product.Folder() + L"\\ucrtbase.dll").c_str(), FALSE));
    MsiSession session;
    VantorTmProfiles profiles(session.Handle(), &WindowsVersion100);
    EXPECT_EQ(profiles.RuntimeModule(), nullptr);
    EXPECT_NE(profiles.Store(), nullptr);
  }
  // The real query: major * 256 + minor of the running system.
  std::uint32_t version = 0;
  ASSERT_TRUE(qvr::QueryWindowsVersionNumber(version));
  EXPECT_EQ(version, 0x0A00u) << "the harness sets its prefix to Windows 10";
}

TEST(FrameworkLoader, LoadsFromADirectoryAndReportsWhatFails) {
  const std::wstring bin = qvrtest::BuildPath(L"bin");
  {
    qvr::FrameworkLoader loader;
    loader.Load(bin + L"\\");
    EXPECT_EQ(loader.Result(), 0);
    ASSERT_NE(loader.Root(), nullptr);
    EXPECT_EQ(ProcessFrameworkRoot(), loader.Root());

    // The root creates the store object and nothing else; other positions
    // are not implemented.
    qvr::FrameworkObject* root = loader.Root();
    const auto create = qvr::ObjectEntry<qvr::CreateObjectFn>(root, qvr::kCreateObjectEntry);
    qvr::FrameworkObject* object = reinterpret_cast<qvr::FrameworkObject*>(1);
    EXPECT_EQ(create(root, &object, 12, 43003, 0), static_cast<qvr::FrameworkResult>(0x80000001u));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(create(root, &object, 13, 43004, 0), static_cast<qvr::FrameworkResult>(0x80000100u));
    ASSERT_EQ(create(root, &object, 13, 43003, 0), 0);
    ASSERT_NE(object, nullptr);
    using Unimplemented = qvr::FrameworkResult(__cdecl*)(qvr::FrameworkObject*);
    EXPECT_EQ(reinterpret_cast<Unimplemented>(object->objectTable[0])(object),
              static_cast<qvr::FrameworkResult>(0x80000043u));
    // Before completion the store has no tree to open.
    auto* store = static_cast<qvr::ProfileStore*>(object);
    qvr::StoreHandle handle = 7;
    EXPECT_EQ(qvr::StoreEntry<qvr::StoreOpenFn>(store, qvr::kStoreOpenEntry)(store, &handle, 0, "", 0),
              static_cast<qvr::FrameworkResult>(0x8000006Bu));
    EXPECT_EQ(qvr::ObjectEntry<qvr::CompleteCreationFn>(object, qvr::kCompleteCreationEntry)(object),
              static_cast<qvr::FrameworkResult>(0x8000006Bu))
        << "no source path yet";
    EXPECT_EQ(qvr::ObjectEntry<qvr::ReleaseObjectFn>(object, qvr::kReleaseObjectEntry)(object), 0);
  }
  EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  {
    qvr::FrameworkLoader loader;
    loader.Load(bin + L"\\missing");
    EXPECT_EQ(loader.Result(), qvr::kFrameworkNotLoaded);
    EXPECT_EQ(loader.Root(), nullptr);
  }
  {
    // Too long to be tried at all.
    qvr::FrameworkLoader loader;
    loader.Load(L"C:\\" + std::wstring(32000, L'x'));
    EXPECT_EQ(loader.Result(), 0);
    EXPECT_EQ(loader.Root(), nullptr);
  }
}

}  // namespace
