// COM on the calling thread for the length of a scope.
#pragma once

#include <windows.h>

namespace qvr {

// Initialises COM as a single-threaded apartment. A thread already
// initialised in either mode is accepted (RPC_E_CHANGED_MODE leaves its
// apartment as it is); any other failure throws oxa::SystemException with
// the result and "CoInitialize return error code". The scope uninitialises
// COM only when its own initialisation counted (S_OK or S_FALSE).
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialized_ = false;
};

}  // namespace qvr
