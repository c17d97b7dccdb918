// The product identity library product_info.dll: where it is found, and the
// ProductInfo record read from it through its export GetProductVersionInfo2,
// once per process and library file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/product_info/product_info_record.h"
#include "component/oxa/system/unique_handle.h"

namespace qvr {

inline constexpr wchar_t kProductInfoLibraryName[] = L"product_info.dll";
inline constexpr char kProductInfoExportName[] = "GetProductVersionInfo2";

// The library's export: fills the record, whose Size is already set and whose
// other fields hold the defaults; negative on failure.
using GetProductVersionInfo2Fn = std::int32_t(__cdecl*)(ProductInfo* info);

// Loads the library file at `path` into `module`, which the caller owns in
// every outcome (also when the loader throws after loading).
using ProductInfoLibraryLoader = void (*)(const wchar_t* path, oxa::ModuleHandle& module);

// The record of the library at `path`. The first call for a file loads it
// with `load`, reads the record, frees the library and keeps a copy in the
// process-wide cache; later calls for the same file (by volume and file
// index, whatever the spelling) return a copy of the cached record.
// Throws:
// - std::filesystem::filesystem_error ("equivalent") when the cache is not
//   empty and the identity of `path` cannot be read for another reason than
//   that no such file exists (a name left to the system's library search is
//   then loaded, and cached by the file that was loaded);
// - whatever `load` throws;
// - oxa::CheckFailedException when no library was loaded (line 209);
// - oxa::Exception "Expression failed" with the Windows error ("os.result")
//   when the export is missing (line 799);
// - oxa::CheckResultFailedException with the export's negative result
//   (line 800).
// The source of the last three is "platform/product_info/product_info".
// The checked load that the module uses is in
// Custom_Actions/COMMON/product_info_checked.h.
ProductInfo LoadProductInfo(const std::wstring& path, ProductInfoLibraryLoader load);

// The first existing file of: this module's directory, the current directory
// and the DLL directory of the process, each joined with product_info.dll;
// else the bare name, left to the system's library search. A step that fails
// (a buffer that stays too small, a missing function) yields no candidate.
std::wstring LocateProductInfoLibrary();

}  // namespace qvr
