#include "tests/support/shell_links.h"

#include <windows.h>
// shobjidl.h needs the Windows types.
#include <objbase.h>
#include <shobjidl.h>

#include "component/oxa/system/unique_handle.h"
#include "platform/util/windows/com_apartment.h"

namespace qvrtest {
namespace {

// A new shell link object and its file interface (null when COM fails), inside the apartment.
struct ShellLink {
  ShellLink() {
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(link.Receive()))))
      link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive()));
  }
  qvr::ComApartment apartment;
  oxa::ComPointer<IShellLinkW> link;
  oxa::ComPointer<IPersistFile> file;
};

}  // namespace

bool MakeShortcut(const std::wstring& path, const std::wstring& target) {
  ShellLink shell;
  return shell.file && SUCCEEDED(shell.link.Get()->SetPath(target.c_str())) &&
         SUCCEEDED(shell.file.Get()->Save(path.c_str(), TRUE));
}

std::wstring ShortcutIcon(const std::wstring& path) {
  ShellLink shell;
  wchar_t icon[MAX_PATH] = {};
  int index = -1;
  const bool read = shell.file && SUCCEEDED(shell.file.Get()->Load(path.c_str(), STGM_READ)) &&
                    SUCCEEDED(shell.link.Get()->GetIconLocation(icon, MAX_PATH, &index));
  return read ? std::wstring(icon) + L"," + std::to_wstring(index) : L"<cannot load>";
}

}  // namespace qvrtest
