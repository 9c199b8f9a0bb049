#include "DynCalls_win.h"

#include <string>

namespace formkit::dyn {

namespace {

#define FK_DYN_INDEX(dll, name, type) k##name,
enum TCall { FK_DYN_CALLS(FK_DYN_INDEX) kCallCount };
#undef FK_DYN_INDEX

// What was looked up so far: each DLL and each function once, for the
// process's life.
constexpr int kDllCount = static_cast<int>(TDll::Bcrypt) + 1;  // Bcrypt is the last

struct TTable {
  HMODULE Dlls[kDllCount];
  bool DllTried[kDllCount];
  void* Calls[kCallCount];
  bool CallTried[kCallCount];
} gTable;

HMODULE Dll(TDll dll) {
  const int which = static_cast<int>(dll);
  if (gTable.DllTried[which]) return gTable.Dlls[which];
  gTable.DllTried[which] = true;
  if (dll != TDll::Bcrypt) {
    static const char* const kLoaded[] = {"kernel32.dll", "ntdll.dll", "user32.dll"};
    return gTable.Dlls[which] = GetModuleHandleA(kLoaded[which]);
  }
  char system[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  return gTable.Dlls[which] = LoadLibraryA((std::string(system, n) + "\\bcrypt.dll").c_str());
}

void* Lookup(TDll dll, const char* name, TCall call) {
  if (!gTable.CallTried[call]) {
    gTable.CallTried[call] = true;
    HMODULE module = Dll(dll);
    gTable.Calls[call] = module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
  }
  return gTable.Calls[call];
}

}  // namespace

#define FK_DYN_DEFINE(dll, name, type) \
  T##name name() { return reinterpret_cast<T##name>(Lookup(TDll::dll, #name, k##name)); }
FK_DYN_CALLS(FK_DYN_DEFINE)
#undef FK_DYN_DEFINE

}  // namespace formkit::dyn
