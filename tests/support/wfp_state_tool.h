// The filtering engine seen from another process: bin/standins/wfpstate.exe.
#pragma once

#include <string>

namespace qvrtest {

// "EXIT_CODE OUTPUT" of `wfpstate ARGUMENTS`, with WFP_STANDIN_FAULT set to
// `fault` for that process only (none when null).
std::string RunWfpState(const std::string& arguments, const wchar_t* fault = nullptr);

// The objects of the product's provider as `wfpstate count` prints them.
std::string ProductWfpObjects();

}  // namespace qvrtest
