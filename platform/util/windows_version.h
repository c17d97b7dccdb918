// Version of the running Windows, with its update build revision (UBR).
#pragma once

#include <cstdint>

#include "component/oxa/result_code.h"

namespace qvr {

struct WindowsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t servicePackMajor = 0;
  std::uint32_t updateBuildRevision = 0;
};

// Asks the system once per process (RtlGetVersion, which unlike GetVersionEx
// is not shimmed) and answers every later call from that first outcome. The
// UBR is 0 when the registry does not record one.
oxa::ResultCode GetWindowsVersion(WindowsVersion& version);

}  // namespace qvr
