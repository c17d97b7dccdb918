#include "tests/support/test_product.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include "platform/util/scoped_reg_key.h"
#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"

namespace qvrtest {
namespace {

void Check(LONG result, const char* what) { ASSERT_EQ(result, ERROR_SUCCESS) << what; }

}  // namespace

TestProduct::TestProduct(const std::wstring& name, const std::string& extraSettings)
    : key_(L"Software\\QvrTest\\" + name) {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, key_.c_str());
  CreateKey(L"");

  folder_ = FolderRemovedAtExit(L"qvrtest-" + name);
  const std::wstring library = folder_ + L"\\product_info.dll";
  EXPECT_TRUE(CopyFileW(BuildPath(L"bin/product_info.dll").c_str(), library.c_str(), FALSE))
      << "product_info.dll is not built";

  std::string settings = "ProductRegistryKey=";
  for (wchar_t c : key_) settings.push_back(static_cast<char>(c));
  settings += "\n" + extraSettings + "\n";
  WriteAll(folder_ + L"\\product_info.ini", settings);
  SetEnvironmentVariableW(L"ProductInfoDLL", library.c_str());
}

TestProduct::~TestProduct() {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, key_.c_str());
  SetEnvironmentVariableW(L"ProductInfoDLL", nullptr);
}

std::wstring TestProduct::KeyOf(const std::wstring& relative) const {
  return relative.empty() ? key_ : key_ + L"\\" + relative;
}

void TestProduct::CreateKey(const std::wstring& relative) {
  qvr::ScopedRegKey key;
  Check(key.Create(HKEY_LOCAL_MACHINE, KeyOf(relative).c_str(), KEY_ALL_ACCESS), "create key");
}

void TestProduct::CreateDeclarationKeys() {
  for (const wchar_t* name :
       {L"features", L"profiles", L"drivers", L"ProtoHandlers", L"registry", L"Selfregs", L"Selfunregs", L"shortcuts"})
    CreateKey(std::wstring(L"Installer\\") + name);
}

void TestProduct::SetBinary(const std::wstring& relative, const wchar_t* name, DWORD type, const void* data,
                            DWORD size) {
  qvr::ScopedRegKey key;
  Check(key.Create(HKEY_LOCAL_MACHINE, KeyOf(relative).c_str(), KEY_ALL_ACCESS), "create key");
  Check(RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size), "set value");
}

void TestProduct::SetString(const std::wstring& relative, const wchar_t* name, const std::wstring& value, DWORD type) {
  SetBinary(relative, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void TestProduct::SetDword(const std::wstring& relative, const wchar_t* name, DWORD value) {
  SetBinary(relative, name, REG_DWORD, &value, sizeof(value));
}

void TestProduct::SetQword(const std::wstring& relative, const wchar_t* name, std::uint64_t value) {
  SetBinary(relative, name, REG_QWORD, &value, sizeof(value));
}

void TestProduct::DeleteValue(const std::wstring& relative, const wchar_t* name) {
  qvr::ScopedRegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, KeyOf(relative).c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS) key.DeleteValue(name);
}

void TestProduct::AddFeature(const std::wstring& name, const std::wstring& productTypes, bool installed) {
  const std::wstring feature = L"Installer\\features\\" + name;
  SetDword(feature, L"installed", installed ? 1 : 0);
  SetString(feature, L"ProductTypes", productTypes);
}

std::optional<std::wstring> TestProduct::GetString(const std::wstring& relative, const wchar_t* name) const {
  wchar_t buffer[4096];
  DWORD size = sizeof(buffer);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, KeyOf(relative).c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(buffer);
}

bool TestProduct::KeyExists(const std::wstring& relative) const {
  return qvr::ScopedRegKey().Open(HKEY_LOCAL_MACHINE, KeyOf(relative).c_str(), KEY_READ) == ERROR_SUCCESS;
}

}  // namespace qvrtest
