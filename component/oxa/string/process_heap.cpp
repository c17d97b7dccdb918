#include "component/oxa/string/string.h"

#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace oxa {

#ifdef _WIN32

void* ProcessHeapAllocate(std::size_t bytes) {
  void* block = ::HeapAlloc(::GetProcessHeap(), 0, bytes);
  if (!block) throw std::bad_alloc();
  return block;
}

void ProcessHeapFree(void* block) noexcept {
  if (block) ::HeapFree(::GetProcessHeap(), 0, block);
}

#else

// Builds without Win32 (sanitizer runs) stand in the C heap.
void* ProcessHeapAllocate(std::size_t bytes) {
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block) throw std::bad_alloc();
  return block;
}

void ProcessHeapFree(void* block) noexcept { std::free(block); }

#endif

}  // namespace oxa
