#include "standins/fwpuclnt/engine.h"

#include <winerror.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "component/oxa/system/unique_handle.h"

namespace wfpstandin {
namespace {

using wfpstate::EngineState;
using wfpstate::Lifetime;

constexpr wchar_t kFolder[] = L"C:\\ProgramData\\WfpStandIn";
constexpr wchar_t kStatePath[] = L"C:\\ProgramData\\WfpStandIn\\engine.state";
constexpr wchar_t kNewStatePath[] = L"C:\\ProgramData\\WfpStandIn\\engine.state.new";
constexpr wchar_t kLockPath[] = L"C:\\ProgramData\\WfpStandIn\\engine.lock";
// Far above any state the engine writes: a larger file is a broken one.
constexpr DWORD kMaxStateBytes = 64 * 1024 * 1024;

std::uint64_t ProcessStart(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// "PID.START." of this process: with a session number, the owner of a
// dynamic session's objects. The start time tells a reused process id apart.
const std::string& ProcessTag() {
  static const std::string tag =
      std::to_string(GetCurrentProcessId()) + "." + std::to_string(ProcessStart(GetCurrentProcess())) + ".";
  return tag;
}

// --- the engine lock ------------------------------------------------------------

class EngineLock {
 public:
  DWORD Acquire(DWORD timeoutMs) {
    const bool limited = timeoutMs != 0 && timeoutMs != INFINITE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    std::unique_lock lock(mutex_);
    if (!limited) {
      released_.wait(lock, [this] { return !held_; });
    } else if (!released_.wait_until(lock, deadline, [this] { return !held_; })) {
      return static_cast<DWORD>(FWP_E_TIMEOUT);
    }
    held_ = true;
    DWORD result = OpenFile();
    const HANDLE file = file_.Get();
    lock.unlock();
    if (result == ERROR_SUCCESS) result = LockAcrossProcesses(file, limited, deadline);
    if (result != ERROR_SUCCESS) Free();
    return result;
  }

  void Release() {
    OVERLAPPED at{};
    UnlockFileEx(file_.Get(), 0, 1, 0, &at);
    Free();
  }

 private:
  // Under mutex_. The file stays open for the life of the process.
  DWORD OpenFile() {
    if (file_) return ERROR_SUCCESS;
    CreateDirectoryW(kFolder, nullptr);
    file_.Reset(CreateFileW(kLockPath, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_ ? ERROR_SUCCESS : GetLastError();
  }

  // LockFileEx waits without a time limit or not at all: a limited wait
  // asks again every few milliseconds.
  static DWORD LockAcrossProcesses(HANDLE file, bool limited, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      OVERLAPPED at{};
      const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (limited ? LOCKFILE_FAIL_IMMEDIATELY : 0);
      if (LockFileEx(file, flags, 0, 1, 0, &at)) return ERROR_SUCCESS;
      const DWORD error = GetLastError();
      if (!limited || error != ERROR_LOCK_VIOLATION) return error;
      if (std::chrono::steady_clock::now() >= deadline) return static_cast<DWORD>(FWP_E_TIMEOUT);
      Sleep(10);
    }
  }

  void Free() {
    {
      std::lock_guard lock(mutex_);
      held_ = false;
    }
    released_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  oxa::FileHandle file_;
};

EngineLock& TheLock() {
  static EngineLock lock;
  return lock;
}

// --- sessions -----------------------------------------------------------------------

struct Session {
  Lifetime life;  // of objects without a persistent flag
  DWORD timeoutMs = 0;
  bool beginning = false;  // waiting for the lock
  bool inTransaction = false;
  bool readOnly = false;
  EngineState staged;
  std::map<std::uintptr_t, std::unique_ptr<EnumCursor>> enums;
};

// The sessions of the process, by handle value, under sessionsLock. Handle
// values are never reused, so a stale handle is never taken for a new one.
std::mutex sessionsLock;
std::map<std::uintptr_t, Session> sessions;
std::uintptr_t lastHandle = 0x5F000;

HANDLE NewHandle() {
  lastHandle += 4;
  return reinterpret_cast<HANDLE>(lastHandle);
}

Session* Find(HANDLE engine) {
  const auto found = sessions.find(reinterpret_cast<std::uintptr_t>(engine));
  return found == sessions.end() ? nullptr : &found->second;
}

// --- the state file ----------------------------------------------------------------

// Whether the dynamic session `owner` ("PID.START.SESSION") has ended: its
// process is gone, or it is this process and the session is closed.
bool SessionEnded(const std::string& owner) {
  const std::size_t dot = owner.find('.');
  const std::size_t secondDot = dot == std::string::npos ? dot : owner.find('.', dot + 1);
  if (secondDot == std::string::npos) return true;
  if (owner.compare(0, secondDot + 1, ProcessTag()) == 0) {
    std::lock_guard lock(sessionsLock);
    for (const auto& [handle, session] : sessions)
      if (session.life.owner == owner) return false;
    return true;
  }
  const DWORD pid = std::strtoul(owner.c_str(), nullptr, 10);
  const oxa::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
  if (!process) return GetLastError() != ERROR_ACCESS_DENIED;
  return WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT ||
         owner.compare(dot + 1, secondDot - dot - 1, std::to_string(ProcessStart(process.Get()))) != 0;
}

// Drops the objects of every dynamic session that ended without closing its
// handle. They are named only by objects of their own session.
template <class Map>
void DropEnded(Map& objects, std::map<std::string, bool>& ended) {
  for (auto it = objects.begin(); it != objects.end();) {
    const Lifetime& life = it->second.life;
    if (life.kind == Lifetime::kDynamic) {
      auto known = ended.find(life.owner);
      if (known == ended.end()) known = ended.emplace(life.owner, SessionEnded(life.owner)).first;
      if (known->second) {
        it = objects.erase(it);
        continue;
      }
    }
    ++it;
  }
}

DWORD LoadState(EngineState& state) {
  const oxa::FileHandle file(CreateFileW(kStatePath, GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
    state = EngineState{};  // a new engine
    return ERROR_SUCCESS;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) return GetLastError();
  if (size.QuadPart > kMaxStateBytes) return ERROR_FILE_CORRUPT;
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() && !ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
    return GetLastError();
  if (read != text.size()) return ERROR_FILE_CORRUPT;
  std::string why;
  EngineState parsed;
  if (!wfpstate::ParseState(text, parsed, why)) return ERROR_FILE_CORRUPT;
  std::map<std::string, bool> ended;
  DropEnded(parsed.filters, ended);
  DropEnded(parsed.callouts, ended);
  DropEnded(parsed.sublayers, ended);
  DropEnded(parsed.providers, ended);
  state = std::move(parsed);
  return ERROR_SUCCESS;
}

// A new file moved over the old one: a reader sees either whole. A state
// that the reader would refuse is not written: it would leave an engine that
// no process can open.
DWORD WriteState(const EngineState& state) {
  const std::string text = wfpstate::FormatState(state);
  EngineState reread;
  std::string why;
  if (!wfpstate::ParseState(text, reread, why)) return ERROR_INTERNAL_ERROR;
  CreateDirectoryW(kFolder, nullptr);
  {
    const oxa::FileHandle file(
        CreateFileW(kNewStatePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        !FlushFileBuffers(file.Get()))
      return GetLastError();
    if (written != text.size()) return ERROR_WRITE_FAULT;
  }
  if (!MoveFileExW(kNewStatePath, kStatePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return GetLastError();
  return ERROR_SUCCESS;
}

// The engine lock, held until Keep() or the end of the scope.
class LockHold {
 public:
  explicit LockHold(DWORD timeoutMs) : result_(TheLock().Acquire(timeoutMs)) {}
  ~LockHold() {
    if (result_ == ERROR_SUCCESS && !kept_) TheLock().Release();
  }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;
  DWORD Result() const { return result_; }
  void Keep() { kept_ = true; }  // for the transaction, which releases it

 private:
  DWORD result_;
  bool kept_ = false;
};

// A change in a transaction of its own.
DWORD ApplyAlone(const Change& change, const Lifetime& life, DWORD timeoutMs) {
  const LockHold hold(timeoutMs);
  if (hold.Result() != ERROR_SUCCESS) return hold.Result();
  EngineState state;
  DWORD result = LoadState(state);
  if (result == ERROR_SUCCESS) result = change(state, life);
  if (result == ERROR_SUCCESS) result = WriteState(state);
  return result;
}

template <class Map>
void EraseOwned(Map& objects, const std::string& owner) {
  std::erase_if(objects, [&](const auto& entry) { return entry.second.life.owner == owner; });
}

}  // namespace

DWORD OpenSession(bool dynamic, DWORD timeoutMs, HANDLE& engine) {
  // A broken state file is an engine that cannot be opened.
  EngineState state;
  if (const DWORD result = LoadState(state); result != ERROR_SUCCESS) return result;
  std::lock_guard lock(sessionsLock);
  const HANDLE handle = NewHandle();
  Session session;
  session.timeoutMs = timeoutMs;
  if (dynamic)
    session.life = {Lifetime::kDynamic, ProcessTag() + std::to_string(reinterpret_cast<std::uintptr_t>(handle))};
  sessions.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(session));
  engine = handle;
  return ERROR_SUCCESS;
}

DWORD CloseSession(HANDLE engine) {
  Lifetime life;
  DWORD timeoutMs = 0;
  {
    std::lock_guard lock(sessionsLock);
    Session* session = Find(engine);
    if (!session) return ERROR_INVALID_HANDLE;
    if (session->inTransaction) TheLock().Release();
    life = session->life;
    timeoutMs = session->timeoutMs;
    sessions.erase(reinterpret_cast<std::uintptr_t>(engine));
  }
  if (life.kind != Lifetime::kDynamic) return ERROR_SUCCESS;
  return ApplyAlone(
      [&](EngineState& state, const Lifetime&) {
        EraseOwned(state.filters, life.owner);
        EraseOwned(state.callouts, life.owner);
        EraseOwned(state.sublayers, life.owner);
        EraseOwned(state.providers, life.owner);
        return static_cast<DWORD>(ERROR_SUCCESS);
      },
      life, timeoutMs);
}

DWORD BeginTransaction(HANDLE engine, bool readOnly) {
  DWORD timeoutMs = 0;
  {
    std::lock_guard lock(sessionsLock);
    Session* session = Find(engine);
    if (!session) return ERROR_INVALID_HANDLE;
    if (session->inTransaction || session->beginning) return static_cast<DWORD>(FWP_E_TXN_IN_PROGRESS);
    session->beginning = true;
    timeoutMs = session->timeoutMs;
  }
  LockHold hold(timeoutMs);
  EngineState state;
  DWORD result = hold.Result();
  if (result == ERROR_SUCCESS) result = LoadState(state);
  std::lock_guard lock(sessionsLock);
  Session* session = Find(engine);
  if (!session) return result == ERROR_SUCCESS ? ERROR_INVALID_HANDLE : result;  // closed meanwhile
  session->beginning = false;
  if (result != ERROR_SUCCESS) return result;
  session->inTransaction = true;
  session->readOnly = readOnly;
  session->staged = std::move(state);
  hold.Keep();
  return ERROR_SUCCESS;
}

DWORD CommitTransaction(HANDLE engine) {
  std::lock_guard lock(sessionsLock);
  Session* session = Find(engine);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!session->inTransaction) return static_cast<DWORD>(FWP_E_NO_TXN_IN_PROGRESS);
  // A commit that cannot be written ends the transaction as an abort does.
  const DWORD result = session->readOnly ? ERROR_SUCCESS : WriteState(session->staged);
  session->inTransaction = false;
  session->staged = EngineState{};
  TheLock().Release();
  return result;
}

DWORD AbortTransaction(HANDLE engine) {
  std::lock_guard lock(sessionsLock);
  Session* session = Find(engine);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!session->inTransaction) return static_cast<DWORD>(FWP_E_NO_TXN_IN_PROGRESS);
  session->inTransaction = false;
  session->staged = EngineState{};
  TheLock().Release();
  return ERROR_SUCCESS;
}

DWORD ApplyChange(HANDLE engine, const Change& change) {
  Lifetime life;
  DWORD timeoutMs = 0;
  {
    std::lock_guard lock(sessionsLock);
    Session* session = Find(engine);
    if (!session) return ERROR_INVALID_HANDLE;
    if (session->inTransaction) {
      if (session->readOnly) return static_cast<DWORD>(FWP_E_INCOMPATIBLE_TXN);
      return change(session->staged, session->life);
    }
    life = session->life;
    timeoutMs = session->timeoutMs;
  }
  return ApplyAlone(change, life, timeoutMs);
}

DWORD ReadState(HANDLE engine, EngineState& state) {
  {
    std::lock_guard lock(sessionsLock);
    Session* session = Find(engine);
    if (!session) return ERROR_INVALID_HANDLE;
    if (session->inTransaction) {
      state = session->staged;
      return ERROR_SUCCESS;
    }
  }
  // The file is replaced whole, so it is read without the engine lock.
  return LoadState(state);
}

DWORD AddEnum(HANDLE engine, std::unique_ptr<EnumCursor> cursor, HANDLE& enumHandle) {
  std::lock_guard lock(sessionsLock);
  Session* session = Find(engine);
  if (!session) return ERROR_INVALID_HANDLE;
  const HANDLE handle = NewHandle();
  session->enums.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(cursor));
  enumHandle = handle;
  return ERROR_SUCCESS;
}

DWORD UseEnum(HANDLE engine, HANDLE enumHandle, const std::function<DWORD(EnumCursor&)>& use) {
  std::lock_guard lock(sessionsLock);
  Session* session = Find(engine);
  if (!session) return ERROR_INVALID_HANDLE;
  const auto found = session->enums.find(reinterpret_cast<std::uintptr_t>(enumHandle));
  if (found == session->enums.end()) return ERROR_INVALID_HANDLE;
  return use(*found->second);
}

DWORD DestroyEnum(HANDLE engine, HANDLE enumHandle) {
  std::lock_guard lock(sessionsLock);
  Session* session = Find(engine);
  if (!session) return ERROR_INVALID_HANDLE;
  return session->enums.erase(reinterpret_cast<std::uintptr_t>(enumHandle)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace wfpstandin
