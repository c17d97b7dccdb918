// The QSIG check of a file against the two product root keys, over the QSIG
// library qsigverify.dll (signcheck_lib/qsig_library.h).
#pragma once

#include <cstdint>
#include <vector>

#include "component/oxa/result_code.h"
#include "component/oxa/trace/tracer.h"
#include "signcheck_lib/file_helpers.h"

namespace qvr {

// A key resource of the module: its id and its bytes.
struct KeyBlob {
  std::uint32_t id;
  std::vector<std::uint8_t> data;
};

// The content of `targetFilePath` (the file under check) into `fileData`:
// its size must be above 0 and fit 32 bits (else rc::InvalidSize). Each
// failure is traced at level 300 on `tracer` ("signcheck\t" and why).
oxa::ResultCode ReadFile(oxa::ITracer* tracer, const CheckedFile& targetFilePath, std::vector<std::uint8_t>& fileData);

// True exactly when the QSIG library answers success for the file's
// signature under one of the two keys. The library is loaded and
// initialised by the first check that runs in the process and released by
// the last. Every failure is traced at level 300 on `tracer`. Never throws.
bool CheckQsigFile(oxa::ITracer* tracer, const CheckedFile& file, const KeyBlob& keyA, const KeyBlob& keyB);

}  // namespace qvr
