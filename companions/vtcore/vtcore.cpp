// vtcore.dll: the product's component framework, as far as the task profile
// import uses it. It gives a framework root, creates on it the settings
// store object and builds that store from profiles.xml; what is written into
// the store persists in the store file beside profiles.xml (both formats in
// settings_tree.h).
//
// Exports (C names, __cdecl):
//   int32_t VantorLoad(void** root, uint32_t version, uint32_t flags,
//                      void* reserved1, void* reserved2)
//       version 1, flags 0, reserved null; sets *root to the framework root.
//   int32_t VantorUnload(void* root)
//       destroys the root (objects created on it stay usable until released).
// Results are 32-bit result codes, negative on failure.
//
// Objects: every framework object starts with two table pointers. At the
// object's start the table of its own interface (the settings store's
// functions; null for the root), one pointer past the start the framework's
// object table. Every function takes the object as its first argument.
//
// Object table positions:
//   7   SetDword(object, property, uint32 value)
//   10  SetBool(object, property, int32 value)
//   19  CreateObject(root, void** created, interface type, plug-in, 0)
//       interface type 13, plug-in 43003: the settings store
//   20  CompleteCreation(object)
//   23  Release(object)
//   58  SetString(object, uint32* bytesTaken or null, property, text,
//                 byte size or 0 for a terminated text, code page)
// Properties of the settings store, set before CompleteCreation:
//   0x20900040 string  path of profiles.xml (code page 1200, UTF-16); required
//   0x20601004 dword   profiles.xml format version the caller expects: 1
//   0x20601000 dword   read-only: 0 writable (default), 1 changes are refused
//   0x30601001 dword   1 (default): the state lives in the store file, read at
//                      completion and rewritten after every change; 0: the
//                      store is kept in memory only
//   0x2040004A bool    1 (default): nodes of profiles.xml that the store file
//                      lacks are added; 0: an existing store file alone
// CompleteCreation builds the tree (see BuildSettingsTree) and, when the
// store is persistent and writable, writes the store file.
//
// Settings store table positions (handles are 32-bit, 0 is the root node):
//   1   Open(store, uint32* handle, uint32 parent, const char* path, flags)
//       path: node names separated by '\' below the parent ("" is the
//       parent itself); flags 1 creates missing nodes, 0 opens existing
//       ones only (0x8000D001 for a node that does not exist)
//   4   Close(store, handle)
//   7   GetValue(store, handle, const char* name, uint32* type, void* data,
//                uint32* size)
//       size in: room in data; out: the value's size (data null: size only;
//       0x80000044 when the room is too small)
//   10  SetValue(store, handle, const char* name, type, const void* data,
//                uint32 size, flags)
//       flags 1 creates the value when missing, 0 changes an existing one
//   16  DeleteValue(store, handle, const char* name)
//       0x8000D002 for a value that does not exist
// Other positions of both tables answer 0x80000043 (not implemented).
//
// Fault injection, for tests of the callers: the environment variable
// VTCORE_FAULT holds points separated by ';', each failing with 0x8000004B:
//   load                 VantorLoad
//   create               CreateObject
//   create-empty         CreateObject succeeds without giving an object
//   property=<id>        setting that property (number as in C: 0x20601000)
//   complete             CompleteCreation
//   open=<path>          Open of that path (as passed)
//   set=<name>           SetValue of that value name
//   delete=<name>        DeleteValue of that value name
//   throw=<name>         SetValue of that value name throws a C++ exception
//                        (std::runtime_error), as a faulty framework build
//                        could, instead of answering a result
#include <windows.h>

#include "Custom_Actions/COMMON/framework_objects.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "companions/vtcore/settings_files.h"
#include "companions/vtcore/settings_tree.h"

namespace {

using vtcore::SettingsNode;
using Entry = void (*)();
using oxa::ResultCode;
namespace rc = oxa::rc;

constexpr ResultCode kNodeNotFound = static_cast<ResultCode>(0x8000D001u);
constexpr ResultCode kValueNotFound = static_cast<ResultCode>(0x8000D002u);
constexpr ResultCode kInvalidVersion = static_cast<ResultCode>(0x8000005Bu);
constexpr ResultCode kClassNotFound = static_cast<ResultCode>(0x80000100u);
constexpr ResultCode kAlreadyDone = static_cast<ResultCode>(0x80000067u);
constexpr ResultCode kInjectedFault = rc::UnspecifiedError;

constexpr std::uint32_t kCreateMissing = 1;

// Tags that tell the objects apart, so that a wrong object gives an error.
enum class ObjectKind : std::uint32_t { kRoot = 0x544F4F52, kStore = 0x45524F54 };

struct ObjectHead {
  const Entry* ownTable;     // the object's own interface; null for the root
  const Entry* objectTable;  // one pointer past the object's start
  ObjectKind kind;
};
// What the module relies on: the object table one pointer past the start.
static_assert(offsetof(ObjectHead, objectTable) == sizeof(void*));
static_assert(sizeof(void*) != 4 || (offsetof(ObjectHead, ownTable) == 0 && offsetof(ObjectHead, objectTable) == 4));

struct StoreHandle {
  SettingsNode* node;
  std::size_t depth;
};

struct StoreState {
  std::wstring sourcePath;
  std::uint32_t formatVersion = 1;
  bool readOnly = false;
  bool persistent = true;
  bool addDeclaredNodes = true;
  bool completed = false;
  std::wstring storePath;
  SettingsNode tree;
  std::map<std::uint32_t, StoreHandle> handles;
  std::uint32_t nextHandle = 1;
};

struct RootObject {
  ObjectHead head;
};

struct StoreObject {
  ObjectHead head;
  StoreState* state;
};
static_assert(offsetof(RootObject, head) == 0 && offsetof(StoreObject, head) == 0);

// --- fault injection ----------------------------------------------------------

// The arguments of the entries of VTCORE_FAULT for `point` ("" for an entry
// without one, which fails every call of that point).
std::vector<std::string> FaultArguments(std::string_view point) {
  std::vector<std::string> arguments;
  char buffer[4096];
  const DWORD length = GetEnvironmentVariableA("VTCORE_FAULT", buffer, sizeof(buffer));
  if (length == 0 || length >= sizeof(buffer)) return arguments;
  std::string_view plan(buffer, length);
  while (!plan.empty()) {
    const std::size_t end = plan.find(';');
    const std::string_view entry = plan.substr(0, end);
    plan.remove_prefix(end == std::string_view::npos ? plan.size() : end + 1);
    const std::size_t equals = entry.find('=');
    if (entry.substr(0, equals) != point) continue;
    arguments.emplace_back(equals == std::string_view::npos ? std::string_view() : entry.substr(equals + 1));
  }
  return arguments;
}

bool Faulted(std::string_view point, std::string_view argument = {}) {
  for (const std::string& faulted : FaultArguments(point))
    if (faulted.empty() || faulted == argument) return true;
  return false;
}

bool PropertyFaulted(std::uint32_t property) {
  for (const std::string& faulted : FaultArguments("property"))
    if (faulted.empty() || std::strtoul(faulted.c_str(), nullptr, 0) == property) return true;
  return false;
}

// --- helpers --------------------------------------------------------------------

// Runs `body`, turning an escaping allocation failure into a result.
template <typename Body>
ResultCode Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return rc::OutOfMemory;
  } catch (...) {
    return rc::Unexpected;
  }
}

StoreObject* AsStore(void* object) {
  auto* head = static_cast<ObjectHead*>(object);
  return head && head->kind == ObjectKind::kStore ? static_cast<StoreObject*>(object) : nullptr;
}

// The store of an object whose creation is still open.
StoreState* OpenCreation(void* object, ResultCode& result) {
  StoreObject* store = AsStore(object);
  if (!store) {
    result = rc::InvalidArgument;
    return nullptr;
  }
  if (store->state->completed) {
    result = rc::InvalidState;
    return nullptr;
  }
  result = rc::Ok;
  return store->state;
}

// The state of a completed store.
StoreState* CompletedStore(void* object, ResultCode& result) {
  StoreObject* store = AsStore(object);
  result = !store ? rc::InvalidArgument : !store->state->completed ? rc::NotInitialized : rc::Ok;
  return OXA_SUCCEEDED(result) ? store->state : nullptr;
}

ResultCode Save(const StoreState& state) {
  if (!state.persistent) return rc::Ok;
  return vtcore::WriteFileAtomically(state.storePath, vtcore::SerializeStoreFile(state.tree));
}

// The node of `handle` (0: the root node); false for an unknown handle.
bool FindHandle(StoreState& state, std::uint32_t handle, StoreHandle& found) {
  if (handle == 0) {
    found = {&state.tree, 0};
    return true;
  }
  const auto entry = state.handles.find(handle);
  if (entry == state.handles.end()) return false;
  found = entry->second;
  return true;
}

// --- object table -----------------------------------------------------------------

ResultCode __cdecl NotImplemented() { return rc::NotImplemented; }

ResultCode __cdecl SetDword(void* object, std::uint32_t property, std::uint32_t value) {
  ResultCode result;
  StoreState* state = OpenCreation(object, result);
  if (!state) return result;
  if (PropertyFaulted(property)) return kInjectedFault;
  switch (property) {
    case qvr::kFormatVersionProperty:
      if (value != 1) return kInvalidVersion;
      state->formatVersion = value;
      return rc::Ok;
    case qvr::kReadOnlyProperty:
      if (value > 1) return rc::InvalidArgument;
      state->readOnly = value == 1;
      return rc::Ok;
    case qvr::kPersistentProperty:
      if (value > 1) return rc::InvalidArgument;
      state->persistent = value == 1;
      return rc::Ok;
    default:
      return rc::PropertyNotFound;
  }
}

ResultCode __cdecl SetBool(void* object, std::uint32_t property, std::int32_t value) {
  ResultCode result;
  StoreState* state = OpenCreation(object, result);
  if (!state) return result;
  if (PropertyFaulted(property)) return kInjectedFault;
  if (property != qvr::kAddDeclaredNodesProperty) return rc::PropertyNotFound;
  state->addDeclaredNodes = value != 0;
  return rc::Ok;
}

ResultCode __cdecl SetString(void* object, std::uint32_t* bytesTaken, std::uint32_t property, const void* text,
                             std::uint32_t size, std::uint32_t codePage) {
  return Guarded([&] {
    ResultCode result;
    StoreState* state = OpenCreation(object, result);
    if (!state) return result;
    if (PropertyFaulted(property)) return kInjectedFault;
    if (property != qvr::kSourcePathProperty) return rc::PropertyNotFound;
    if (codePage != qvr::kUtf16CodePage) return rc::NotSupported;
    if (!text || size % sizeof(wchar_t) != 0) return rc::InvalidArgument;
    const auto* units = static_cast<const wchar_t*>(text);
    std::wstring path = size == 0 ? std::wstring(units) : std::wstring(units, size / sizeof(wchar_t));
    while (!path.empty() && path.back() == L'\0') path.pop_back();
    if (path.empty()) return rc::InvalidArgument;
    if (bytesTaken) *bytesTaken = static_cast<std::uint32_t>((path.size() + 1) * sizeof(wchar_t));
    state->sourcePath = std::move(path);
    return rc::Ok;
  });
}

ResultCode __cdecl CompleteCreation(void* object) {
  return Guarded([&] {
    StoreObject* store = AsStore(object);
    if (!store) return rc::InvalidArgument;
    StoreState& state = *store->state;
    if (state.completed) return kAlreadyDone;
    if (state.sourcePath.empty()) return rc::NotInitialized;
    if (Faulted("complete")) return kInjectedFault;
    const vtcore::TreeSources sources{state.persistent, state.addDeclaredNodes};
    ResultCode result = vtcore::BuildSettingsTree(state.sourcePath, sources, state.tree);
    if (OXA_FAILED(result)) return result;
    state.storePath = vtcore::StoreFilePath(state.sourcePath);
    if (!state.readOnly) {
      result = Save(state);
      if (OXA_FAILED(result)) return result;
    }
    state.completed = true;
    return rc::Ok;
  });
}

ResultCode __cdecl Release(void* object) {
  StoreObject* store = AsStore(object);
  if (!store) return rc::InvalidArgument;
  delete store->state;
  delete store;
  return rc::Ok;
}

const Entry* StoreTable();
const Entry* ObjectTable();

ResultCode __cdecl CreateObject(void* object, void** created, std::uint32_t interfaceType, std::uint32_t plugin,
                                std::uint32_t reserved) {
  return Guarded([&] {
    auto* head = static_cast<ObjectHead*>(object);
    if (!head || head->kind != ObjectKind::kRoot || !created || reserved != 0) return rc::InvalidArgument;
    *created = nullptr;
    if (interfaceType != qvr::kStoreInterfaceType) return rc::InterfaceNotSupported;
    if (plugin != qvr::kStorePlugin) return kClassNotFound;
    if (Faulted("create")) return kInjectedFault;
    if (Faulted("create-empty")) return rc::Ok;
    auto* store = new StoreObject{{StoreTable(), ObjectTable(), ObjectKind::kStore}, new StoreState()};
    *created = store;
    return rc::Ok;
  });
}

// --- settings store table -------------------------------------------------------------

ResultCode __cdecl Open(void* object, std::uint32_t* handle, std::uint32_t parent, const char* path,
                        std::uint32_t flags) {
  return Guarded([&] {
    ResultCode result;
    StoreState* state = CompletedStore(object, result);
    if (!state) return result;
    if (!handle || !path || (flags & ~kCreateMissing) != 0) return rc::InvalidArgument;
    *handle = 0;
    StoreHandle opened;
    if (!FindHandle(*state, parent, opened)) return rc::InvalidHandle;
    if (Faulted("open", path)) return kInjectedFault;
    std::vector<std::string> names;
    result = vtcore::SplitNodePath(path, names);
    if (OXA_FAILED(result)) return result;
    if (opened.depth + names.size() > vtcore::kMaxDepth) return rc::InvalidArgument;

    bool created = false;
    for (const std::string& name : names) {
      auto child = opened.node->children.find(name);
      if (child == opened.node->children.end()) {
        if ((flags & kCreateMissing) == 0) return kNodeNotFound;
        if (state->readOnly) return rc::AccessDenied;
        child = opened.node->children.emplace(name, std::make_unique<SettingsNode>()).first;
        created = true;
      }
      opened = {child->second.get(), opened.depth + 1};
    }
    if (created) {
      result = Save(*state);
      if (OXA_FAILED(result)) return result;
    }
    const std::uint32_t id = state->nextHandle++;
    state->handles.emplace(id, opened);
    *handle = id;
    return rc::Ok;
  });
}

ResultCode __cdecl Close(void* object, std::uint32_t handle) {
  ResultCode result;
  StoreState* state = CompletedStore(object, result);
  if (!state) return result;
  return state->handles.erase(handle) == 1 ? rc::Ok : rc::InvalidHandle;
}

ResultCode __cdecl GetValue(void* object, std::uint32_t handle, const char* name, std::uint32_t* type, void* data,
                            std::uint32_t* size) {
  ResultCode result;
  StoreState* state = CompletedStore(object, result);
  if (!state) return result;
  if (!name || !size) return rc::InvalidArgument;
  StoreHandle node;
  if (!FindHandle(*state, handle, node)) return rc::InvalidHandle;
  const auto value = node.node->values.find(name);
  if (value == node.node->values.end()) return kValueNotFound;
  const auto needed = static_cast<std::uint32_t>(value->second.data.size());
  if (type) *type = value->second.type;
  const std::uint32_t room = *size;
  *size = needed;
  if (!data) return rc::Ok;
  if (room < needed) return rc::BufferTooSmall;
  std::copy(value->second.data.begin(), value->second.data.end(), static_cast<char*>(data));
  return rc::Ok;
}

ResultCode __cdecl SetValue(void* object, std::uint32_t handle, const char* name, std::uint32_t type,
                            const void* data, std::uint32_t size, std::uint32_t flags) {
  // Outside the guard, so that it reaches the caller.
  if (name && Faulted("throw", name)) throw std::runtime_error(std::string("vtcore: SetValue of ") + name + " threw");
  return Guarded([&] {
    ResultCode result;
    StoreState* state = CompletedStore(object, result);
    if (!state) return result;
    if (!name || (!data && size != 0) || (flags & ~kCreateMissing) != 0) return rc::InvalidArgument;
    StoreHandle node;
    if (!FindHandle(*state, handle, node)) return rc::InvalidHandle;
    if (!vtcore::IsValidValueName(name)) return rc::InvalidArgument;
    if (!vtcore::IsKnownValueType(type)) return rc::InvalidType;
    if (!vtcore::IsValidValueData(type, size)) return rc::InvalidSize;
    if (state->readOnly) return rc::AccessDenied;
    if (Faulted("set", name)) return kInjectedFault;
    auto& values = node.node->values;
    auto value = values.find(name);
    if (value == values.end()) {
      if ((flags & kCreateMissing) == 0) return kValueNotFound;
      value = values.emplace(name, vtcore::SettingsValue{}).first;
    }
    value->second.type = type;
    value->second.data.assign(static_cast<const char*>(data), size);
    return Save(*state);
  });
}

ResultCode __cdecl DeleteValue(void* object, std::uint32_t handle, const char* name) {
  return Guarded([&] {
    ResultCode result;
    StoreState* state = CompletedStore(object, result);
    if (!state) return result;
    if (!name) return rc::InvalidArgument;
    StoreHandle node;
    if (!FindHandle(*state, handle, node)) return rc::InvalidHandle;
    if (state->readOnly) return rc::AccessDenied;
    if (Faulted("delete", name)) return kInjectedFault;
    if (node.node->values.erase(name) == 0) return kValueNotFound;
    return Save(*state);
  });
}

// --- tables ---------------------------------------------------------------------------

template <std::size_t Size>
using Table = std::array<Entry, Size>;

template <std::size_t Size>
Table<Size> Unimplemented() {
  Table<Size> table;
  table.fill(reinterpret_cast<Entry>(&NotImplemented));
  return table;
}

const Entry* ObjectTable() {
  static const Table<64> table = [] {
    auto entries = Unimplemented<64>();
    entries[7] = reinterpret_cast<Entry>(&SetDword);
    entries[10] = reinterpret_cast<Entry>(&SetBool);
    entries[19] = reinterpret_cast<Entry>(&CreateObject);
    entries[20] = reinterpret_cast<Entry>(&CompleteCreation);
    entries[23] = reinterpret_cast<Entry>(&Release);
    entries[58] = reinterpret_cast<Entry>(&SetString);
    return entries;
  }();
  return table.data();
}

const Entry* StoreTable() {
  static const Table<24> table = [] {
    auto entries = Unimplemented<24>();
    entries[1] = reinterpret_cast<Entry>(&Open);
    entries[4] = reinterpret_cast<Entry>(&Close);
    entries[7] = reinterpret_cast<Entry>(&GetValue);
    entries[10] = reinterpret_cast<Entry>(&SetValue);
    entries[16] = reinterpret_cast<Entry>(&DeleteValue);
    return entries;
  }();
  return table.data();
}

}  // namespace

extern "C" __declspec(dllexport) ResultCode __cdecl VantorLoad(void** root, std::uint32_t version,
                                                               std::uint32_t flags, void* reserved1,
                                                               void* reserved2) {
  return Guarded([&] {
    if (!root) return rc::InvalidArgument;
    *root = nullptr;
    if (version != 1) return kInvalidVersion;
    if (flags != 0 || reserved1 || reserved2) return rc::InvalidArgument;
    if (Faulted("load")) return kInjectedFault;
    *root = new RootObject{{nullptr, ObjectTable(), ObjectKind::kRoot}};
    return rc::Ok;
  });
}

extern "C" __declspec(dllexport) ResultCode __cdecl VantorUnload(void* root) {
  auto* object = static_cast<RootObject*>(root);
  if (!object || object->head.kind != ObjectKind::kRoot) return rc::InvalidArgument;
  delete object;
  return rc::Ok;
}
