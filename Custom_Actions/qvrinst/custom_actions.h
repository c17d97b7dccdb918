// The three custom actions the package runs as deferred actions.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

namespace qvr {

UINT ProductActivate(MSIHANDLE install);
UINT ProductRbActivate(MSIHANDLE install);
UINT ProductDeactivate(MSIHANDLE install);

// Reads CustomActionData; false (text left empty) when it cannot be read.
bool ReadCustomActionData(MSIHANDLE install, std::wstring& text);

}  // namespace qvr
