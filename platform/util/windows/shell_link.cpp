#include "platform/util/windows/shell_link.h"

#include <objbase.h>
#include <shobjidl.h>

#include <optional>

#include "component/oxa/exception/exception.h"
#include "component/oxa/system/unique_handle.h"
#include "log/log_sink.h"
#include "platform/util/windows/com_apartment.h"

namespace qvr {
namespace {

HRESULT SetIconInApartment(LogSink* sink, const std::wstring& lnkPath, const std::wstring& iconPath) {
  oxa::ComPointer<IShellLinkW> link;
  const HRESULT created = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(link.Receive()));
  if (FAILED(created)) {
    LogLine(sink, kLogError, L"SetShortcutIcon:Warning! call CoCreateInstance %s  was unsuccessful. Error 0x%08X.",
            lnkPath.c_str(), static_cast<unsigned>(created));
    return created;
  }
  oxa::ComPointer<IPersistFile> file;
  if (FAILED(link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive())))) return created;

  HRESULT result = file.Get()->Load(lnkPath.c_str(), STGM_READWRITE | STGM_SHARE_DENY_WRITE);
  if (FAILED(result)) {
    LogLine(sink, kLogError, L"SetShortcutIcon:Warning! call persistFile->Load %s  was unsuccessful. Error 0x%08X.",
            lnkPath.c_str(), static_cast<unsigned>(result));
    return result;
  }
  result = link.Get()->SetIconLocation(iconPath.c_str(), 0);
  if (FAILED(result)) {
    LogLine(sink, kLogError,
            L"SetShortcutIcon:Warning! call shellLink->SetIconLocation %s  was unsuccessful. Error 0x%08X.",
            lnkPath.c_str(), static_cast<unsigned>(result));
    return result;
  }
  result = file.Get()->Save(lnkPath.c_str(), TRUE);
  if (FAILED(result)) {
    LogLine(sink, kLogError, L"SetShortcutIcon:Warning! call persistFile->Save %s  was unsuccessful. Error 0x%08X.",
            lnkPath.c_str(), static_cast<unsigned>(result));
  } else {
    LogLine(sink, kLogInfo, L"SetShortcutIcon: call persistFile->Save  %s  was  successful.", lnkPath.c_str());
  }
  return result;
}

}  // namespace

HRESULT SetShortcutIcon(LogSink* sink, const std::wstring& lnkPath, const std::wstring& iconPath) {
  std::optional<ComApartment> apartment;
  try {
    apartment.emplace();
  } catch (const oxa::Exception& error) {
    LogLine(sink, kLogError, L"SetShortcutIcon: can't initialize COM. Exception occurred: %ls",
            error.GetDescription().c_str());
    return E_UNEXPECTED;
  } catch (...) {
    LogLine(sink, kLogError, L"SetShortcutIcon: can't initialize COM. Unexpected error occured.");
    return E_UNEXPECTED;
  }
  // The interfaces are released before the apartment ends.
  return SetIconInApartment(sink, lnkPath, iconPath);
}

}  // namespace qvr
