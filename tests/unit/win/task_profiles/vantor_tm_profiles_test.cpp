// The task profile context in a real installer session: the product's
// vtcore.dll, the store built from profiles.xml, its lines, its failures.
#include "Custom_Actions/COMMON/vantor_tm_profiles.h"

#include "tests/support/msi_session.h"
#include "tests/unit/win/task_profiles/profile_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
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

// The context's lines, each checked for the time-stamped prefix, without it.
std::vector<std::wstring> ContextLines(const MsiSession& session) {
  std::vector<std::wstring> lines;
  for (const auto& line : session.Lines()) {
    EXPECT_TRUE(FullMatch(line, (qvrtest::kLinePrefix + std::string("\\[VantorTmProfiles\\]\t.*")).c_str()))
        << Printable({line});
    lines.push_back(line.substr(std::min<std::size_t>(line.size(), 32)));
  }
  return lines;
}

bool WindowsVersionUnknown(std::uint32_t&) { return false; }

// On Windows 10 (the harness prefix's) the product folder, which holds no
// ucrtbase.dll, is not asked for one; older versions ask (the unknown
// version's case below).
TEST(VantorTmProfiles, BuildsTheStoreFromProfilesXmlAndTearsDown) {
  ProfileProduct product(TestName());
  const std::wstring frameworkPath = product.Folder() + L"\\vtcore.dll";
  MsiSession session;
  {
    VantorTmProfiles profiles(session.Handle());
    ASSERT_NE(profiles.Store(), nullptr) << Printable(session.Lines());
    EXPECT_NE(GetModuleHandleW(frameworkPath.c_str()), nullptr) << "the product's copy is the one loaded";
    EXPECT_NE(ProcessFrameworkRoot(), nullptr);
  }
  // Store released, framework unloaded, root forgotten.
  EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
  EXPECT_EQ(GetModuleHandleW(frameworkPath.c_str()), nullptr);
  EXPECT_THAT(ContextLines(session),
              ElementsAre(L"[VantorTmProfiles]\tprocessing profiles.xml : " + product.XmlPath(),
                          L"[VantorTmProfiles]\tCreate registry node from profiles.xml : " + product.XmlPath()));
}

// Each way to end without a store, with its line (an unknown Windows version
// counts as old, and the product folder has no runtime library). A framework
// that gave a root stays loaded while the context lives.
TEST(VantorTmProfiles, EndsWithoutAStore) {
  struct Case {
    const wchar_t* variable;  // set to `value` (null: unset) for the case
    const wchar_t* value;
    const wchar_t* framework;  // copied over the product's vtcore.dll ("": deleted)
    const char* line;
    qvr::WindowsVersionQuery version = &qvr::QueryWindowsVersionNumber;
  };
  const Case cases[] = {
      {L"ProductInfoDLL", nullptr, nullptr, "GetEnvironmentVariableW failed, err = 203"},
      {nullptr, nullptr, L"", "Vantor init failed, err = 800001C1"},
      {nullptr, nullptr, L"bin/product_info.dll", "Vantor init failed, err = 800001C4"},
      {nullptr, nullptr, nullptr, "oxa::Exception occurred: 0x80010112 \\(.+\\)", &WindowsVersionUnknown},
      {L"VTCORE_FAULT", L"create", nullptr, "CreateRegistry failed, err = 8000004B"},  // the store object is refused
      {L"VTCORE_FAULT", L"create-empty", nullptr, "CreateRegistry failed, err = 800000C7"},  // success, no object
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ProfileProduct product(TestName() + std::to_wstring(index++));
    const std::wstring framework = product.Folder() + L"\\vtcore.dll";
    if (c.framework) {
      ASSERT_TRUE(*c.framework ? CopyFileW(qvrtest::BuildPath(c.framework).c_str(), framework.c_str(), FALSE)
                               : DeleteFileW(framework.c_str()));
    }
    std::optional<ScopedVariable> variable;
    if (c.variable) variable.emplace(c.variable, c.value);
    const bool loaded = std::string(c.line).rfind("CreateRegistry", 0) == 0;
    MsiSession session;
    {
      VantorTmProfiles profiles(session.Handle(), c.version);
      EXPECT_EQ(profiles.Store(), nullptr);
      EXPECT_EQ(ProcessFrameworkRoot() != nullptr, loaded);
    }
    EXPECT_EQ(ProcessFrameworkRoot(), nullptr);
    auto lines = ContextLines(session);
    if (loaded && !lines.empty()) lines.erase(lines.begin());  // "processing profiles.xml : ..."
    ASSERT_EQ(lines.size(), 1u) << Printable(lines);
    EXPECT_TRUE(FullMatch(lines[0], (std::string("\\[VantorTmProfiles\\]\t") + c.line).c_str())) << Printable(lines);
  }
}

}  // namespace
