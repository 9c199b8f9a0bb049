// An installer library that lacks MakeUpdate, for the failure path.
#include <windows.h>

extern "C" __declspec(dllexport) int __stdcall SomethingElse(int value) { return value + 1; }
