// The three custom actions the package runs as deferred actions.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

namespace qvr {

// No exception leaves them: one that is thrown writes a dump, its line and
// the end record, and the action answers 1603.
UINT ProductActivate(MSIHANDLE install) noexcept;
UINT ProductRbActivate(MSIHANDLE install) noexcept;
UINT ProductDeactivate(MSIHANDLE install) noexcept;

// Reads CustomActionData: 0, or the error of the property call that failed
// (ERROR_OUTOFMEMORY when no buffer could be had), the text left empty. An
// absent property reads as empty text.
UINT ReadCustomActionData(MSIHANDLE install, std::wstring& text);

}  // namespace qvr
