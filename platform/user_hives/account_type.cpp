#include "platform/user_hives/account_type.h"

#include <sddl.h>

#include "component/oxa/system/unique_handle.h"

namespace qvr {

oxa::ResultCode GetAccountType(oxa::ITracer* tracer, const std::wstring& sid, SID_NAME_USE& sidType) {
  sidType = SidTypeUnknown;
  PSID converted = nullptr;
  if (!ConvertStringSidToSidW(sid.c_str(), &converted)) {
    const oxa::ResultCode code = oxa::ResultFromWin32Error(GetLastError());
    OXA_TRACE_TO(tracer, oxa::kTraceNotice)
        << "Failed convert profile sid " << sid << ", err: " << oxa::TraceResult(code);
    return code;
  }
  const oxa::LocalMemory owner(converted);
  char name[MAX_PATH];
  char domain[MAX_PATH];
  DWORD nameChars = MAX_PATH;
  DWORD domainChars = MAX_PATH;
  if (!LookupAccountSidA(nullptr, converted, name, &nameChars, domain, &domainChars, &sidType)) {
    const oxa::ResultCode code = oxa::ResultFromWin32Error(GetLastError());
    OXA_TRACE_TO(tracer, oxa::kTraceNotice) << "Failed to lookup account sid, err: " << oxa::TraceResult(code);
    return code;
  }
  return oxa::rc::Ok;
}

AccountTypes& SystemAccountTypes() {
  class System final : public AccountTypes {
   public:
    oxa::ResultCode Lookup(oxa::ITracer* tracer, const std::wstring& sid, SID_NAME_USE& sidType) override {
      return GetAccountType(tracer, sid, sidType);
    }
  };
  static System system;
  return system;
}

}  // namespace qvr
