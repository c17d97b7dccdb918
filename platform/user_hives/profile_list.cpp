#include "platform/user_hives/profile_list.h"

#include "component/oxa/system/file/path.h"
#include "component/oxa/trace/failed_check.h"
#include "platform/user_hives/account_type.h"
#include "platform/util/scoped_reg_key.h"

namespace qvr {
namespace {

constexpr wchar_t kProfileListKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The expressions of the failed-check records, as their positions know them.
constexpr char kOpenListExpression[] =
    R"x(profilesListKey.Open((( HKEY ) (ULONG_PTR)((LONG)0x80000002) ), uR"(Software\Microsoft\Windows NT\CurrentVersion\ProfileList)"))x";
constexpr char kOpenProfileExpression[] = R"(profileKey.Open(root, (parentKey + u"\\" + subKeyName).c_str()))";
constexpr char kAccountTypeExpression[] = "GetAccountType(subKeyName, sidType)";
constexpr char kImagePathExpression[] = R"(profileKey.QueryValue(u"ProfileImagePath", profileImagePath, true))";

oxa::ResultCode ExpandReferences(const std::wstring& text, std::wstring& expanded) {
  expanded.assign(text.size() + 1, L'\0');
  for (;;) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    if (needed == 0) return oxa::ResultFromWin32Error(GetLastError());
    if (needed <= expanded.size()) {
      expanded.resize(needed - 1);
      return oxa::rc::Ok;
    }
    expanded.assign(needed, L'\0');
  }
}

// ProfileImagePath, expanded; an empty one names no folder.
oxa::ResultCode ReadProfileFolder(const ScopedRegKey& profileKey, std::wstring& folder) {
  std::wstring text;
  const LONG read = profileKey.ReadString(L"ProfileImagePath", StringPolicy::kSzOrExpandSz, text);
  if (read != ERROR_SUCCESS) return oxa::ResultFromWin32Error(read);
  if (text.empty()) return oxa::rc::InvalidSize;
  return ExpandReferences(text, folder);
}

}  // namespace

oxa::ResultCode GetProfilesList(oxa::ITracer* tracer, AccountTypes& accounts, ProfileList& profiles) {
  ScopedRegKey list;
  const LONG opened = list.Open(HKEY_LOCAL_MACHINE, kProfileListKey, KEY_READ);
  if (opened != ERROR_SUCCESS) {
    const oxa::ResultCode code = oxa::ResultFromWin32Error(opened);
    oxa::FailedCheckRecord(tracer, oxa::CheckSite::kProfileListOpen, kOpenListExpression, code)
        << "Failed to read profiles list";
    return code;
  }
  const LONG listed = list.VisitSubKeyNames(
      256,
      [&](const std::wstring& sid) {
        ScopedRegKey profileKey;
        if (const LONG result = list.OpenChild(sid.c_str(), KEY_READ, profileKey); result != ERROR_SUCCESS) {
          oxa::FailedCheckRecord(tracer, oxa::CheckSite::kProfileOpen, kOpenProfileExpression,
                                 oxa::ResultFromWin32Error(result))
              << "Failed to open a profiles list subkey " << sid;
          return true;
        }
        SID_NAME_USE sidType = SidTypeUnknown;
        if (const oxa::ResultCode code = accounts.Lookup(tracer, sid, sidType); OXA_FAILED(code)) {
          oxa::FailedCheckRecord(tracer, oxa::CheckSite::kProfileAccountType, kAccountTypeExpression, code)
              << "Failed to obtain account type";
          return true;
        }
        if (sidType != SidTypeUser) {
          OXA_TRACE_TO(tracer, oxa::kTraceNotice) << "Skip not user profile " << sid;
          return true;
        }
        UserProfile profile;
        if (const oxa::ResultCode code = ReadProfileFolder(profileKey, profile.folder); OXA_FAILED(code)) {
          oxa::FailedCheckRecord(tracer, oxa::CheckSite::kProfileImagePath, kImagePathExpression, code)
              << "Failed to obtain profile path for " << sid;
          return true;
        }
        profile.hiveFile = oxa::JoinPath(profile.folder, L"ntuser.dat");
        profiles[sid] = std::move(profile);
        return true;
      },
      // A name too long for the buffer is no identifier.
      [](LONG error) { return error == ERROR_MORE_DATA; });
  return oxa::ResultFromWin32Error(listed);
}

}  // namespace qvr
