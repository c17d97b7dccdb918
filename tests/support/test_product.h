// A product of its own for one test: a product key under
// HKLM\Software\QvrTest\<name>, a folder with a copy of product_info.dll whose
// product_info.ini names that key, and ProductInfoDLL pointing at the copy.
// The key and the variable are removed when the object ends; the folder when
// the test program ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qvrtest {

class TestProduct {
 public:
  explicit TestProduct(const std::wstring& name, const std::string& extraSettings = "");
  ~TestProduct();
  TestProduct(const TestProduct&) = delete;
  TestProduct& operator=(const TestProduct&) = delete;

  // "Software\QvrTest\<name>", the product registry key below HKLM.
  const std::wstring& Key() const { return key_; }
  // The key path of a part below the product key, e.g. L"environment" or
  // L"Installer\\features\\F1".
  std::wstring KeyOf(const std::wstring& relative) const;
  // The product's folder (holds the library copy); files for the test go here.
  const std::wstring& Folder() const { return folder_; }

  // Values below the product key (the key is created with its parents).
  void SetString(const std::wstring& relative, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
  void SetDword(const std::wstring& relative, const wchar_t* name, DWORD value);
  void SetQword(const std::wstring& relative, const wchar_t* name, std::uint64_t value);
  void SetBinary(const std::wstring& relative, const wchar_t* name, DWORD type, const void* data, DWORD size);
  void CreateKey(const std::wstring& relative);
  // The declaration keys below Installer that Initialize reads, empty, so
  // that it succeeds on a product declaring nothing else.
  void CreateDeclarationKeys();
  void DeleteValue(const std::wstring& relative, const wchar_t* name);

  // A feature declaration: Installer\features\<name> with its lists.
  void AddFeature(const std::wstring& name, const std::wstring& productTypes, bool installed = true);

  // A string value below the product key, or nothing when it is absent.
  std::optional<std::wstring> GetString(const std::wstring& relative, const wchar_t* name) const;
  bool KeyExists(const std::wstring& relative) const;

 private:
  std::wstring key_;
  std::wstring folder_;
};

}  // namespace qvrtest
