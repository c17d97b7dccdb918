// Unix symbolic links inside the prefix, made and read from the Linux side.
// Under Wine 8 such links are what Win32 code meets as links: a link to a
// directory shows as a reparse point, a link to a file as a plain file.
// CreateSymbolicLinkW reports success and creates nothing, and Win32
// deletion acts on a link's target. The test process (a Linux process)
// makes the system calls itself; each is done when it returns.
#pragma once

#include <string>

namespace qvrtest {

// Creates a link at `link` pointing to `target` (both Windows paths in the
// prefix; `target` need not exist).
bool CreateUnixSymlink(const std::wstring& target, const std::wstring& link);
// Removes the link itself.
bool RemoveUnixSymlink(const std::wstring& link);
// The Unix path a link points to; empty when `link` is no link.
std::string ReadUnixSymlink(const std::wstring& link);
// The Unix form of a Windows path of the prefix (for comparing link targets).
std::string UnixPath(const std::wstring& path);

}  // namespace qvrtest
