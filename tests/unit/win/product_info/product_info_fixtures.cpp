#include "tests/unit/win/product_info/product_info_fixtures.h"

#include <gtest/gtest.h>

#include <vector>

#include "component/oxa/text/utf.h"
#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"

namespace product_info_test {
namespace {

// The folders made by this program, removed when it ends (the current
// directory, which may be one of them, cannot be).
struct CreatedFolders {
  ~CreatedFolders() {
    SetCurrentDirectoryW(L"C:\\");
    for (const std::wstring& folder : folders) qvrtest::RemoveTree(L"\\\\?\\" + folder);
  }
  std::vector<std::wstring> folders;
};

CreatedFolders& Folders() {
  static CreatedFolders folders;
  return folders;
}

}  // namespace

LibraryFolder::LibraryFolder() {
  static int created = 0;
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp) + L"qvr-product-info-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++created);
  EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr))
      << "cannot create " << oxa::ToUtf8(path_) << ": " << GetLastError();
  Folders().folders.push_back(path_);
}

std::wstring LibraryFolder::AddLibrary(const wchar_t* built, const wchar_t* name) const {
  const std::wstring source = qvrtest::BuildPath(std::wstring(L"bin/") + built);
  EXPECT_TRUE(CopyFileW(source.c_str(), File(name).c_str(), TRUE)) << oxa::ToUtf8(source) << ": " << GetLastError();
  return File(name);
}

void LibraryFolder::WriteSettings(std::string_view text, bool callLog) const {
  qvrtest::WriteAll(File(L"product_info.ini"),
                    std::string(text) + (callLog ? "\nCallLog=" + oxa::ToUtf8(File(L"calls.log")) + "\n" : ""));
}

int LibraryFolder::CallCount() const {
  const std::string log = qvrtest::ReadAll(File(L"calls.log"));
  int count = 0;
  for (std::size_t at = 0; (at = log.find("GetProductVersionInfo2\r\n", at)) != std::string::npos; at += 24) ++count;
  EXPECT_EQ(log.size(), count * 24u) << log;
  return count;
}

void ClearSearchState() {
  EXPECT_TRUE(SetCurrentDirectoryW(LibraryFolder().Path().c_str()));
  SetDllDirectoryW(nullptr);
  SetProductInfoVariable(L"");
}

void SetProductInfoVariable(const std::wstring& value) {
  SetEnvironmentVariableW(L"ProductInfoDLL", value.empty() ? nullptr : value.c_str());
}

}  // namespace product_info_test
