// What the product identity tests share: folders of their own holding copies
// of the built product_info.dll variants, the process state that the library
// search reads, and recorders for sink lines and trace records.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "log/installer_log.h"
#include "tests/support/recording_sink.h"
#include "component/oxa/trace/tracer.h"

namespace product_info_test {

// A new empty folder below the temporary folder. Folders are removed when the
// test program ends, not before: a removed file's index could be given to a
// later copy, which the process-wide product info cache would take for it.
class LibraryFolder {
 public:
  LibraryFolder();

  const std::wstring& Path() const { return path_; }
  std::wstring File(std::wstring_view name) const;

  // Copies $QVR_BUILD_DIR/bin/<built> into the folder as <name>; its path.
  std::wstring AddLibrary(const wchar_t* built = L"product_info.dll", const wchar_t* name = L"product_info.dll") const;
  // product_info.ini with these lines (UTF-8).
  void WriteSettings(std::string_view text) const;
  // Settings that include "CallLog=" naming calls.log of this folder.
  void WriteSettingsWithCallLog(std::string_view text) const;
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

  static void SetProductInfoVariable(const std::wstring& value);
  static void ClearProductInfoVariable();

 private:
  std::wstring currentDirectory_;
  std::wstring dllDirectory_;
  std::wstring variable_;
  bool variableSet_ = false;
  LibraryFolder empty_;
};

// Sink lines as the shared recorder keeps them.
using LogRecord = qvrtest::SinkLine;
using RecordingSink = qvrtest::RecordingSink;

// Keeps every trace record with its level; installed as the current tracer
// for its lifetime.
class RecordingTracer final : public oxa::ITracer {
 public:
  struct Record {
    oxa::TraceLevel level;
    std::string text;
    bool operator==(const Record&) const = default;
  };

  RecordingTracer();
  ~RecordingTracer();
  RecordingTracer(const RecordingTracer&) = delete;
  RecordingTracer& operator=(const RecordingTracer&) = delete;

  std::uint32_t AddRef() override { return ++references_; }
  std::uint32_t Release() override { return --references_; }
  oxa::ResultCode QueryInterface(std::uint32_t id, void** out) override;
  oxa::ResultCode AllocateBuffer(oxa::TraceLevel level, char** buffer, std::size_t size) override;
  oxa::ResultCode CommitBuffer(char* buffer, std::size_t size) override;

  std::vector<Record> records;

 private:
  std::uint32_t references_ = 0;
  oxa::TraceLevel pendingLevel_ = 0;
};
void PrintTo(const RecordingTracer::Record& record, std::ostream* out);

std::string Narrow(const std::wstring& text);

}  // namespace product_info_test
