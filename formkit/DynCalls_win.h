// Functions looked up at run time, in one table: each is loaded from its DLL
// on first use and is nullptr when the DLL or the function is missing, so a
// program that never calls one neither imports nor loads its DLL, and a
// Windows without it still starts.
#pragma once

#include <windows.h>
#include <bcrypt.h>

// X(dll, name, type): kernel32, ntdll and user32 are the loaded ones; other DLLs come from the
// system folder only (never by bare name: the update run makes the Download
// folder current).
#define FK_DYN_CALLS(X)                                                                                          \
  X(Kernel32, SetDefaultDllDirectories, BOOL(WINAPI*)(DWORD))                                                    \
  X(Kernel32, GetLocaleInfoEx, int(WINAPI*)(LPCWSTR, LCTYPE, LPWSTR, int))                                       \
  X(Ntdll, RtlGetVersion, LONG(WINAPI*)(RTL_OSVERSIONINFOW*))                                                    \
  X(Ntdll, wine_get_version, const char*(CDECL*)())                                                             \
  X(User32, GetDpiForWindow, UINT(WINAPI*)(HWND))                                                                \
  X(Bcrypt, BCryptOpenAlgorithmProvider, NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG))         \
  X(Bcrypt, BCryptCloseAlgorithmProvider, NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG))                           \
  X(Bcrypt, BCryptCreateHash,                                                                                    \
    NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG))               \
  X(Bcrypt, BCryptHashData, NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG))                         \
  X(Bcrypt, BCryptFinishHash, NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG))                       \
  X(Bcrypt, BCryptDestroyHash, NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE))                                            \
  X(Bcrypt, BCryptImportKeyPair,                                                                                 \
    NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE*, PUCHAR, ULONG, ULONG))   \
  X(Bcrypt, BCryptVerifySignature, NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG)) \
  X(Bcrypt, BCryptDestroyKey, NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE))

namespace formkit::dyn {

// A message of a later Windows, which the headers for Vista leave out.
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 on

enum class TDll { Kernel32, Ntdll, User32, Bcrypt };

#define FK_DYN_DECLARE(dll, name, type) \
  using T##name = type;                 \
  T##name name();
FK_DYN_CALLS(FK_DYN_DECLARE)
#undef FK_DYN_DECLARE

}  // namespace formkit::dyn
