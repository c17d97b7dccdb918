// The edges where the module meets its callers: the exports and the slots of
// the installer interface. No exception crosses them: mingw's runtime cannot
// unwind through the caller's frames (the i686 one not even through the
// installer engine's), so an exception that left would end the process in
// std::terminate before any crash dump filter ran.
#pragma once

namespace qvr {

// Where the line about an exception caught at an edge goes.
class BoundaryReport {
 public:
  // `operation` names the edge, `description` is the exception's text.
  virtual void Write(const wchar_t* operation, const char* description) = 0;

 protected:
  ~BoundaryReport() = default;
};

// Called inside a catch handler: the text of the exception being handled.
// It allocates nothing, so that describing a std::bad_alloc cannot fail.
const char* DescribeCurrentException() noexcept;

// Called inside a catch handler: writes the dump the crash dump filter writes
// on request, then the report's line. Nothing it does throws out of it.
void ReportCaughtException(const wchar_t* operation, BoundaryReport& report) noexcept;

// Runs `body` at an edge: its result, or `failure` after the report when it
// throws.
template <class Result, class Body>
Result RunAtEdge(const wchar_t* operation, Result failure, BoundaryReport& report, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    ReportCaughtException(operation, report);
    return failure;
  }
}

}  // namespace qvr
