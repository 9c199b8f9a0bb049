// The toolkit with real windows: graphics on memory surfaces, then controls
// and forms built from the test form resources.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

#include "BoxCapture.h"
#include "PictureBlocks.h"
#include "ScopedWin.h"
#include "TestForms.h"

using namespace formkit;
using namespace fktest;

namespace {

// Processes what is queued and forgets a quit message it met.
void Drain() {
  Application->ProcessMessages();
  Application->Terminated = false;
}

// The test form, created through CreateForm and shown on first use.
TTestForm* SharedForm() {
  static TTestForm* form = nullptr;
  if (form == nullptr) {
    Application->CreateForm(form);
    form->Show();
    Drain();
  }
  return form;
}

// Posts a press at (3, 3) to one window and a release to another, then processes them.
void PostClick(HWND down, HWND up, int upX = 3, int upY = 3) {
  PostMessageA(down, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  PostMessageA(up, WM_LBUTTONUP, 0, MAKELPARAM(upX, upY));
  Application->ProcessMessages();
}

// A memory drawing surface whose pixels the tests can read.
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
  int CountOther(const TCustomControl* r, COLORREF c) const {
    return CountOther(r->Left, r->Top, r->Left + r->Width, r->Top + r->Height, c);
  }

 private:
  int width_, height_;
  HDC dc_ = CreateCompatibleDC(nullptr);
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* bits_ = nullptr;
};

const COLORREF kWhite = RGB(255, 255, 255), kMagenta = RGB(255, 0, 255), kFormColor = 0xF0D0B0;
const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);

std::string WindowText(HWND w) {
  char buf[512] = {};
  GetWindowTextA(w, buf, sizeof buf);
  return buf;
}

int paintCalls = 0;
void FailPaint(TObject*, TObject*) {
  ++paintCalls;
  throw std::runtime_error("paint failed");
}
void FailDestroy(TObject*, TObject*) { throw std::runtime_error("destroy failed"); }
// An event handler that closes the form given as its data.
void CloseForm(TObject* form, TObject*) { static_cast<TCustomForm*>(form)->Close(); }

// Cancels the thread's dialog (a message box or the folder browser) once it is up.
BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return FALSE;
}
VOID CALLBACK CancelDialogs(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), &CancelDialog, 0); }

// A form whose memory outlives it: on destruction every word becomes Fill
// (0, or a window handle standing for a reused one). Code that still reads
// the dead form sees that word; code that writes to it leaves a trace.
class TDeadForm : public TForm {
 public:
  static void* operator new(std::size_t size) {
    Size = size;
    return Block = ::operator new(size);
  }
  static void operator delete(void* block, std::size_t size) {
    auto* words = static_cast<std::uintptr_t*>(block);
    for (std::size_t i = 0; i < size / sizeof(std::uintptr_t); ++i) words[i] = Fill;
  }
  // Frees the block; false when something wrote to it after the form died.
  static bool ReleaseUntouched() {
    const auto* words = static_cast<const std::uintptr_t*>(Block);
    bool untouched = true;
    for (std::size_t i = 0; i < Size / sizeof(std::uintptr_t); ++i) untouched = untouched && words[i] == Fill;
    ::operator delete(Block);
    return untouched;
  }
  static inline void* Block = nullptr;
  static inline std::size_t Size = 0;
  static inline std::uintptr_t Fill = 0;
};

void Draw(const std::vector<std::uint8_t>& block, Surface& s) {
  TCanvas canvas;
  canvas.Handle = s.dc();
  TPicture p;
  p.DataSize = static_cast<std::int32_t>(block.size());
  p.Data.reset(new std::uint8_t[block.size() + 1]);
  std::memcpy(p.Data.get(), block.data(), block.size());
  p.Draw(BoundsToRect(5, 6, 1, 1), canvas);
}

// A form without a resource, its window created.
template <class F = TForm>
F* BareForm() {
  auto* f = new F();
  f->Create(nullptr);
  f->Width = 300;
  f->Height = 200;
  f->EnsureWindow();
  return f;
}

}  // namespace

// Position, bottom-up rows and no clipping are seen in the test form's logo.
TEST(Picture, DrawsTopDownRowsAndNothingOfADamagedBlock) {
  Surface s(20, 20, kWhite);
  auto damaged = MakeBlock();
  Put32(damaged, 34, 4000);  // more rows than the block holds
  Draw(damaged, s);
  EXPECT_EQ(s.CountOther(0, 0, 20, 20, kWhite), 0);
  Draw(MakeBlock(-3), s);
  EXPECT_EQ(s.At(5, 6), kRed);
  EXPECT_EQ(s.At(8, 8), kBlue);
}

TEST(Font, HandleFollowsTheFields) {
  TFont f;
  f.Style = fsBold | fsItalic;
  f.Name = std::string(31, 'A') + "BCDEF";  // cut to what the record holds
  TFont other;
  HFONT old = other.GetHandle();
  other.CopyFrom(f);  // always drops the handle
  EXPECT_EQ(GetObjectType(old), 0u);
  LOGFONTA lf = {};
  GetObjectA(other.GetHandle(), sizeof lf, &lf);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_EQ(std::string(lf.lfFaceName), std::string(31, 'A'));
}

TEST(Controls, StreamBuildsTheFormAndTakesOverItsWindows) {
  TTestForm* f = SharedForm();
  ASSERT_NE(f->OkBtn, nullptr);
  EXPECT_EQ(f->CreateCalls, 1);
  EXPECT_EQ(Application->MainForm, f);
  EXPECT_EQ(f->GraphicChildren.Count, 3);
  EXPECT_EQ(f->WindowedChildren.Count, 5);
  // A dialog centred at its client size, without a system menu.
  const NONCLIENTMETRICSA& m = Application->NonClientMetrics;
  EXPECT_EQ(f->Width, 402 + 2 * m.iBorderWidth);
  EXPECT_EQ(f->Height, 229 + m.iCaptionHeight + 4 * m.iBorderWidth);
  RECT r;
  GetWindowRect(f->Handle, &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - f->Width) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - f->Height) / 2);
  EXPECT_EQ(GetWindowLongPtrA(f->Handle, GWL_STYLE) & WS_SYSMENU, 0);
  // Labels take the form's font, then their own entries; windowed controls
  // put it in their canvas and keep a default font for the window.
  EXPECT_EQ(f->TitleLabel->GetFont()->Name, "Tahoma");
  EXPECT_EQ(f->TitleLabel->GetFont()->Height, -16);
  EXPECT_EQ(f->PathEdit->GetCanvas()->GetFont()->Name, "Tahoma");
  EXPECT_EQ(f->PathEdit->GetFont()->Name, "");
  for (TWinControl* c : {static_cast<TWinControl*>(f), static_cast<TWinControl*>(f->OkBtn),
                         static_cast<TWinControl*>(f->PathEdit), static_cast<TWinControl*>(f->Option)}) {
    ASSERT_NE(c->Handle, nullptr);
    EXPECT_EQ(GetPropA(c->Handle, "FormKit"), static_cast<HANDLE>(c));
    EXPECT_EQ(GetWindowLongPtrA(c->Handle, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&WindowProcedure));
  }
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(f->OkBtn->Handle, WM_GETFONT, 0, 0)), f->OkBtn->GetFont()->Handle);
  // The stream's Text is stored only; the window starts with the Caption.
  EXPECT_EQ(f->PathEdit->GetText(), "");
  EXPECT_EQ(f->ProxyEdit->GetText(), "proxy:8080");
  EXPECT_TRUE(IsWindowVisible(f->ProxyEdit->Handle));  // a form shows every direct child, Visible or not
  // WM_SIZE carries unsigned sizes.
  const int w = f->ProxyEdit->Width, h = f->ProxyEdit->Height;
  SendToWindow(f->ProxyEdit->Handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(40000, 50000));
  EXPECT_EQ(f->ProxyEdit->Width, 40000);
  EXPECT_EQ(f->ProxyEdit->Height, 50000);
  SendToWindow(f->ProxyEdit->Handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w, h));
}

TEST(Controls, ClickNeedsPressAndReleaseInside) {
  TTestForm* f = SharedForm();
  HWND b = f->OkBtn->Handle;
  const int w = f->OkBtn->Width, h = f->OkBtn->Height;
  const struct {
    HWND down;
    int x, y, clicks;
  } cases[] = {{b, w - 1, h - 1, 1}, {b, w, 5, 0}, {b, 5, h, 0}, {b, -3, 5, 0}, {b, 5, -1, 0},
               {f->Handle, 5, 5, 0}, {b, 0, 0, 1}};
  for (const auto& c : cases) {
    f->OkClicks = 0;
    PostClick(c.down, b, c.x, c.y);
    EXPECT_EQ(f->OkClicks, c.clicks) << c.x << "," << c.y;
    EXPECT_FALSE(f->OkBtn->MousePressed);
  }
  EXPECT_EQ(f->LastSender, f->OkBtn);
}

// The window procedure catches what a handler raises; it comes out once where
// the Win32 call that ran the handler returns, and the control goes on working.
TEST(Controls, HandlerErrorsReachTheCallerOnce) {
  TTestForm* f = SharedForm();
  HWND b = f->OkBtn->Handle;
  Drain();
  f->OnOk = [] { throw std::runtime_error("handler failed"); };
  EXPECT_THROW(PostClick(b, b), std::runtime_error);
  SendMessageA(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  SendMessageA(b, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_THROW(RaisePendingException(), std::runtime_error);
  // Dispatched by the loop of a message box or the folder browser.
  const UINT_PTR timer = SetTimer(nullptr, 0, 200, &CancelDialogs);
  const std::function<void()> modalCalls[] = {
      [] { ShowMessageBox(nullptr, "modal", "FkBoundaryTest", MB_OKCANCEL); },
      [] {
        std::string folder = "C:\\";
        SelectDirectory(nullptr, "modal", folder);
      },
  };
  for (const auto& call : modalCalls) {
    PostMessageA(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageA(b, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    EXPECT_THROW(call(), std::runtime_error);
  }
  KillTimer(nullptr, timer);
  f->OnOk = nullptr;
  EXPECT_FALSE(f->OkBtn->MousePressed);
  EXPECT_FALSE(ExceptionPending());
  f->OkClicks = 0;
  PostClick(b, b);
  EXPECT_EQ(f->OkClicks, 1);

  f->OnPaint = {&FailPaint, nullptr};
  paintCalls = 0;
  InvalidateRect(f->Handle, nullptr, TRUE);
  EXPECT_THROW(Application->ProcessMessages(), std::runtime_error);
  f->OnPaint = {};
  EXPECT_NO_THROW(Drain());  // validated all the same: no second paint
  EXPECT_EQ(paintCalls, 1);
}

// The windowless children are painted after the form's former procedure, so
// nothing paints over them.
TEST(Controls, FormPaintsItsWindowlessChildren) {
  TTestForm* f = SharedForm();
  RedrawWindow(f->Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  Drain();
  Surface s(f->Width, f->Height, kMagenta);
  {
    TWindowDC dc(f->Handle);
    BitBlt(s.dc(), 0, 0, f->Width, f->Height, dc.Get(), 0, 0, SRCCOPY);
  }
  // The 24x16 logo at its control's place, not cut to its 20x10 bounds:
  // column 0 green, rows 0-7 red, 8-15 blue.
  EXPECT_EQ(s.At(32, 24), kGreen);
  EXPECT_EQ(s.At(32 + 23, 24 + 7), kRed);
  EXPECT_EQ(s.At(33, 24 + 8), kBlue);
  EXPECT_EQ(s.At(5, 5), kFormColor);
  // The opaque label fills its bounds; the transparent one only draws text.
  EXPECT_GT(s.CountOther(f->TitleLabel, kFormColor), 30);
  EXPECT_GT(s.CountOther(f->StatusLabel, kFormColor), 10);
  Surface t(f->Width, f->Height, kMagenta);
  SendToWindow(f->Handle, WM_PAINT, reinterpret_cast<WPARAM>(t.dc()), 0);
  EXPECT_EQ(t.CountOther(f->StatusLabel, kMagenta), f->StatusLabel->Width * f->StatusLabel->Height);
  EXPECT_EQ(t.CountOther(f->TitleLabel, kFormColor), f->TitleLabel->Width * f->TitleLabel->Height);
  Drain();
}

TEST(Controls, TextsOfLabelsEditsAndButtons) {
  TTestForm* f = SharedForm();
  Drain();
  ValidateRect(f->Handle, nullptr);
  TLabel* st = f->StatusLabel;
  st->SetCaption("Status: loading");
  RECT r = {};
  ASSERT_TRUE(GetUpdateRect(f->Handle, &r, FALSE));  // only the label's rectangle
  EXPECT_EQ(r.left, st->Left);
  EXPECT_EQ(r.bottom, st->Top + st->Height);
  const std::string longText(225, 'k');
  f->PathEdit->SetText(longText);
  EXPECT_EQ(f->PathEdit->GetText(), longText);
  f->CancelBtn->SetCaption("Abbrechen");
  EXPECT_EQ(WindowText(f->CancelBtn->Handle), "Abbrechen");
  Drain();
  TEdit early;  // without a window the text is only stored
  early.Create(nullptr);
  early.SetText("stored");
  EXPECT_EQ(early.Text, "stored");
  EXPECT_EQ(early.GetText(), "");
}

TEST(Controls, WindowWithoutPropertyGetsDefaultHandling) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &WindowProcedure;
  wc.lpszClassName = "FkBareTest";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND w = CreateWindowExA(0, "FkBareTest", "bare", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  SendMessageA(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("changed"));
  EXPECT_EQ(WindowText(w), "changed");
  DestroyWindow(w);
}

// A form read with bytes left over, and one whose stream fails.
TEST(Forms, LeftOverBytesAreShownAndAReadingErrorLeavesTheReferenceNil) {
  TTestForm* main = SharedForm();
  BoxCapture boxes;
  TDefaultForm* f = nullptr;
  Application->CreateForm(f);
  ASSERT_NE(f, nullptr);  // the form is used as read
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, "2 ResSize mismatch");
  EXPECT_EQ(boxes.Boxes()[0].Caption, "DefaultForm:TDefaultForm");
  EXPECT_EQ(Application->MainForm, main);  // a second form is not the main form
  f->EnsureWindow();
  EXPECT_EQ(f->Left, static_cast<std::int32_t>(CW_USEDEFAULT));  // no Position: Windows places it
  f->Close();
  Drain();
  auto* bad = reinterpret_cast<TBadForm*>(static_cast<std::uintptr_t>(1));
  EXPECT_THROW(Application->CreateForm(bad), EClassesError);
  EXPECT_EQ(bad, nullptr);
}

// The form and its windows go; the button lets go of its dead window's
// handle (WM_NCDESTROY), which another window may get.
TEST(Forms, ClickHandlerMayCloseItsForm) {
  SharedForm();
  Drain();
  TTestForm* f = nullptr;
  Application->CreateForm(f);
  f->Show();
  Drain();
  TButton* button = f->CancelBtn;
  button->OnClick = {&CloseForm, f};
  HWND formWindow = f->Handle, buttonWindow = button->Handle;
  PostClick(buttonWindow, buttonWindow);
  EXPECT_FALSE(IsWindow(formWindow));
  EXPECT_TRUE(Application->Terminated);  // window destruction posts the quit message
  EXPECT_EQ(button->Parent, nullptr);    // the form's destructor ran
  EXPECT_EQ(button->Handle, nullptr);
  Application->Terminated = false;
}

TEST(Forms, NothingTouchesAFormThatAHandlerClosed) {
  SharedForm();
  Drain();
  // A paint handler closes the form: the children are not painted from it.
  TDeadForm::Fill = 0;
  TDeadForm* f = BareForm<TDeadForm>();
  f->OnPaint = {&CloseForm, f};
  f->Paint();
  EXPECT_TRUE(TDeadForm::ReleaseUntouched());
  Drain();
  // A click handler run by Reshow closes it: Reshow stops and shows no window
  // through the dead form's handle.
  HWND reused = CreateWindowExA(0, "STATIC", "reused", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  TDeadForm::Fill = reinterpret_cast<std::uintptr_t>(reused);
  f = BareForm<TDeadForm>();
  f->OnClick = {&CloseForm, f};
  PostMessageA(f->Handle, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  PostMessageA(f->Handle, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  EXPECT_FALSE(f->Reshow());
  EXPECT_FALSE(IsWindowVisible(reused));
  EXPECT_TRUE(TDeadForm::ReleaseUntouched());
  DestroyWindow(reused);
  Drain();
}

TEST(Forms, ClosingEndsTheFormWhateverHappens) {
  TTestForm* main = SharedForm();
  TForm* f = BareForm();
  Application->MainForm = f;
  HWND w = f->Handle;
  f->OnDestroy = {&FailDestroy, nullptr};
  EXPECT_THROW(f->Close(), std::runtime_error);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_EQ(Application->MainForm, nullptr);
  Application->MainForm = main;
  // A window the system destroyed is not created again.
  f = BareForm();
  SendMessageA(f->Handle, WM_CLOSE, 0, 0);
  f->Show();
  EXPECT_EQ(f->Handle, nullptr);
  delete f;
  Drain();
}

// A quit posted by a handler ends the loop once the queue is empty; Run
// without a main form returns at once; Reshow processes what is queued.
TEST(Forms, MessageLoops) {
  TTestForm* main = SharedForm();
  Drain();
  main->OnOk = [main] {
    PostQuitMessage(0);
    PostMessageA(main->Handle, WM_NULL, 0, 0);
  };
  PostClick(main->OkBtn->Handle, main->OkBtn->Handle);
  main->OnOk = nullptr;
  EXPECT_TRUE(Application->Terminated);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  Application->Terminated = false;
  Application->MainForm = nullptr;
  PostMessageA(main->Handle, WM_NULL, 0, 0);
  Application->Run();
  EXPECT_TRUE(PeekMessageA(&m, main->Handle, WM_NULL, WM_NULL, PM_NOREMOVE));
  Application->MainForm = main;
  EXPECT_TRUE(main->Reshow());
  EXPECT_FALSE(PeekMessageA(&m, main->Handle, WM_NULL, WM_NULL, PM_NOREMOVE));
  const int shows = main->ShowCalls;
  PostQuitMessage(0);
  Application->Run();
  EXPECT_EQ(main->ShowCalls, shows + 1);
  EXPECT_TRUE(Application->Terminated);
  Application->Terminated = false;
}

TEST(Forms, MinimizingToTheTray) {
  SharedForm();
  TForm* f = BareForm();
  f->Caption = std::string(100, 't');  // longer than a tip holds
  SendToWindow(f->Handle, WM_SIZE, SIZE_MINIMIZED, 0);
  EXPECT_FALSE(f->InTray);  // off unless asked for
  ShowWindow(f->Handle, SW_SHOW);
  f->MinimizeToTray = true;
  SendToWindow(f->Handle, WM_SIZE, SIZE_MINIMIZED, 0);
  EXPECT_TRUE(f->InTray);
  EXPECT_FALSE(IsWindowVisible(f->Handle));
  SendToWindow(f->Handle, kTrayIconMessage, 0, WM_LBUTTONDOWN);  // a click on the icon restores it
  EXPECT_TRUE(IsWindowVisible(f->Handle));
  SendToWindow(f->Handle, WM_SIZE, SIZE_RESTORED, 0);
  EXPECT_FALSE(f->InTray);
  f->Close();
  Drain();
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  StartToolkit();
  Application->Initialize();
  const int result = RUN_ALL_TESTS();
  FinishToolkit();
  return result;
}
