// The shared test form, message helpers, and a memory drawing surface whose
// pixels the tests can read.
#pragma once

#include <windows.h>

#include <cstdint>

#include "TestForms.h"

namespace fktest {

// Processes what is queued and forgets a quit message it met.
inline void Drain() {
  formkit::Application->ProcessMessages();
  formkit::Application->Terminated = false;
}

// The test form, created through CreateForm and shown on first use.
inline TTestForm* SharedForm() {
  static TTestForm* form = nullptr;
  if (form == nullptr) {
    formkit::Application->CreateForm(form);
    form->Show();
    Drain();
  }
  return form;
}

// Posts a press to one window and a release to another, then processes them.
inline void PostClick(HWND down, int downX, int downY, HWND up, int upX, int upY) {
  PostMessageA(down, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(downX, downY));
  PostMessageA(up, WM_LBUTTONUP, 0, MAKELPARAM(upX, upY));
  formkit::Application->ProcessMessages();
}

class Surface {
 public:
  Surface(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};  // top-down
    bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    RECT all = {0, 0, width, height};
    SetDCBrushColor(dc_, fill);
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  }
  ~Surface() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  HDC dc() const { return dc_; }
  COLORREF At(int x, int y) const {
    GdiFlush();
    const std::uint32_t p = bits_[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  // Pixels in the rectangle that differ from c.
  int CountOther(int left, int top, int right, int bottom, COLORREF c) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) n += At(x, y) != c;
    return n;
  }
  int CountOther(COLORREF c) const { return CountOther(0, 0, width_, height_, c); }

 private:
  int width_, height_;
  HDC dc_ = CreateCompatibleDC(nullptr);
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* bits_ = nullptr;
};

}  // namespace fktest
