#pragma once
// Functions of system libraries that some Windows versions lack, found at run time so that
// the program still starts where they are missing.

#include <windows.h>

#include <type_traits>

namespace veltrane {

// The function `name` of the already loaded system library `module`, as a pointer of type
// `Function`, or nullptr where the library is not loaded or has no such function.
template <class Function>
requires std::is_function_v<std::remove_pointer_t<Function>> Function
FindSystemFunction(const wchar_t* module, const char* name) {
  const HMODULE library = GetModuleHandleW(module);
  if (library == nullptr) return nullptr;
  // FARPROC to void* first: casting between unrelated function pointer types draws a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace veltrane
