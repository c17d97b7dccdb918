// What the product identity tests share: folders of their own holding copies
// of the built product_info.dll variants, and the process state that the
// library search reads.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "tests/support/recording_sink.h"
#include "tests/unit/core/trace/memory_tracer.h"

namespace product_info_test {

using qvrtest::MemoryTracer;
using qvrtest::RecordingSink;
using qvrtest::SinkLine;

// A new empty folder below the temporary folder. Folders are removed when the
// test program ends, not before: a removed file's index could be given to a
// later copy, which the process-wide product info cache would take for it.
class LibraryFolder {
 public:
  LibraryFolder();

  const std::wstring& Path() const { return path_; }
  std::wstring File(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }
  // Copies $QVR_BUILD_DIR/bin/<built> into the folder as <name>; its path.
  std::wstring AddLibrary(const wchar_t* built = L"product_info.dll", const wchar_t* name = L"product_info.dll") const;
  // product_info.ini with these lines; with a call log, "CallLog=" names
  // calls.log of this folder.
  void WriteSettings(std::string_view text, bool callLog = false) const;
  // How many calls the library's call log holds.
  int CallCount() const;

 private:
  std::wstring path_;
};

// Saves the current directory, the DLL directory and ProductInfoDLL, and puts
// them back when the scope ends. Starts with a search that finds nothing:
// the current directory an empty folder, no DLL directory, no variable.
class SearchStateScope {
 public:
  SearchStateScope();
  ~SearchStateScope();
  SearchStateScope(const SearchStateScope&) = delete;
  SearchStateScope& operator=(const SearchStateScope&) = delete;

  // Empty: unset.
  static void SetProductInfoVariable(const std::wstring& value);

 private:
  std::wstring currentDirectory_;
  std::wstring dllDirectory_;
  std::wstring variable_;
  bool variableSet_ = false;
  LibraryFolder empty_;
};

std::string Narrow(const std::wstring& text);

}  // namespace product_info_test
