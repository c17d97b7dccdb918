#include "platform/util/windows/com_apartment.h"

#include <objbase.h>

#include "component/oxa/exception/exception.h"

namespace qvr {

ComApartment::ComApartment() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (result == S_OK || result == S_FALSE) {
    initialized_ = true;
  } else if (result != RPC_E_CHANGED_MODE) {
    throw oxa::SystemException(static_cast<oxa::ResultCode>(result), __FILE__, __LINE__,
                               L"CoInitialize return error code");
  }
}

ComApartment::~ComApartment() {
  if (initialized_) CoUninitialize();
}

}  // namespace qvr
