// The module's two verification libraries (qsigverify.dll, pxsverify.dll):
// where they are loaded from and how their exports are bound.
#pragma once

#include <windows.h>

#include "component/oxa/system/unique_handle.h"

namespace qvr {

inline constexpr wchar_t kQsigLibraryName[] = L"qsigverify.dll";
inline constexpr wchar_t kPxsLibraryName[] = L"pxsverify.dll";

// `name` from this module's own folder, else from the system folder; never by
// the library search, which could find a copy beside the file under check.
// Null when neither folder has it or it does not load.
oxa::ModuleHandle LoadVerificationLibrary(const wchar_t* name);

// The export `name` of `library` as a `Function`; null when it is missing.
template <typename Function>
Function BindExport(const oxa::ModuleHandle& library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library.Get(), name)));
}

}  // namespace qvr
