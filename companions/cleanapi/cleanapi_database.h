// The database of cleanapi.dll: which applications it knows, how it finds
// them and how it removes them. No Win32 here (cleanapi.cpp looks at the
// machine), so the reader is built natively too.
//
// A database file is UTF-8 text (a byte order mark is skipped) read up to its
// terminating NUL, in lines ending in LF (a CR before it is dropped). Blank
// lines and lines whose first non-blank character is '#' or ';' are comments;
// blanks (spaces, tabs) around keys and values are ignored.
//
//   # Contoso's scanner
//   [application contoso-av]
//   name=Contoso Antivirus 12
//   category=1
//   uninstall=ContosoAntivirus
//   file=C:\Program Files\Contoso\Antivirus\cav.exe
//   remove=uninstaller
//
// - `[application NAME]` starts an entry. NAME, its identifier, is 1 to 255
//   bytes without control characters; a later entry with a name already read
//   (in this file or an earlier one) is skipped.
// - Keys of an entry, each at most once but `delete`:
//     name       the display name (default: the identifier)
//     category   0 detect only, 1 safe uninstall, 2 custom uninstall; required
//     uninstall  a key name below
//                HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall
//                (no '\'): the application is present when the key exists
//     file       an absolute path ("C:\..." or "\\server\..."): present when
//                the file or folder exists
//     remove     how categories 1 and 2 are removed (required for them, not
//                allowed for 0): `uninstaller` runs the key's
//                QuietUninstallString (else UninstallString) and waits,
//                success is exit code 0; `delete` deletes the uninstall key
//                and the `delete` files, success is all of them gone
//     delete     an absolute path of a file that `remove=delete` deletes
//   An entry needs `uninstall` or `file` (with both, either one makes it
//   present); `remove=uninstaller` needs `uninstall`; `delete` lines need
//   `remove=delete`, which needs `uninstall` or a `delete` line.
// - An entry with anything else (no or a bad name, an unknown key, a line
//   without '=', an empty value, a control character, a key twice, a rule
//   above broken) is skipped, up to the next `[` line. A file that is not
//   UTF-8, or whose first line other than a comment does not start with `[`,
//   is skipped whole.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cleanapi {

// One database file as the caller hands it over (cleanapi.cpp's exports).
struct DatabaseEntry {
  const char* fileName;  // UTF-8, e.g. "db\av.db"
  const char* content;   // the file's bytes and one NUL
};

enum class Removal { kNone, kUninstaller, kDelete };

struct Application {
  std::string name;         // the identifier
  std::string displayName;  // the identifier when the entry names none
  std::uint32_t category = 0;
  std::string uninstallKey;  // empty: not detected by a key
  std::string file;          // empty: not detected by a file
  Removal removal = Removal::kNone;
  std::vector<std::string> deletePaths;
  bool operator==(const Application&) const = default;
};

struct Catalog {
  std::vector<Application> applications;  // in the order the files hold them
  // For the trace, in order: per file one line that it was read (or why it
  // was skipped whole), then one per entry of it that was skipped.
  std::vector<std::string> lines;
};

// Reads every file of `table`; an entry with a null name or content is
// skipped as a malformed file. Throws only std::bad_alloc.
Catalog ReadCatalog(std::span<const DatabaseEntry> table);

}  // namespace cleanapi
