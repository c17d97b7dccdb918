#include "tests/unit/win/product_info/product_info_fixtures.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"

namespace product_info_test {
namespace {

constexpr wchar_t kVariable[] = L"ProductInfoDLL";

// The folders made by this program, removed when it ends.
struct CreatedFolders {
  ~CreatedFolders() {
    for (const std::wstring& folder : folders) qvrtest::RemoveTree(L"\\\\?\\" + folder);
  }
  std::vector<std::wstring> folders;
};

CreatedFolders& Folders() {
  static CreatedFolders folders;
  return folders;
}

std::wstring ReadText(DWORD (*read)(DWORD, LPWSTR)) {
  std::wstring text(read(0, nullptr) + 1, L'\0');
  text.resize(read(static_cast<DWORD>(text.size()), text.data()));
  return text;
}

}  // namespace

LibraryFolder::LibraryFolder() {
  static int created = 0;
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp) + L"qvr-product-info-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++created);
  EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << "cannot create " << Narrow(path_) << ": " << GetLastError();
  Folders().folders.push_back(path_);
}

std::wstring LibraryFolder::AddLibrary(const wchar_t* built, const wchar_t* name) const {
  const std::wstring source = qvrtest::BuildPath(std::wstring(L"bin/") + built);
  EXPECT_TRUE(CopyFileW(source.c_str(), File(name).c_str(), TRUE)) << Narrow(source) << ": " << GetLastError();
  return File(name);
}

void LibraryFolder::WriteSettings(std::string_view text, bool callLog) const {
  qvrtest::WriteAll(File(L"product_info.ini"),
                    std::string(text) + (callLog ? "\nCallLog=" + Narrow(File(L"calls.log")) + "\n" : ""));
}

int LibraryFolder::CallCount() const {
  const std::string log = qvrtest::ReadAll(File(L"calls.log"));
  int count = 0;
  for (std::size_t at = 0; (at = log.find("GetProductVersionInfo2\r\n", at)) != std::string::npos; at += 24) ++count;
  EXPECT_EQ(log.size(), count * 24u) << log;
  return count;
}

SearchStateScope::SearchStateScope()
    : currentDirectory_(ReadText([](DWORD size, LPWSTR buffer) { return GetCurrentDirectoryW(size, buffer); })),
      dllDirectory_(ReadText([](DWORD size, LPWSTR buffer) { return GetDllDirectoryW(size, buffer); })) {
  const DWORD size = GetEnvironmentVariableW(kVariable, nullptr, 0);
  if (size > 0) {
    variable_.resize(size);
    variable_.resize(GetEnvironmentVariableW(kVariable, variable_.data(), size));
    variableSet_ = true;
  }
  EXPECT_TRUE(SetCurrentDirectoryW(empty_.Path().c_str()));
  SetDllDirectoryW(nullptr);
  SetProductInfoVariable(L"");
}

SearchStateScope::~SearchStateScope() {
  SetCurrentDirectoryW(currentDirectory_.c_str());
  SetDllDirectoryW(dllDirectory_.empty() ? nullptr : dllDirectory_.c_str());
  SetEnvironmentVariableW(kVariable, variableSet_ ? variable_.c_str() : nullptr);
}

void SearchStateScope::SetProductInfoVariable(const std::wstring& value) {
  SetEnvironmentVariableW(kVariable, value.empty() ? nullptr : value.c_str());
}

std::string Narrow(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

}  // namespace product_info_test
