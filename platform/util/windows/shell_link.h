// The one change the module makes to a shortcut file's content: its icon.
#pragma once

#include <windows.h>

#include <string>

namespace qvr {

class LogSink;

// SetShortcutIcon: loads the shortcut `lnkPath` through the shell link
// object, points its icon at `iconPath` (index 0) and saves it in place,
// inside a ComApartment. Each failing step writes its level-3 line and
// returns its result; E_UNEXPECTED when COM cannot be initialised.
HRESULT SetShortcutIcon(LogSink* sink, const std::wstring& lnkPath, const std::wstring& iconPath);

}  // namespace qvr
