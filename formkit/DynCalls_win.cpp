#include "DynCalls_win.h"

#include <string>

namespace formkit::dyn {

namespace {

// Each DLL is looked for once; the loaded ones stay for the process's life.
HMODULE Dll(TDll dll) {
  static HMODULE modules[2];
  static bool tried[2];
  const int which = static_cast<int>(dll);
  if (tried[which]) return modules[which];
  tried[which] = true;
  if (dll == TDll::Kernel32) return modules[which] = GetModuleHandleA("kernel32.dll");
  char system[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  return modules[which] = LoadLibraryA((std::string(system, n) + "\\bcrypt.dll").c_str());
}

void* Lookup(TDll dll, const char* name, void*& slot, bool& tried) {
  if (!tried) {
    tried = true;
    HMODULE module = Dll(dll);
    slot = module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
  }
  return slot;
}

}  // namespace

#define FK_DYN_DEFINE(dll, name, type)                                   \
  T##name name() {                                                       \
    static void* slot;                                                   \
    static bool tried;                                                   \
    return reinterpret_cast<T##name>(Lookup(TDll::dll, #name, slot, tried)); \
  }
FK_DYN_CALLS(FK_DYN_DEFINE)
#undef FK_DYN_DEFINE

}  // namespace formkit::dyn
