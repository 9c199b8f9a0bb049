// An exception raised inside a window procedure stops at the Win32 boundary
// and reaches the code that sent or dispatched the message.
#include <gtest/gtest.h>

#include <windows.h>

#include "BoxCapture.h"
#include "SysUtils.h"

using namespace formkit;

namespace {

LRESULT CALLBACK ThrowingProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    if (msg == WM_USER + 7) throw EClassesError("raised in handler " + IntToText(static_cast<std::int32_t>(wParam)));
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

}  // namespace

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
