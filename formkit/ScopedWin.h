// Scoped owners of Win32 handles. Each releases what it holds on every way
// out of its scope, so no exit path needs a hand-written release. Release
// failures are not reported: a destructor has nowhere to send them.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <wininet.h>

#include <atomic>
#include <utility>

#include "DynCalls_win.h"

namespace formkit {

// A handle of type T that counts as empty when it equals Traits::Invalid(),
// released by Traits::Release.
template <class Traits>
class TScoped {
 public:
  using Type = typename Traits::Type;
  TScoped() = default;
  explicit TScoped(Type handle) : handle_(handle) {}
  ~TScoped() { Reset(); }
  TScoped(const TScoped&) = delete;
  TScoped& operator=(const TScoped&) = delete;
  TScoped(TScoped&& other) noexcept : handle_(other.Detach()) {}
  TScoped& operator=(TScoped&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  Type Get() const { return handle_; }
  bool Valid() const { return handle_ != Traits::Invalid(); }
  explicit operator bool() const { return Valid(); }
  // For out-parameters of the API calls that create the handle.
  Type* Out() {
    Reset();
    return &handle_;
  }
  Type Detach() { return std::exchange(handle_, Traits::Invalid()); }
  void Reset(Type handle = Traits::Invalid()) {
    Type old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Release(old);
  }

 private:
  Type handle_ = Traits::Invalid();
};

namespace scoped_traits {
struct Kernel {  // events, threads, semaphores: nullptr when absent
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Release(Type h) { CloseHandle(h); }
};
struct File {  // CreateFile: INVALID_HANDLE_VALUE when absent
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Type h) { CloseHandle(h); }
};
struct Find {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Type h) { FindClose(h); }
};
struct RegKey {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Release(Type h) { RegCloseKey(h); }
};
struct Module {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Release(Type h) { FreeLibrary(h); }
};
template <class T>  // a GDI object's type: HFONT, HBRUSH
struct Gdi {
  using Type = T;
  static Type Invalid() { return nullptr; }
  static void Release(Type h) { DeleteObject(h); }
};
struct CoTaskMem {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Release(Type p) { CoTaskMemFree(p); }
};
// bcrypt's handles; they exist only when bcrypt was loaded.
struct BcryptAlgorithm {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Release(Type h) { dyn::BCryptCloseAlgorithmProvider()(h, 0); }
};
struct BcryptHash {  // its object's memory is left to bcrypt
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Release(Type h) { dyn::BCryptDestroyHash()(h); }
};
struct BcryptKey {
  using Type = BCRYPT_KEY_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Release(Type h) { dyn::BCryptDestroyKey()(h); }
};
}  // namespace scoped_traits

using TScopedHandle = TScoped<scoped_traits::Kernel>;
using TScopedFile = TScoped<scoped_traits::File>;
using TScopedFind = TScoped<scoped_traits::Find>;
using TScopedKey = TScoped<scoped_traits::RegKey>;
using TScopedModule = TScoped<scoped_traits::Module>;
using TScopedFont = TScoped<scoped_traits::Gdi<HFONT>>;
using TScopedBrush = TScoped<scoped_traits::Gdi<HBRUSH>>;
using TScopedCoTaskMem = TScoped<scoped_traits::CoTaskMem>;
using TScopedBcryptAlgorithm = TScoped<scoped_traits::BcryptAlgorithm>;
using TScopedBcryptHash = TScoped<scoped_traits::BcryptHash>;
using TScopedBcryptKey = TScoped<scoped_traits::BcryptKey>;

// A WinInet handle (session, connection, request). A thread blocked in a call
// on it holds it too, and closing the handle is what ends that call, so either
// thread may close it: the exchange lets only one of them. Close() reports
// the result where it counts. Only programs that link wininet use it.
class TScopedInet {
 public:
  TScopedInet() = default;
  explicit TScopedInet(HINTERNET handle) : handle_(handle) {}
  ~TScopedInet() { Close(); }
  TScopedInet(const TScopedInet&) = delete;
  TScopedInet& operator=(const TScopedInet&) = delete;

  HINTERNET Get() const { return handle_.load(); }
  explicit operator bool() const { return Get() != nullptr; }
  // Takes handle and closes the one held before: false when that close failed.
  bool Reset(HINTERNET handle = nullptr) {
    HINTERNET old = handle_.exchange(handle);
    return old == nullptr || InternetCloseHandle(old) != FALSE;
  }
  bool Close() { return Reset(); }

 private:
  std::atomic<HINTERNET> handle_{nullptr};
};

// A window's device context from GetDC, given back with ReleaseDC.
class TWindowDC {
 public:
  explicit TWindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~TWindowDC() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint .. EndPaint.
class TPaintDC {
 public:
  explicit TPaintDC(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~TPaintDC() {
    if (dc_ != nullptr) EndPaint(window_, &paint_);
  }
  TPaintDC(const TPaintDC&) = delete;
  TPaintDC& operator=(const TPaintDC&) = delete;
  HDC Get() const { return dc_; }
  const PAINTSTRUCT& Paint() const { return paint_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_ = {};
  HDC dc_;
};

// Selects an object into a DC and puts the previous one back.
class TSelectObject {
 public:
  TSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object != nullptr ? SelectObject(dc, object) : nullptr) {}
  ~TSelectObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// COM for the current thread, released only when this call initialised it.
class TComInit {
 public:
  TComInit() : result_(CoInitialize(nullptr)) {}
  ~TComInit() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  TComInit(const TComInit&) = delete;
  TComInit& operator=(const TComInit&) = delete;
  bool Ok() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

}  // namespace formkit
