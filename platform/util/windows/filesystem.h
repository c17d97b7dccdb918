// Special folders of the shell.
#pragma once

#include <windows.h>

#include <string>

namespace qvr {

// The path of the special folder `csidl` (CSIDL_*) for the user of `token`
// (null: the caller). Throws oxa::CheckFailedException when the shell reports
// anything but S_OK.
std::wstring GetFolderPath(int csidl, HANDLE token);

}  // namespace qvr
