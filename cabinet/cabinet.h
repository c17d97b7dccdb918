// The cabinet extractor: cabinet.dll's FDI over the framework's file system.
// It extracts the files of a cabinet that a filter accepts, into a folder or
// into memory, reads a cabinet held in memory, or lists a cabinet's files.
#pragma once

#include <windows.h>
// fdi.h needs the Windows types.
#include <fdi.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oxa {
class ITracer;
}

namespace qvr {

// The outcome of one operation of the extractor.
struct CabResult {
  // 0 unless the extractor itself failed: 2 for a cabinet file that is not
  // there, 0x80004005 for an exception, else the Windows error of the output
  // side (a file that could not be created or written, a stored name that
  // would leave the destination folder).
  std::int32_t nativeCode = 0;
  ERF fdiError{};  // as FDI filled it
  bool failed = false;
};

// "No error" ... "Aborted" for the FDI error codes 0 to 11, else "Unknown error".
const wchar_t* FdiErrorText(int erfOper) noexcept;
// "No cabinet error found", or "Cabinet error - native code: <code>, FDI code: <erfOper>(<text>)".
std::wstring CabErrorText(const CabResult& result);

// Whether to extract the file of this name and uncompressed size. An empty
// filter extracts every file. As a listing's visitor, false stops the listing.
using CabFileFilter = std::function<bool(const std::wstring& name, std::int64_t size)>;

struct CabMemoryFile {
  std::wstring name;  // as stored, e.g. "db\base1.dat"
  std::vector<std::uint8_t> content;
};

// Every operation fills `result` and throws nothing. Stored names are
// written below the destination folder only: a root of the name is dropped,
// and a name with a ".." (or another all-dots) component or a ":" is refused
// (native code ERROR_INVALID_NAME), which ends the extraction. A cabinet that
// continues in a further cabinet ends with FDIERROR_USER_ABORT.
class CabExtractor {
 public:
  virtual void ExtractMemoryToFolder(CabResult& result, const void* cabinet, std::size_t size,
                                     const std::wstring& folder, const CabFileFilter& filter) = 0;
  // `files` gets the accepted files in the order the cabinet holds them.
  virtual void ExtractFileToMemory(CabResult& result, const std::wstring& cabinetPath,
                                   std::vector<CabMemoryFile>& files, const CabFileFilter& filter) = 0;
  virtual void ExtractFileToFolder(CabResult& result, const std::wstring& cabinetPath, const std::wstring& folder,
                                   const CabFileFilter& filter) = 0;
  // Calls `visitor` for each file in the cabinet's order; nothing is written.
  virtual void ListFiles(CabResult& result, const std::wstring& cabinetPath, const CabFileFilter& visitor) = 0;
  virtual void Destroy() = 0;

 protected:
  ~CabExtractor() = default;
};

struct DestroyCabExtractor {
  void operator()(CabExtractor* extractor) const noexcept { extractor->Destroy(); }
};
using CabExtractorPtr = std::unique_ptr<CabExtractor, DestroyCabExtractor>;

// An extractor whose diagnostics go to `tracer` (may be null: none are
// written); null when it cannot be made (cabinet.dll did not load).
CabExtractorPtr CreateCabExtractor(oxa::ITracer* tracer) noexcept;

}  // namespace qvr
