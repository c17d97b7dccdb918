#include "Custom_Actions/qvrinst/exception_boundary.h"

#include "Custom_Actions/qvrinst/crash_dump.h"

#include <exception>

namespace qvr {
namespace {

// The text of the exception being handled; no allocation, so that reporting
// a std::bad_alloc cannot fail the same way.
const char* DescribeCurrentException() noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

}  // namespace

void ReportCaughtException(const wchar_t* operation, BoundaryReport& report) noexcept {
  WriteRequestedDump();
  try {
    report.Write(operation, DescribeCurrentException());
  } catch (...) {
    // A report that throws (a host's sink) has nothing left to tell it to.
  }
}

}  // namespace qvr
