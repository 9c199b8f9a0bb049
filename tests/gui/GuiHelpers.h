// A memory drawing surface whose pixels the tests can read.
#pragma once

#include <windows.h>

#include <cstdint>

namespace fktest {

class Surface {
 public:
  Surface(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down: row 0 is y = 0
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    Fill(fill);
  }
  ~Surface() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  HDC dc() const { return dc_; }
  void Fill(COLORREF c) {
    GdiFlush();
    for (int i = 0; i < width_ * height_; ++i) bits_[i] = ToPixel(c);
  }
  // As a COLORREF (0x00BBGGRR).
  COLORREF At(int x, int y) const {
    GdiFlush();
    std::uint32_t p = bits_[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  // Pixels in the rectangle that differ from c.
  int CountOther(int left, int top, int right, int bottom, COLORREF c) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x)
        if (At(x, y) != c) ++n;
    return n;
  }
  int CountOther(COLORREF c) const { return CountOther(0, 0, width_, height_, c); }

 private:
  static std::uint32_t ToPixel(COLORREF c) {
    return (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
  }
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* bits_ = nullptr;
};

}  // namespace fktest

#include "TestForms.h"

namespace fktest {

// The test form, created through CreateForm and shown on first use.
TTestForm* SharedForm();
// Processes what is queued and forgets a quit message it met.
void Drain();
// Posts a press to one window and a release to another, then processes them.
void PostClick(HWND down, int downX, int downY, HWND up, int upX, int upY);

}  // namespace fktest
