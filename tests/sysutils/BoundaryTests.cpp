// An exception raised inside a window procedure stops at the Win32 boundary
// and reaches the code that sent or dispatched the message.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>

#include "BoxCapture.h"
#include "SysUtils.h"

using namespace formkit;

namespace {

LRESULT CALLBACK ThrowingProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    if (msg == WM_USER + 7) throw EClassesError("raised in handler " + IntToText(static_cast<std::int32_t>(wParam)));
    if (msg == WM_USER + 8) throw std::runtime_error("raised in a modal loop");
    return DefWindowProcA(window, msg, wParam, lParam);
  } catch (...) {
    StashException();
    return 0;
  }
}

HWND MakeWindow() {
  WNDCLASSA cls = {};
  cls.lpfnWndProc = &ThrowingProc;
  cls.hInstance = GetModuleHandleA(nullptr);
  cls.lpszClassName = "FkBoundaryTest";
  RegisterClassA(&cls);
  return CreateWindowExA(0, "FkBoundaryTest", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// Cancels the thread's dialog (a message box or the folder browser) once it is up.
BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return FALSE;
}
VOID CALLBACK CancelDialogs(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), &CancelDialog, 0); }

}  // namespace

TEST(ExceptionBoundary, ModalCallsRaiseWhatTheirLoopStashed) {
  HWND window = MakeWindow();
  ASSERT_NE(window, nullptr);
  const UINT_PTR timer = SetTimer(nullptr, 0, 200, &CancelDialogs);
  const std::function<void()> modalCalls[] = {
      [] { ShowMessageBox(nullptr, "modal", "FkBoundaryTest", MB_OKCANCEL); },
      [] {
        std::string folder = "C:\\";
        SelectDirectory(nullptr, "modal", folder);
      },
  };
  for (std::size_t i = 0; i < std::size(modalCalls); ++i) {
    // Dispatched by the modal call's own message loop.
    PostMessageA(window, WM_USER + 8, 0, 0);
    EXPECT_THROW(modalCalls[i](), std::runtime_error) << i;
    EXPECT_FALSE(ExceptionPending()) << i;
    try {
      RaisePendingException();
    } catch (...) {
    }
  }
  KillTimer(nullptr, timer);
  DestroyWindow(window);
}

TEST(ExceptionBoundary, SentMessage) {
  fktest::BoxCapture boxes;
  HWND window = MakeWindow();
  ASSERT_NE(window, nullptr);
  SendMessageA(window, WM_USER + 7, 1, 0);
  try {
    RaisePendingException();
    FAIL() << "exception lost";
  } catch (const EClassesError& e) {
    EXPECT_EQ(e.Message, "raised in handler 1");
  }
  DestroyWindow(window);
}

TEST(ExceptionBoundary, DispatchedMessage) {
  fktest::BoxCapture boxes;
  HWND window = MakeWindow();
  ASSERT_NE(window, nullptr);
  PostMessageA(window, WM_USER + 7, 2, 0);
  MSG msg;
  bool caught = false;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageA(&msg);
    try {
      RaisePendingException();
    } catch (const EClassesError& e) {
      EXPECT_EQ(e.Message, "raised in handler 2");
      caught = true;
    }
  }
  EXPECT_TRUE(caught);
  DestroyWindow(window);
}
