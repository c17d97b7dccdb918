#include "Custom_Actions/qvrinst/exception_boundary.h"

#include "Custom_Actions/qvrinst/crash_dump.h"

#include <exception>

namespace qvr {
const char* DescribeCurrentException() noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

void ReportCaughtException(const wchar_t* operation, BoundaryReport& report) noexcept {
  WriteRequestedDump();
  try {
    report.Write(operation, DescribeCurrentException());
  } catch (...) {
    // A report that throws (a host's sink) has nothing left to tell it to.
  }
}

}  // namespace qvr
