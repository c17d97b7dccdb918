#include "cabinet/cabinet.h"

#include "cabinet/stored_name.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "component/oxa/exception/exception.h"
#include "component/oxa/system/file/detail/filesystem_impl.h"
#include "component/oxa/system/file/path.h"
#include "component/oxa/system/unique_handle.h"
#include "component/oxa/text/utf.h"
#include "component/oxa/trace/tracer.h"

namespace qvr {
namespace {

constexpr std::int32_t kExtractionException = static_cast<std::int32_t>(0x80004005u);  // E_FAIL
// Answers to FDI's notifications and callbacks.
constexpr INT_PTR kSkipFile = 0;
constexpr INT_PTR kAbort = -1;
constexpr UINT kTransferFailed = static_cast<UINT>(-1);

constexpr const wchar_t* kFdiErrorTexts[] = {
    L"No error",
    L"Cabinet not found",
    L"Not a cabinet",
    L"Unknown cabinet version",
    L"Corrupt cabinet",
    L"Memory allocation failed",
    L"Unknown compression type",
    L"Failure decompressing data",
    L"Failure writing to target file",
    L"Cabinets in set have different RESERVE sizes",
    L"Cabinet returned on fdintNEXT_CABINET is incorrect",
    L"Aborted",
};

// What an FDI file handle stands for: the cabinet read or a file written.
// The operations return Windows errors and throw nothing.
class Stream {
 public:
  virtual ~Stream() = default;
  virtual DWORD Read(void* buffer, DWORD count, DWORD& done) = 0;
  virtual DWORD Write(const void* buffer, DWORD count, DWORD& done) = 0;
  virtual DWORD Seek(LONG distance, DWORD method, DWORD& position) = 0;

  // The first failed write: FDI does not stop at it (Wine's ignores what a
  // write answers), so the extraction asks when the file is closed.
  DWORD WriteError() const noexcept { return write_error_; }
  void RecordWriteError(DWORD error) noexcept {
    if (write_error_ == ERROR_SUCCESS) write_error_ = error;
  }

 private:
  DWORD write_error_ = ERROR_SUCCESS;
};

class FileStream final : public Stream {
 public:
  explicit FileStream(std::unique_ptr<oxa::File> file) noexcept : file_(std::move(file)) {}
  DWORD Read(void* buffer, DWORD count, DWORD& done) override { return file_->Read(buffer, count, done); }
  DWORD Write(const void* buffer, DWORD count, DWORD& done) override { return file_->Write(buffer, count, done); }
  DWORD Seek(LONG distance, DWORD method, DWORD& position) override { return file_->Seek(distance, method, position); }

 private:
  std::unique_ptr<oxa::File> file_;
};

// A cabinet held in the caller's memory, read-only.
class MemoryStream final : public Stream {
 public:
  explicit MemoryStream(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

  DWORD Read(void* buffer, DWORD count, DWORD& done) override {
    const std::size_t available = bytes_.size() - std::min(position_, bytes_.size());
    done = static_cast<DWORD>(std::min<std::size_t>(count, available));
    if (done != 0) std::memcpy(buffer, bytes_.data() + position_, done);
    position_ += done;
    return ERROR_SUCCESS;
  }
  DWORD Write(const void*, DWORD, DWORD& done) override {
    done = 0;
    return ERROR_ACCESS_DENIED;
  }
  // As a file's pointer: it may stand past the end, where reads give nothing.
  DWORD Seek(LONG distance, DWORD method, DWORD& position) override {
    std::int64_t origin = 0;
    switch (method) {
      case FILE_BEGIN:
        break;
      case FILE_CURRENT:
        origin = static_cast<std::int64_t>(position_);
        break;
      case FILE_END:
        origin = static_cast<std::int64_t>(bytes_.size());
        break;
      default:
        return ERROR_INVALID_PARAMETER;
    }
    const std::int64_t target = origin + distance;
    if (target < 0) return ERROR_NEGATIVE_SEEK;
    position_ = static_cast<std::size_t>(target);
    position = static_cast<DWORD>(target);
    return ERROR_SUCCESS;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// The content of one entry of the in-memory list, which FDI writes from its
// start to its end. The entry is named by its index: the list grows while
// later files arrive.
class ContentStream final : public Stream {
 public:
  ContentStream(std::vector<CabMemoryFile>& files, std::size_t index) noexcept : files_(files), index_(index) {}

  DWORD Read(void*, DWORD, DWORD& done) override {
    done = 0;
    return ERROR_ACCESS_DENIED;
  }
  DWORD Write(const void* buffer, DWORD count, DWORD& done) override {
    done = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    try {
      std::vector<std::uint8_t>& content = files_[index_].content;
      content.insert(content.end(), bytes, bytes + count);
    } catch (const std::exception&) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    done = count;
    return ERROR_SUCCESS;
  }
  DWORD Seek(LONG, DWORD, DWORD&) override { return ERROR_NOT_SUPPORTED; }

 private:
  std::vector<CabMemoryFile>& files_;
  std::size_t index_;
};

// Where the accepted files go.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // A stream for the file stored as `name`; null, with the Windows error in
  // `error`, when none can be made.
  virtual std::unique_ptr<Stream> Open(const std::wstring& name, DWORD& error) = 0;
};

// Files below a destination folder, created with their folders; a file in
// the way is replaced, also one in use.
class FileSink final : public OutputSink {
 public:
  explicit FileSink(const std::wstring& folder) : folder_(folder) {}

  std::unique_ptr<Stream> Open(const std::wstring& name, DWORD& error) override {
    const std::optional<std::wstring> relative = PathInsideFolder(name);
    if (!relative) {
      error = ERROR_INVALID_NAME;
      return nullptr;
    }
    std::unique_ptr<oxa::File> file;
    error = file_system_.OpenFile(oxa::JoinPath(folder_, *relative), GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file);
    if (error != ERROR_SUCCESS) return nullptr;
    return std::make_unique<FileStream>(std::move(file));
  }

 private:
  oxa::FileSystem file_system_;
  std::wstring folder_;
};

class MemorySink final : public OutputSink {
 public:
  explicit MemorySink(std::vector<CabMemoryFile>& files) noexcept : files_(files) {}

  std::unique_ptr<Stream> Open(const std::wstring& name, DWORD&) override {
    files_.push_back({name, {}});
    return std::make_unique<ContentStream>(files_, files_.size() - 1);
  }

 private:
  std::vector<CabMemoryFile>& files_;
};

// One FDICopy: its notifications, the streams FDI holds, and what went wrong
// inside a callback. Callbacks run inside cabinet.dll, which no exception
// may cross: one that arises is kept, FDI is told to abort, and Run throws
// it once FDICopy has returned.
class Extraction {
 public:
  // Without `memoryCabinet` the cabinet is the file FDI opens. Without a
  // sink it is a listing, and `filter` is its visitor.
  Extraction(std::optional<std::span<const std::uint8_t>> memoryCabinet, OutputSink* sink,
             const CabFileFilter& filter) noexcept
      : memory_cabinet_(memoryCabinet), sink_(sink), filter_(filter) {}
  Extraction(const Extraction&) = delete;
  Extraction& operator=(const Extraction&) = delete;

  void Run(std::string cabinetName, CabResult& result) {
    const CurrentScope current(this);
    const oxa::FdiContext context(FDICreate(Allocate, Free, OpenCallback, ReadCallback, WriteCallback, CloseCallback,
                                            SeekCallback, cpuUNKNOWN, &result.fdiError));
    if (!context) {
      result.failed = true;
      return;
    }
    char noCabinetPath[] = "";
    const BOOL copied = FDICopy(context.Get(), cabinetName.data(), noCabinetPath, 0, NotifyCallback, nullptr, this);
    if (exception_) std::rethrow_exception(exception_);
    if (output_error_ != ERROR_SUCCESS) result.nativeCode = static_cast<std::int32_t>(output_error_);
    result.failed = !copied || output_error_ != ERROR_SUCCESS;
  }

 private:
  // FDI's open and close callbacks get no user pointer: they find the
  // extraction that runs on their thread here.
  static thread_local Extraction* current_;
  class CurrentScope {
   public:
    explicit CurrentScope(Extraction* extraction) noexcept : previous_(std::exchange(current_, extraction)) {}
    ~CurrentScope() { current_ = previous_; }
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;

   private:
    Extraction* previous_;
  };

  static Stream& StreamOf(INT_PTR handle) noexcept { return *reinterpret_cast<Stream*>(handle); }

  static void* DIAMONDAPI Allocate(ULONG size) { return std::malloc(size); }
  static void DIAMONDAPI Free(void* block) { std::free(block); }
  static INT_PTR DIAMONDAPI OpenCallback(char* name, int, int) { return current_->OpenCabinet(name); }
  static int DIAMONDAPI CloseCallback(INT_PTR handle) { return current_->Release(handle) ? 0 : -1; }
  static UINT DIAMONDAPI ReadCallback(INT_PTR handle, void* buffer, UINT count) {
    DWORD done = 0;
    return StreamOf(handle).Read(buffer, count, done) == ERROR_SUCCESS ? done : kTransferFailed;
  }
  static UINT DIAMONDAPI WriteCallback(INT_PTR handle, void* buffer, UINT count) {
    DWORD done = 0;
    const DWORD error = StreamOf(handle).Write(buffer, count, done);
    if (error == ERROR_SUCCESS) return done;
    StreamOf(handle).RecordWriteError(error);
    return kTransferFailed;
  }
  // FDI's seek types (SEEK_SET, SEEK_CUR, SEEK_END) are the file methods.
  static LONG DIAMONDAPI SeekCallback(INT_PTR handle, LONG distance, int type) {
    DWORD position = 0;
    if (StreamOf(handle).Seek(distance, static_cast<DWORD>(type), position) != ERROR_SUCCESS) return -1;
    return static_cast<LONG>(position);
  }
  static INT_PTR DIAMONDAPI NotifyCallback(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification) {
    return static_cast<Extraction*>(notification->pv)->Notify(type, *notification);
  }

  INT_PTR OpenCabinet(const char* name) noexcept {
    try {
      if (memory_cabinet_) return Adopt(std::make_unique<MemoryStream>(*memory_cabinet_));
      std::unique_ptr<oxa::File> file;
      if (file_system_.OpenFile(oxa::ToUtf16(name), GENERIC_READ, OPEN_EXISTING, nullptr, &file) != ERROR_SUCCESS)
        return -1;
      return Adopt(std::make_unique<FileStream>(std::move(file)));
    } catch (...) {
      KeepException();
      return -1;
    }
  }

  INT_PTR Notify(FDINOTIFICATIONTYPE type, const FDINOTIFICATION& notification) noexcept {
    try {
      switch (type) {
        case fdintCOPY_FILE:
          return CopyFile(notification);
        case fdintCLOSE_FILE_INFO:
          return CloseOutput(notification.hf);
        // Only one cabinet is read: a file that goes on in the next one ends the extraction.
        case fdintNEXT_CABINET:
          return kAbort;
        default:
          return 0;  // fdintCABINET_INFO, fdintPARTIAL_FILE, fdintENUMERATE
      }
    } catch (...) {
      KeepException();
      return kAbort;
    }
  }

  INT_PTR CopyFile(const FDINOTIFICATION& file) {
    const std::wstring name = oxa::ToUtf16(file.psz1);
    // FDI hands the stored 32-bit unsigned size over as a signed long.
    const std::int64_t size = static_cast<std::uint32_t>(file.cb);
    if (!sink_) return !filter_ || filter_(name, size) ? kSkipFile : kAbort;
    if (output_error_ != ERROR_SUCCESS) return kAbort;  // a write failed that FDI went on after
    if (filter_ && !filter_(name, size)) return kSkipFile;
    DWORD error = ERROR_SUCCESS;
    std::unique_ptr<Stream> stream = sink_->Open(name, error);
    if (!stream) {
      RecordOutputError(error);
      return kAbort;
    }
    return Adopt(std::move(stream));
  }

  // File dates and attributes stored in the cabinet are not applied.
  INT_PTR CloseOutput(INT_PTR handle) noexcept {
    const DWORD write_error = StreamOf(handle).WriteError();
    Release(handle);
    if (write_error == ERROR_SUCCESS) return TRUE;
    RecordOutputError(write_error);
    return FALSE;
  }

  INT_PTR Adopt(std::unique_ptr<Stream> stream) {
    streams_.push_back(std::move(stream));
    return reinterpret_cast<INT_PTR>(streams_.back().get());
  }
  bool Release(INT_PTR handle) noexcept {
    const auto held = std::find_if(streams_.begin(), streams_.end(), [handle](const auto& stream) {
      return reinterpret_cast<INT_PTR>(stream.get()) == handle;
    });
    if (held == streams_.end()) return false;
    streams_.erase(held);
    return true;
  }

  void RecordOutputError(DWORD error) noexcept {
    if (output_error_ == ERROR_SUCCESS) output_error_ = error;
  }
  void KeepException() noexcept {
    if (!exception_) exception_ = std::current_exception();
  }

  std::optional<std::span<const std::uint8_t>> memory_cabinet_;
  OutputSink* sink_;
  const CabFileFilter& filter_;
  oxa::FileSystem file_system_;
  std::vector<std::unique_ptr<Stream>> streams_;  // those FDI holds open
  DWORD output_error_ = ERROR_SUCCESS;
  std::exception_ptr exception_;
};

thread_local Extraction* Extraction::current_ = nullptr;

class FdiCabExtractor final : public CabExtractor {
 public:
  explicit FdiCabExtractor(oxa::ITracer* tracer)
      : tracer_(oxa::TracerRef::Share(tracer)), cabinet_dll_(LoadLibraryW(L"cabinet.dll")) {
    if (!cabinet_dll_)
      throw oxa::SystemException(oxa::ResultFromWin32Error(GetLastError()), __FILE__, __LINE__,
                                 L"cabinet.dll did not load");
  }

  void ExtractMemoryToFolder(CabResult& result, const void* cabinet, std::size_t size, const std::wstring& folder,
                             const CabFileFilter& filter) override {
    Guarded(result, L"memory", [&] {
      FileSink sink(folder);
      const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(cabinet), cabinet ? size : 0);
      Extraction(bytes, &sink, filter).Run("memory", result);
    });
  }

  void ExtractFileToMemory(CabResult& result, const std::wstring& cabinetPath, std::vector<CabMemoryFile>& files,
                           const CabFileFilter& filter) override {
    Guarded(result, cabinetPath, [&] {
      files.clear();
      MemorySink sink(files);
      RunOnFile(result, cabinetPath, &sink, filter);
    });
  }

  void ExtractFileToFolder(CabResult& result, const std::wstring& cabinetPath, const std::wstring& folder,
                           const CabFileFilter& filter) override {
    Guarded(result, cabinetPath, [&] {
      FileSink sink(folder);
      RunOnFile(result, cabinetPath, &sink, filter);
    });
  }

  void ListFiles(CabResult& result, const std::wstring& cabinetPath, const CabFileFilter& visitor) override {
    Guarded(result, cabinetPath, [&] { RunOnFile(result, cabinetPath, nullptr, visitor); });
  }

  void Destroy() override { delete this; }

 private:
  // A missing cabinet is told apart before FDI sees it.
  static void RunOnFile(CabResult& result, const std::wstring& cabinetPath, OutputSink* sink,
                        const CabFileFilter& filter) {
    if (GetFileAttributesW(cabinetPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
      result.nativeCode = ERROR_FILE_NOT_FOUND;
      result.failed = true;
      return;
    }
    Extraction(std::nullopt, sink, filter).Run(oxa::ToUtf8(cabinetPath), result);
  }

  template <class Operation>
  void Guarded(CabResult& result, const std::wstring& source, Operation operation) noexcept {
    result = CabResult{};
    try {
      operation();
    } catch (const std::exception& error) {
      Fail(result, source, error.what());
    } catch (...) {
      Fail(result, source, "unknown exception");
    }
  }

  void Fail(CabResult& result, const std::wstring& source, const char* message) noexcept {
    result.nativeCode = kExtractionException;
    result.failed = true;
    OXA_TRACE_TO(tracer_.get(), oxa::kTraceError) << "Extraction failed from " << source << ", err: " << message;
  }

  oxa::TracerRef tracer_;
  oxa::ModuleHandle cabinet_dll_;
};

}  // namespace

const wchar_t* FdiErrorText(int erfOper) noexcept {
  return erfOper >= 0 && erfOper < static_cast<int>(std::size(kFdiErrorTexts)) ? kFdiErrorTexts[erfOper]
                                                                               : L"Unknown error";
}

std::wstring CabErrorText(const CabResult& result) {
  if (!result.failed) return L"No cabinet error found";
  return L"Cabinet error - native code: " + std::to_wstring(result.nativeCode) + L", FDI code: " +
         std::to_wstring(result.fdiError.erfOper) + L"(" + FdiErrorText(result.fdiError.erfOper) + L")";
}

CabExtractorPtr CreateCabExtractor(oxa::ITracer* tracer) noexcept {
  try {
    return CabExtractorPtr(new FdiCabExtractor(tracer));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace qvr
