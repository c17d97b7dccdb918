#include "signcheck_lib/check_qsig_signature.h"

#include <windows.h>

#include <exception>
#include <mutex>

#include "component/oxa/trace/failed_check.h"
#include "signcheck_lib/qsig_library.h"
#include "signcheck_lib/verification_library.h"

namespace qvr {
namespace {

using oxa::CheckSite;

constexpr char kTag[] = "signcheck\t";

struct QsigFunctions {
  QsigInitializeFn initialize = nullptr;
  QsigUninitializeFn uninitialize = nullptr;
  QsigCreateListFn createList = nullptr;
  QsigDestroyListFn destroyList = nullptr;
  QsigResetListFn resetList = nullptr;
  QsigAddKeyRegistryFn addKeyRegistry = nullptr;
  QsigLoadRegistriesFn loadRegistries = nullptr;
  QsigPrepareTargetFn prepareTarget = nullptr;
  QsigAddHashingPropFn addHashingProp = nullptr;
  QsigCheckFn check = nullptr;
};

// The library and its use count, under the module's lock.
std::mutex g_qsigLock;
int g_qsigUses = 0;
oxa::ModuleHandle g_qsigLibrary;
QsigFunctions g_qsig;

bool BindQsig(const oxa::ModuleHandle& library, QsigFunctions& f) {
  f.initialize = BindExport<QsigInitializeFn>(library, "QsigInitialize");
  f.uninitialize = BindExport<QsigUninitializeFn>(library, "QsigUninitialize");
  f.createList = BindExport<QsigCreateListFn>(library, "QsigCreateList");
  f.destroyList = BindExport<QsigDestroyListFn>(library, "QsigDestroyList");
  f.resetList = BindExport<QsigResetListFn>(library, "QsigResetList");
  f.addKeyRegistry = BindExport<QsigAddKeyRegistryFn>(library, "QsigAddKeyRegistry");
  f.loadRegistries = BindExport<QsigLoadRegistriesFn>(library, "QsigLoadRegistries");
  f.prepareTarget = BindExport<QsigPrepareTargetFn>(library, "QsigPrepareTarget");
  f.addHashingProp = BindExport<QsigAddHashingPropFn>(library, "QsigAddHashingProp");
  f.check = BindExport<QsigCheckFn>(library, "QsigCheck");
  return f.initialize && f.uninitialize && f.createList && f.destroyList && f.resetList && f.addKeyRegistry &&
         f.loadRegistries && f.prepareTarget && f.addHashingProp && f.check;
}

// One use of the QSIG library: the first use in the process loads and
// initialises it, the last releases it.
class QsigLibraryUse {
 public:
  QsigLibraryUse() {
    const std::lock_guard<std::mutex> hold(g_qsigLock);
    if (g_qsigUses == 0) {
      oxa::ModuleHandle library = LoadVerificationLibrary(kQsigLibraryName);
      QsigFunctions functions;
      if (!library || !BindQsig(library, functions) || functions.initialize() != kQsigSucceeded) return;
      g_qsigLibrary = std::move(library);
      g_qsig = functions;
    }
    ++g_qsigUses;
    valid_ = true;
  }
  ~QsigLibraryUse() {
    if (!valid_) return;
    const std::lock_guard<std::mutex> hold(g_qsigLock);
    if (--g_qsigUses > 0) return;
    g_qsig.uninitialize();
    g_qsig = {};
    g_qsigLibrary.Reset();
  }
  QsigLibraryUse(const QsigLibraryUse&) = delete;
  QsigLibraryUse& operator=(const QsigLibraryUse&) = delete;

  bool IsValid() const { return valid_; }
  // While valid, the library stays bound.
  const QsigFunctions& Functions() const { return g_qsig; }

 private:
  bool valid_ = false;
};

// A parameter list of the library, destroyed with the scope.
class QsigParameterList {
 public:
  explicit QsigParameterList(const QsigFunctions& functions) : functions_(functions) {
    if (functions_.createList(&list_) != kQsigSucceeded) list_ = nullptr;
  }
  ~QsigParameterList() {
    if (list_) functions_.destroyList(list_);
  }
  QsigParameterList(const QsigParameterList&) = delete;
  QsigParameterList& operator=(const QsigParameterList&) = delete;

  bool IsValid() const { return list_ != nullptr; }
  bool Reset() { return functions_.resetList(list_) == kQsigSucceeded; }
  QsigList* Get() const { return list_; }

 private:
  const QsigFunctions& functions_;
  QsigList* list_ = nullptr;
};

constexpr char kSucceededExpression[] = "(!((qsigResult)^0xe9ba5770U))";

bool Check(oxa::ITracer* tracer, const CheckedFile& file, const KeyBlob& keyA, const KeyBlob& keyB) {
  std::vector<std::uint8_t> storage;
  if (const oxa::ResultCode read = ReadFile(tracer, file, storage); OXA_FAILED(read)) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigReadFile, "ReadFile(tracer, targetFilePath, fileData)", read)
        << kTag << "Failed read file " << file.path;
    return false;
  }
  const QsigLibraryUse qsig;
  if (!qsig.IsValid()) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigLibrary, "qsig.IsValid()")
        << kTag << "Can not initialize QSIG library";
    return false;
  }
  const QsigFunctions& library = qsig.Functions();
  QsigParameterList qsigList(library);
  if (!qsigList.IsValid()) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigList, "qsigList.IsValid()")
        << kTag << "Can not create QSIG parameters list";
    return false;
  }
  std::uint32_t qsigResult = library.addKeyRegistry(qsigList.Get(), keyA.data.data(), keyA.data.size());
  if (qsigResult == kQsigSucceeded) {
    qsigResult = library.addKeyRegistry(qsigList.Get(), keyB.data.data(), keyB.data.size());
  }
  if (qsigResult == kQsigSucceeded) qsigResult = library.loadRegistries(qsigList.Get());
  if (qsigResult != kQsigSucceeded) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigRegistries, kSucceededExpression)
        << kTag << "Registries are incorrect, err: " << oxa::TraceResult(static_cast<oxa::ResultCode>(qsigResult));
    return false;
  }
  if (!qsigList.Reset()) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigListReset, "qsigList.Reset()")
        << kTag << "Can not recreate QSIG parameters list";
    return false;
  }
  // A file without a well-formed trailer is a target all the same: its
  // check below fails.
  const std::uint32_t err = library.prepareTarget(qsigList.Get(), storage.data(), storage.size());
  if (err != kQsigSucceeded && err != kQsigFileCorrupted) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigPrepareTarget, "err == Succeeded || err == FileCorrupted")
        << kTag << "Failed to prepare target buffer";
    return false;
  }
  qsigResult = library.addHashingProp(qsigList.Get(), file.path.c_str());
  if (qsigResult != kQsigSucceeded) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigHashingProp, kSucceededExpression)
        << kTag << "Add hashing prop failed, err: " << oxa::TraceResult(static_cast<oxa::ResultCode>(qsigResult));
    return false;
  }
  qsigResult = library.check(qsigList.Get());
  if (qsigResult != kQsigSucceeded) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigCheck, kSucceededExpression)
        << kTag << "Qsig check result: " << oxa::TraceResult(static_cast<oxa::ResultCode>(qsigResult));
    return false;
  }
  return true;
}

}  // namespace

oxa::ResultCode ReadFile(oxa::ITracer* tracer, const CheckedFile& targetFilePath, std::vector<std::uint8_t>& fileData) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(targetFilePath.handle, &size)) {
    const oxa::ResultCode failed = oxa::ResultFromWin32Error(GetLastError());
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigFileSize, "file.GetSize(size)", failed)
        << kTag << "Can determine file size " << targetFilePath.path;
    return failed;
  }
  if (!(size.QuadPart > 0 && size.QuadPart <= 0xFFFFFFFFLL)) {
    oxa::FailedCheckRecord(tracer, CheckSite::kQsigFileSizeRange,
                           "size > 0 && size <= std::numeric_limits<oxa::blob_t::size_type>::max()")
        << kTag << "Invalid file size " << size.QuadPart;
    return oxa::rc::InvalidSize;
  }
  return oxa::ResultFromWin32Error(file_helpers::ReadFileToBuff(targetFilePath.handle, fileData));
}

bool CheckQsigFile(oxa::ITracer* tracer, const CheckedFile& file, const KeyBlob& keyA, const KeyBlob& keyB) {
  try {
    return Check(tracer, file, keyA, keyB);
  } catch (const std::exception&) {
    // Out of memory: the signature is not known to be valid.
    return false;
  }
}

}  // namespace qvr
