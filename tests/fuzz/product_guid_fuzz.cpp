// The product GUID parser on arbitrary text: either a GUID whose canonical
// text parses back to it, or a GUID syntax error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "component/oxa/exception/exception.h"
#include "platform/product_info/product_info_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  try {
    const qvr::ProductGuid guid = qvr::ParseProductGuid(text);
    wchar_t canonical[40];
    std::swprintf(canonical, 40, L"%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    if (!(qvr::ParseProductGuid(canonical) == guid)) std::abort();
  } catch (const oxa::ResultCodeException& error) {
    if (error.GetResultCode() != oxa::rc::GuidSyntaxError) std::abort();
  }
  return 0;
}
