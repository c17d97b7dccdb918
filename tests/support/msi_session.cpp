#include "tests/support/msi_session.h"

#include <msiquery.h>

#include "component/oxa/system/unique_handle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

namespace qvrtest {
namespace {

std::mutex g_linesLock;
std::vector<std::wstring> g_lines;

int CALLBACK CollectInfo(void*, UINT type, LPCWSTR message) {
  if ((type & 0xFF000000u) == INSTALLMESSAGE_INFO && message) {
    std::lock_guard<std::mutex> lock(g_linesLock);
    g_lines.emplace_back(message);
  }
  return 0;
}

}  // namespace

std::wstring BuildPath(const std::wstring& relative) {
  const char* build = std::getenv("QVR_BUILD_DIR");
  if (!build) ADD_FAILURE() << "QVR_BUILD_DIR is not set";
  std::wstring path = L"Z:";
  for (const char* p = build ? build : ""; *p; ++p) path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
  path += L"\\";
  for (wchar_t c : relative) path.push_back(c == L'/' ? L'\\' : c);
  return path;
}

MsiSession::MsiSession() {
  ClearLines();
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIW(CollectInfo, INSTALLLOGMODE_INFO, nullptr);
  const std::wstring package = BuildPath(L"testdata/session.msi");
  const UINT opened = MsiOpenPackageW(package.c_str(), &handle_);
  EXPECT_EQ(opened, 0u) << "MsiOpenPackage failed";
  ClearLines();  // drop the engine's own start-of-log line
}

MsiSession::~MsiSession() {
  oxa::InstallerHandle(handle_).Reset();
  MsiSetExternalUIW(nullptr, 0, nullptr);
}

void MsiSession::SetProperty(const wchar_t* name, const wchar_t* value) {
  EXPECT_EQ(MsiSetPropertyW(handle_, name, value), 0u);
}

std::vector<std::wstring> MsiSession::Lines() const {
  std::lock_guard<std::mutex> lock(g_linesLock);
  return g_lines;
}

void MsiSession::ClearLines() {
  std::lock_guard<std::mutex> lock(g_linesLock);
  g_lines.clear();
}

}  // namespace qvrtest

#include <regex>

namespace qvrtest {

bool FullMatch(const std::wstring& text, const char* pattern) {
  const std::wstring widePattern(pattern, pattern + std::char_traits<char>::length(pattern));
  return std::regex_match(text, std::wregex(widePattern));
}

bool AnyMatch(const std::vector<std::wstring>& lines, const std::string& pattern) {
  for (const auto& line : lines)
    if (FullMatch(line, pattern.c_str())) return true;
  return false;
}

std::string StartRecord(const char* action) {
  return std::string("Action start [0-9]{2}:[0-9]{2}:[0-9]{2}: ") + action + "\\.";
}

std::string EndRecord(const char* action, int value) {
  return std::string("Action ended [0-9]{2}:[0-9]{2}:[0-9]{2}: ") + action + "\\. Return value " +
         std::to_string(value) + "\\.";
}

std::string Printable(const std::vector<std::wstring>& lines) {
  std::string text;
  for (const auto& line : lines) text += "\n  " + testing::PrintToString(line);
  return text;
}

std::wstring TestName() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return std::wstring(name.begin(), name.end());
}

}  // namespace qvrtest
