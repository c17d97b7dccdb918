#include "tests/unit/win/product_info/product_info_fixtures.h"

#include <gtest/gtest.h>

#include "component/oxa/text/utf.h"
#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"

namespace product_info_test {

LibraryFolder::LibraryFolder() : path_(qvrtest::FolderRemovedAtExit(L"qvr-product-info")) {
  EXPECT_TRUE(qvrtest::Exists(path_)) << "cannot create " << oxa::ToUtf8(path_);
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
