// The engine behind the stand-in's exports: engine sessions and their
// transactions, enumeration handles, and the state file shared by every
// process of the prefix. Every function answers an error code as the API
// does and throws only std::bad_alloc.
//
// A transaction holds the engine lock from its beginning to its end: inside
// the process one transaction at a time, across processes a lock on
// C:\ProgramData\WfpStandIn\engine.lock (released by the system when a
// process dies). It works on a copy of the state read at its beginning,
// which its commit writes as a whole (a new file moved over the old one).
// A change outside a transaction is a transaction of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "standins/fwpuclnt/engine_state.h"

namespace wfpstandin {

// What an enumeration handle holds; the exports derive their cursors from it.
struct EnumCursor {
  virtual ~EnumCursor() = default;
};

// A change of the state, all or nothing: it leaves `state` as it was when it
// fails. `life` is what the session gives objects without a persistent flag.
using Change = std::function<DWORD(wfpstate::EngineState& state, const wfpstate::Lifetime& life)>;

// `timeoutMs`: how long a transaction's beginning waits for the lock; 0 or
// INFINITE: as long as it takes. ERROR_FILE_CORRUPT for a broken state file.
DWORD OpenSession(bool dynamic, DWORD timeoutMs, HANDLE& engine);
// Aborts the session's transaction, destroys its enumeration handles and
// deletes the objects of a dynamic session (the handle is closed even when
// that fails).
DWORD CloseSession(HANDLE engine);
DWORD BeginTransaction(HANDLE engine, bool readOnly);
DWORD CommitTransaction(HANDLE engine);
DWORD AbortTransaction(HANDLE engine);

// Runs `change` in the session's transaction (FWP_E_INCOMPATIBLE_TXN in a
// read-only one), else in one of its own.
DWORD ApplyChange(HANDLE engine, const Change& change);
// The state as the session sees it: with its transaction's changes.
DWORD ReadState(HANDLE engine, wfpstate::EngineState& state);

DWORD AddEnum(HANDLE engine, std::unique_ptr<EnumCursor> cursor, HANDLE& enumHandle);
// Runs `use` on the session's cursor `enumHandle` under the engine's lock;
// ERROR_INVALID_HANDLE for a handle of another session.
DWORD UseEnum(HANDLE engine, HANDLE enumHandle, const std::function<DWORD(EnumCursor&)>& use);
DWORD DestroyEnum(HANDLE engine, HANDLE enumHandle);

}  // namespace wfpstandin
