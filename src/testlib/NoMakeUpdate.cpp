// An installer library that lacks MakeUpdate, for the failure path; also the
// helper that update2_helped.dll imports.
#include <windows.h>

extern "C" __declspec(dllexport) int __stdcall SomethingElse(int value) { return value + 1; }

// Plain C call: --kill-at leaves its name alone in the import library.
extern "C" __declspec(dllexport) int HelperValue() { return 42; }
