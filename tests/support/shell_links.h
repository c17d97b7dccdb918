// Shortcut files made and read as the shell does (IShellLinkW and
// IPersistFile), for the tests of the module's shortcuts.
#pragma once

#include <string>

namespace qvrtest {

// A shortcut at `path` to `target`; false when it cannot be saved.
bool MakeShortcut(const std::wstring& path, const std::wstring& target);
// "<icon file>,<index>" of the shortcut, or "<cannot load>".
std::wstring ShortcutIcon(const std::wstring& path);

}  // namespace qvrtest
