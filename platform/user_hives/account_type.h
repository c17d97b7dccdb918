// The kind of account behind a profile's security identifier.
#pragma once

#include <windows.h>

#include <string>

#include "component/oxa/result_code.h"
#include "component/oxa/trace/tracer.h"

namespace qvr {

// GetAccountType: `sidType` of the identifier in string form as the system
// names it (SidTypeUnknown until it is known). A text that is no identifier
// or an account the system cannot name gives the converted Windows error and
// a level-500 record on `tracer`.
oxa::ResultCode GetAccountType(oxa::ITracer* tracer, const std::wstring& sid, SID_NAME_USE& sidType);

// Where the profile list learns the account types: the system (GetAccountType)
// in the module; tests declare accounts of their own through it.
class AccountTypes {
 public:
  virtual oxa::ResultCode Lookup(oxa::ITracer* tracer, const std::wstring& sid, SID_NAME_USE& sidType) = 0;

 protected:
  ~AccountTypes() = default;
};

AccountTypes& SystemAccountTypes();

}  // namespace qvr
