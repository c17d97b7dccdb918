// The WFP manager: registers the product's provider, sublayer, callouts and
// boot-time filters in the base filtering engine in one transaction, and
// removes them by enumeration. Both operations report the engine's own
// error code and throw nothing.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace wfpmgr {

// A failed engine call: "<call> failed with error code <code in lower-case
// hexadecimal>". It never leaves the manager's operations.
class WfpException : public std::exception {
 public:
  WfpException(const char* call, std::uint32_t code);
  const char* what() const noexcept override { return message_.c_str(); }
  std::uint32_t Code() const noexcept { return code_; }

 private:
  std::uint32_t code_;
  std::string message_;
};

// 0, or the code of the engine call that failed; a failure leaves nothing of
// the run registered. Objects registered already make the provider's
// addition fail (FWP_E_ALREADY_EXISTS).
std::uint32_t WfpmgrInstallEx2() noexcept;

// Removes every filter, callout and sublayer of the product's provider, and
// the provider. 0, or the code of opening the engine or of the commit: a
// failed enumeration or deletion is only traced.
std::uint32_t WfpMgrRemoveByEnumerate() noexcept;

}  // namespace wfpmgr
