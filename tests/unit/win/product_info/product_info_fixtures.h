// What the product identity tests share: folders of their own holding copies
// of the built product_info.dll variants, and a library search that starts
// from nothing.
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

// A new empty folder below the temporary folder, removed when the program ends.
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

// A search that finds nothing: the current directory an empty folder, no DLL
// directory, no ProductInfoDLL. Nothing is put back: each test runs in a
// process of its own.
void ClearSearchState();

// ProductInfoDLL; empty: unset.
void SetProductInfoVariable(const std::wstring& value);

}  // namespace product_info_test
