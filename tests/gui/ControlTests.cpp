#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "BoxCapture.h"
#include "ExtCtrls.h"
#include "GuiHelpers.h"

using namespace formkit;
using fktest::Drain;
using fktest::PostClick;
using fktest::SharedForm;
using fktest::Surface;
using fktest::TTestForm;

namespace fktest {

TTestForm* SharedForm() {
  static TTestForm* form = nullptr;
  if (form == nullptr) {
    Application->CreateForm(form);
    form->Show();
    Drain();
  }
  return form;
}

void Drain() {
  Application->ProcessMessages();
  Application->Terminated = false;
}

void PostClick(HWND down, int downX, int downY, HWND up, int upX, int upY) {
  PostMessageA(down, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(downX, downY));
  PostMessageA(up, WM_LBUTTONUP, 0, MAKELPARAM(upX, upY));
  Application->ProcessMessages();
}

}  // namespace fktest

namespace {

const COLORREF kFormColor = 0xF0D0B0;
const COLORREF kMagenta = RGB(255, 0, 255);

std::string WindowText(HWND w) {
  char buf[512] = {};
  GetWindowTextA(w, buf, sizeof buf);
  return buf;
}

}  // namespace

TEST(Controls, StreamBuildsTheControlTree) {
  TTestForm* f = SharedForm();
  ASSERT_NE(f->OkBtn, nullptr);
  ASSERT_NE(f->Logo, nullptr);
  ASSERT_NE(f->PathEdit, nullptr);
  EXPECT_EQ(f->Name, "TestForm");
  EXPECT_EQ(f->CreateCalls, 1);
  EXPECT_EQ(f->Color, static_cast<std::int32_t>(kFormColor));
  EXPECT_EQ(f->OkBtn->Parent, f);
  EXPECT_EQ(f->TitleLabel->Parent, f);
  EXPECT_EQ(f->GraphicChildren.Count, 3);
  EXPECT_EQ(f->WindowedChildren.Count, 5);
  EXPECT_TRUE(f->OkBtn->Transparent);
  EXPECT_FALSE(f->PathEdit->Transparent);
  EXPECT_EQ(f->OkBtn->TabOrder, 2);
  // Labels take the form's font, then their own entries.
  EXPECT_EQ(f->TitleLabel->GetFont()->Name, "Tahoma");
  EXPECT_EQ(f->TitleLabel->GetFont()->Height, -16);
  EXPECT_EQ(f->TitleLabel->GetFont()->Style, fsBold);
  EXPECT_EQ(f->StatusLabel->GetFont()->Height, -13);
  // Windowed controls put the form's font into their canvas, and use a
  // default font of their own for the window.
  EXPECT_EQ(f->PathEdit->GetCanvas()->GetFont()->Name, "Tahoma");
  EXPECT_EQ(f->PathEdit->GetFont()->Name, "");
  EXPECT_EQ(f->PathEdit->GetFont()->Height, 0);
  // The picture block: prefix and BMP file.
  EXPECT_EQ(f->Logo->Picture->DataSize, 12 + 1462);
  EXPECT_EQ(f->Logo->Canvas->OriginX, 32);
  EXPECT_EQ(f->TitleLabel->Canvas->OriginY, 20);
}

TEST(Controls, WindowsAreTakenOver) {
  TTestForm* f = SharedForm();
  for (TWinControl* c : {static_cast<TWinControl*>(f), static_cast<TWinControl*>(f->OkBtn),
                         static_cast<TWinControl*>(f->PathEdit), static_cast<TWinControl*>(f->Option)}) {
    ASSERT_NE(c->Handle, nullptr);
    EXPECT_EQ(GetPropA(c->Handle, "FormKit"), static_cast<HANDLE>(c));
    EXPECT_EQ(GetWindowLongPtrA(c->Handle, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&WindowProcedure));
    if (c != f) {
      EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(c->Handle, WM_GETFONT, 0, 0)), c->GetFont()->Handle);
    }
  }
  EXPECT_EQ(GetParent(f->OkBtn->Handle), f->Handle);
  EXPECT_EQ(GetWindowLongPtrA(f->OkBtn->Handle, GWL_STYLE) & ~WS_VISIBLE, 0x42010000);
  EXPECT_EQ(GetWindowLongPtrA(f->PathEdit->Handle, GWL_STYLE) & ~WS_VISIBLE & 0xFFFF0000, 0x42010000);
  EXPECT_EQ(GetWindowLongPtrA(f->PathEdit->Handle, GWL_EXSTYLE) & 0x10200, 0x10200);
  EXPECT_EQ(GetWindowLongPtrA(f->Option->Handle, GWL_STYLE), 0x50010003);
  EXPECT_EQ(SendMessageA(f->Option->Handle, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // The stream's Text is stored only; the window starts with the Caption.
  EXPECT_EQ(f->PathEdit->Text, "from the stream");
  EXPECT_EQ(f->PathEdit->GetText(), "");
  EXPECT_EQ(f->ProxyEdit->GetText(), "proxy:8080");
  EXPECT_EQ(WindowText(f->OkBtn->Handle), "Install");
  // A form shows every direct child, Visible or not.
  EXPECT_FALSE(f->ProxyEdit->Visible);
  EXPECT_TRUE(IsWindowVisible(f->ProxyEdit->Handle));
  EXPECT_TRUE(IsWindowVisible(f->CancelBtn->Handle));
}

TEST(Controls, ClickNeedsPressAndReleaseInside) {
  TTestForm* f = SharedForm();
  HWND b = f->OkBtn->Handle;
  const int w = f->OkBtn->Width, h = f->OkBtn->Height;
  f->OkClicks = 0;
  PostClick(b, 5, 5, b, w - 1, h - 1);
  EXPECT_EQ(f->OkClicks, 1);
  EXPECT_EQ(f->LastSender, f->OkBtn);
  PostClick(b, 5, 5, b, w, 5);  // one pixel right of the button
  EXPECT_EQ(f->OkClicks, 1);
  PostClick(b, 5, 5, b, 5, h);
  EXPECT_EQ(f->OkClicks, 1);
  PostClick(b, 5, 5, b, -3, 5);  // left of it: negative x
  EXPECT_EQ(f->OkClicks, 1);
  PostClick(b, 5, 5, b, 5, -1);
  EXPECT_EQ(f->OkClicks, 1);
  PostClick(f->Handle, 5, 5, b, 5, 5);  // pressed on the form, released on the button
  EXPECT_EQ(f->OkClicks, 1);
  EXPECT_FALSE(f->OkBtn->MousePressed);
  PostClick(b, 0, 0, b, 0, 0);
  EXPECT_EQ(f->OkClicks, 2);
  // Pressing it with the keyboard calls nothing: its notification goes to the
  // form's former procedure only.
  f->OkBtn->SetFocus();
  SendMessageA(b, WM_KEYDOWN, VK_SPACE, 0x00390001);
  SendMessageA(b, WM_KEYUP, VK_SPACE, 0xC0390001);
  Drain();
  EXPECT_EQ(f->OkClicks, 2);
  Drain();
}

TEST(Controls, ErrorInClickHandlerReachesTheMessageLoop) {
  TTestForm* f = SharedForm();
  f->OkClicks = 0;
  f->OnOk = [] { throw std::runtime_error("handler failed"); };
  HWND b = f->OkBtn->Handle;
  PostMessageA(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  PostMessageA(b, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_THROW(Application->ProcessMessages(), std::runtime_error);
  f->OnOk = nullptr;
  EXPECT_EQ(f->OkClicks, 1);
  EXPECT_FALSE(f->OkBtn->MousePressed);
  EXPECT_FALSE(ExceptionPending());
  Drain();
  // The button still works.
  PostClick(b, 3, 3, b, 3, 3);
  EXPECT_EQ(f->OkClicks, 2);
}

TEST(Controls, QuitInsideHandlerEndsTheLoopAfterTheQueue) {
  TTestForm* f = SharedForm();
  Drain();
  f->OnOk = [f] {
    PostQuitMessage(0);
    PostMessageA(f->Handle, WM_NULL, 0, 0);
    PostMessageA(f->Handle, WM_NULL, 0, 0);
  };
  PostClick(f->OkBtn->Handle, 3, 3, f->OkBtn->Handle, 3, 3);
  f->OnOk = nullptr;
  EXPECT_TRUE(Application->Terminated);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));  // the messages behind it were taken too
  Application->Terminated = false;
}

TEST(Controls, ProcessMessagesOnAnEmptyQueueReturnsAtOnce) {
  SharedForm();
  Drain();
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
  DWORD t = GetTickCount();
  Application->ProcessMessages();
  EXPECT_LT(GetTickCount() - t, 1000u);
  EXPECT_FALSE(Application->Terminated);
}

TEST(Controls, SizeMessageSetsUnsignedWidthAndHeight) {
  TTestForm* f = SharedForm();
  TEdit* e = f->ProxyEdit;
  const int w = e->Width, h = e->Height;
  SendToWindow(e->Handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(402, 229));
  EXPECT_EQ(e->Width, 402);
  EXPECT_EQ(e->Height, 229);
  SendToWindow(e->Handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(40000, 50000));
  EXPECT_EQ(e->Width, 40000);
  EXPECT_EQ(e->Height, 50000);
  SendToWindow(e->Handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w, h));
  // A form keeps its Width: its own handler takes WM_SIZE.
  const int fw = f->Width;
  SendToWindow(f->Handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10));
  EXPECT_EQ(f->Width, fw);
}

TEST(Controls, EraseBackground) {
  TTestForm* f = SharedForm();
  Surface s(f->Width + 10, f->Height + 10, kMagenta);
  EXPECT_EQ(SendToWindow(f->OkBtn->Handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(s.dc()), 0), 1);
  EXPECT_EQ(s.CountOther(kMagenta), 0);
  EXPECT_EQ(SendToWindow(f->Handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(s.dc()), 0), 1);
  EXPECT_EQ(s.CountOther(0, 0, f->Width, f->Height, kFormColor), 0);
  EXPECT_EQ(s.At(f->Width, 0), kMagenta);
}

TEST(Controls, FormPaintsItsWindowlessChildren) {
  TTestForm* f = SharedForm();
  Surface s(f->Width, f->Height, kMagenta);
  SendToWindow(f->Handle, WM_PAINT, reinterpret_cast<WPARAM>(s.dc()), 0);
  // The logo: column 0 green, rows 0-7 red, 8-15 blue, 24x16, wider than the control.
  EXPECT_EQ(s.At(32, 24), RGB(0, 255, 0));
  EXPECT_EQ(s.At(33, 24), RGB(255, 0, 0));
  EXPECT_EQ(s.At(32 + 23, 24 + 7), RGB(255, 0, 0));
  EXPECT_EQ(s.At(33, 24 + 8), RGB(0, 0, 255));
  EXPECT_EQ(s.At(32 + 23, 24 + 15), RGB(0, 0, 255));
  EXPECT_EQ(s.At(32 + 24, 24), kMagenta);
  EXPECT_EQ(s.At(33, 24 + 16), kMagenta);
  EXPECT_EQ(s.At(31, 24), kMagenta);
  // The opaque label fills its bounds with the form's colour and draws text.
  const TLabel* st = f->StatusLabel;
  EXPECT_EQ(s.CountOther(st->Left, st->Top, st->Left + st->Width, st->Top + st->Height, kMagenta),
            st->Width * st->Height);
  EXPECT_GT(s.CountOther(st->Left, st->Top, st->Left + st->Width, st->Top + st->Height, kFormColor), 10);
  // The transparent one only draws its text.
  const TLabel* tl = f->TitleLabel;
  const int inTitle = s.CountOther(tl->Left, tl->Top, tl->Left + tl->Width, tl->Top + tl->Height, kMagenta);
  EXPECT_GT(inTitle, 30);
  EXPECT_LT(inTitle, tl->Width * tl->Height / 2);
  EXPECT_EQ(s.CountOther(tl->Left, tl->Top, tl->Left + tl->Width, tl->Top + tl->Height, kFormColor),
            tl->Width * tl->Height);
  Drain();
}

TEST(Controls, ShownFormOnScreen) {
  TTestForm* f = SharedForm();
  RedrawWindow(f->Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  Drain();
  HDC dc = GetDC(f->Handle);
  EXPECT_EQ(GetPixel(dc, 33, 24), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 33, 24 + 8), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(dc, 5, 5), kFormColor);
  int text = 0;
  for (int y = f->TitleLabel->Top; y < f->TitleLabel->Top + 18; ++y)
    for (int x = f->TitleLabel->Left; x < f->TitleLabel->Left + 120; ++x)
      if (GetPixel(dc, x, y) != kFormColor) ++text;
  EXPECT_GT(text, 30);
  ReleaseDC(f->Handle, dc);
}

TEST(Controls, LabelSetCaptionInvalidatesOnlyItsRectangle) {
  TTestForm* f = SharedForm();
  Drain();
  ValidateRect(f->Handle, nullptr);
  TLabel* st = f->StatusLabel;
  st->SetCaption("Status: loading");
  EXPECT_EQ(st->GetCaption(), "Status: loading");
  RECT r = {};
  ASSERT_TRUE(GetUpdateRect(f->Handle, &r, FALSE));
  EXPECT_EQ(r.left, st->Left);
  EXPECT_EQ(r.top, st->Top);
  EXPECT_EQ(r.right, st->Left + st->Width);
  EXPECT_EQ(r.bottom, st->Top + st->Height);
  Drain();
  EXPECT_FALSE(GetUpdateRect(f->Handle, &r, FALSE));
  // A label without a parent window only stores the text.
  TLabel lone;
  lone.Create(nullptr);
  lone.SetCaption("x");
  EXPECT_EQ(lone.GetCaption(), "x");
}

TEST(Controls, EditText) {
  TTestForm* f = SharedForm();
  TEdit* e = f->PathEdit;
  e->SetText("");
  EXPECT_EQ(e->GetText(), "");
  const std::string longText(225, 'k');
  e->SetText(longText);
  EXPECT_EQ(e->Text, longText);
  EXPECT_EQ(e->GetText(), longText);
  e->SetText("C:\\Program Files\\Product");
  EXPECT_EQ(WindowText(e->Handle), "C:\\Program Files\\Product");

  TEdit early;
  early.Create(nullptr);
  early.SetText("stored");
  EXPECT_EQ(early.Text, "stored");
  EXPECT_EQ(early.Handle, nullptr);
  EXPECT_EQ(early.GetText(), "");
}

TEST(Controls, CaptionShowAndHideOfSingleControls) {
  TTestForm* f = SharedForm();
  f->CancelBtn->SetCaption("Abbrechen");
  EXPECT_EQ(WindowText(f->CancelBtn->Handle), "Abbrechen");
  f->CancelBtn->Hide();
  EXPECT_FALSE(IsWindowVisible(f->CancelBtn->Handle));
  f->CancelBtn->Show();
  EXPECT_TRUE(IsWindowVisible(f->CancelBtn->Handle));
  f->CancelBtn->SetCaption("Cancel");
  Drain();
}

TEST(Controls, WindowWithoutPropertyGetsDefaultHandling) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &WindowProcedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "FkBareTest";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND w = CreateWindowExA(0, "FkBareTest", "bare", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(WindowText(w), "bare");
  SendMessageA(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("changed"));
  EXPECT_EQ(WindowText(w), "changed");
  DestroyWindow(w);
  UnregisterClassA("FkBareTest", GetModuleHandleA(nullptr));
  Drain();
}

namespace {
int paintCalls = 0;
void CountPaint(TObject*, TObject*) { ++paintCalls; }
void FailPaint(TObject*, TObject*) {
  ++paintCalls;
  throw std::runtime_error("paint failed");
}
}  // namespace

TEST(Controls, ImageWithoutPictureIsAPlainGraphicControl) {
  TImage image;
  image.Create(nullptr);
  image.OnPaint = {&CountPaint, nullptr};
  paintCalls = 0;
  image.Paint();
  EXPECT_EQ(paintCalls, 1);
  EXPECT_EQ(image.Picture, nullptr);
  image.Transparent = true;  // a transparent control calls no OnPaint
  image.Paint();
  EXPECT_EQ(paintCalls, 1);
  EXPECT_EQ(image.FindSubObject("Picture"), image.GetPicture());
  TPersistent* font = image.FindSubObject("Font");  // created on request
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font, image.Font.get());
  EXPECT_EQ(image.FindSubObject("font"), nullptr);
}

TEST(Controls, ErrorInPaintHandlerReachesTheLoopOnce) {
  TTestForm* f = SharedForm();
  Drain();
  f->OnPaint = {&FailPaint, nullptr};
  paintCalls = 0;
  InvalidateRect(f->Handle, nullptr, TRUE);
  EXPECT_THROW(Application->ProcessMessages(), std::runtime_error);
  f->OnPaint = {};
  // The window was validated all the same: no second paint is waiting.
  EXPECT_NO_THROW(Drain());
  EXPECT_EQ(paintCalls, 1);
}
