// The module table entry of a loaded module: path, CodeView debug identity,
// load address and image size, read from the mapped image.
#pragma once

#include <windows.h>

#include "component/oxa/exception/exception_details.h"
#include "component/oxa/result_code.h"

namespace oxa {

// Fails (0x8000005A, 0x8000005C, or the converted Windows error) when the
// image headers or the debug record are not sound; a module without a debug
// directory reads with an empty identity.
ResultCode ReadModuleInfo(HMODULE module, ExceptionModule& info);

// The module that holds `address`, without taking a reference on it.
ResultCode ReadModuleInfoForAddress(std::uint64_t address, ExceptionModule& info);

}  // namespace oxa
