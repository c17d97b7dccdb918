// The bridge to the cleaner library cleanapi.dll, which detects and removes
// incompatible software: it unpacks the library and its index from the
// cleaner pack into a work folder, loads the database files that apply to
// the product into memory, calls the library on them, and routes the
// library's own trace lines to the installer's trace callback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

class CabExtractor;

// One application that the library reports.
struct DetectedApp {
  std::wstring name;  // its identifier in the database: the key for removal
  std::wstring displayName;
  std::wstring details;        // the library's third text, carried along
  std::uint32_t category = 0;  // 0 detect only, 1 safe uninstall, 2 custom uninstall
  bool operator==(const DetectedApp&) const = default;
};

using CleanerTrace = std::function<void(const std::wstring& line)>;

class Cleaner {
 public:
  // Every diagnostic line goes to `trace`.
  explicit Cleaner(CleanerTrace trace);
  // Shuts down when that was not done.
  ~Cleaner();
  Cleaner(const Cleaner&) = delete;
  Cleaner& operator=(const Cleaner&) = delete;

  // Creates the scratch folder (a new folder that only this account and the
  // administrators may write; one that exists already is never used) and
  // its work folder "Cleaner", extracts cleanapi.dll and cleanapi.ini from
  // the pack into it, and loads the database files that the index selects
  // for `filterNames` into memory. 0, or 3 (no pack), 13 (extraction or
  // index failed), 14 (no extractor), or the Windows error of the folders.
  std::uint32_t InitializeProductTypes(const std::wstring& packPath, const std::vector<std::wstring>& filterNames,
                                       const std::wstring& scratchFolder);
  // Appends the applications present on the machine. 0, 1 when the library
  // reports failure, or the Windows error of loading it.
  std::uint32_t Enumerate(std::vector<DetectedApp>& apps);
  // Removes the detected applications that `skip` (if any) does not answer
  // true for; `removed` hears of each one removed. 0, 0x80004005 when the
  // library reports failure, or the Windows error of loading it.
  std::uint32_t Remove(const std::function<bool(const DetectedApp&)>& skip,
                       const std::function<void(const DetectedApp&)>& removed);
  // Remove of the applications named `name`, appending them to `removed`.
  std::uint32_t RemoveByName(const std::wstring& name, std::vector<DetectedApp>& removed);
  // Ends the library's tracing and deletes the scratch folder with all it
  // holds (links in it are removed, never followed).
  void Shutdown() noexcept;

 private:
  class TraceImpl;
  struct DatabaseFile {
    std::string name;     // UTF-8
    std::string content;  // the file's bytes and one added NUL
  };
  // An element of the table the library reads (its layout is the library's).
  struct DatabaseEntry {
    const char* fileName;
    const char* content;
  };

  void Trace(const std::wstring& line) const noexcept;
  std::uint32_t CreateWorkFolder(const std::wstring& scratchFolder);
  std::uint32_t FiltrateIniFiles(CabExtractor& extractor, const std::wstring& packPath);
  std::wstring LibraryPath() const;

  std::wstring workFolder_;  // empty until this object created the scratch folder
  std::vector<std::wstring> filterNames_;
  std::unique_ptr<TraceImpl> traceImpl_;
  std::vector<DatabaseFile> databaseFiles_;
  std::vector<DatabaseEntry> databaseTable_;
  CleanerTrace trace_;
};

}  // namespace qvr
