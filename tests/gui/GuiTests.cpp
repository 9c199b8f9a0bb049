// The toolkit with real windows: graphics on memory surfaces, then controls
// and forms built from the test form resources.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>

#include "BoxCapture.h"
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
  Surface(int width, int height, COLORREF fill)
      : bitmap_(CreateCompatibleBitmap(TWindowDC(nullptr).Get(), width, height)), old_(SelectObject(dc_, bitmap_)) {
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
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
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
  HDC dc_ = CreateCompatibleDC(nullptr);
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

const COLORREF kWhite = RGB(255, 255, 255), kMagenta = RGB(255, 0, 255), kFormColor = 0xF0D0B0;
const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);

int paintCalls = 0;
void FailPaint(TObject*, TObject*) {
  ++paintCalls;
  throw std::runtime_error("paint failed");
}
int cancelClicks = 0;
void CountCancel(TObject*, TObject*) { ++cancelClicks; }
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

// A child window's rectangle in its parent's client area, and a control's bounds.
std::tuple<int, int, int, int> PlaceOf(HWND child) {
  RECT r = {};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right, r.bottom};
}
std::tuple<int, int, int, int> BoundsOf(const TCustomControl* c) {
  return {c->Left, c->Top, c->Left + c->Width, c->Top + c->Height};
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

// A clear brush has no handle; FillRect would take a null one for a system colour.
TEST(Canvas, FillRectAddsTheOriginAndAClearBrushFillsNothing) {
  Surface s(40, 40, kWhite);
  TCanvas c;
  c.Handle = s.dc();
  c.SetOrigin(10, 20);
  c.GetBrush()->SetColor(kRed);
  c.FillRect(BoundsToRect(0, 0, 5, 4));
  EXPECT_EQ(s.CountOther(10, 20, 15, 24, kRed), 0);
  EXPECT_EQ(s.CountOther(0, 0, 40, 40, kWhite), 20);
  c.GetBrush()->Style = bsClearBrush;
  c.GetBrush()->SetHandle(nullptr);
  c.FillRect(BoundsToRect(0, 0, 20, 20));
  EXPECT_EQ(s.CountOther(0, 0, 40, 40, kWhite), 20);
}

TEST(Font, HandleFollowsTheFields) {
  TFont f;
  f.Style = fsBold;
  f.Name = std::string(31, 'A') + "BCDEF";  // cut to what the record holds
  TFont other;
  HFONT old = other.GetHandle();
  other.CopyFrom(f);  // always drops the handle
  EXPECT_EQ(GetObjectType(old), 0u);
  LOGFONTA lf = {};
  GetObjectA(other.GetHandle(), sizeof lf, &lf);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(std::string(lf.lfFaceName), std::string(31, 'A'));
}

TEST(Controls, StreamBuildsTheFormAndTakesOverItsWindows) {
  TTestForm* f = SharedForm();
  ASSERT_NE(f->OkBtn, nullptr);
  EXPECT_EQ(Application->MainForm, f);
  EXPECT_EQ(f->GraphicChildren.Count, 3);
  EXPECT_EQ(f->WindowedChildren.Count, 5);
  // A dialog centred on the screen, without a system menu, sized from its client size.
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
  for (TWinControl* c : std::initializer_list<TWinControl*>{f, f->OkBtn, f->PathEdit, f->Option}) {
    ASSERT_NE(c->Handle, nullptr);
    EXPECT_EQ(GetPropA(c->Handle, "FormKit"), static_cast<HANDLE>(c));
    EXPECT_EQ(GetWindowLongPtrA(c->Handle, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&WindowProcedure));
  }
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(f->OkBtn->Handle, WM_GETFONT, 0, 0)), f->OkBtn->GetFont()->Handle.Get());
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

// One click per press: a button's own click notification for a mouse
// release is not a second one.
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
}

// Keys as a dialog box takes them, sent to the focused control.
TEST(Controls, KeysFollowTabOrderAndPressButtonsOnce) {
  TTestForm* f = SharedForm();
  f->CancelBtn->OnClick = {&CountCancel, nullptr};
  // framed: the button with the default frame, which tells what Enter presses.
  const struct { TWinControl *from; WPARAM key; TWinControl *focus, *framed; int ok, cancel; } rows[] = {
      // Tab walks the whole TabOrder; creation order would take another step in each row.
      {f->ProxyEdit, VK_TAB, f->OkBtn, f->OkBtn, 0, 0},        // the same TabOrder: creation order
      {f->OkBtn, VK_TAB, f->PathEdit, f->OkBtn, 0, 0},
      {f->PathEdit, VK_TAB, f->Option, f->OkBtn, 0, 0},
      {f->Option, VK_TAB, f->CancelBtn, f->CancelBtn, 0, 0},
      {f->CancelBtn, VK_TAB, f->ProxyEdit, f->OkBtn, 0, 0},    // round to the first
      {f->ProxyEdit, VK_RETURN, f->ProxyEdit, f->OkBtn, 1, 0},  // no button focused: the Default one
      {f->CancelBtn, VK_RETURN, f->CancelBtn, f->CancelBtn, 0, 1},  // the focused button
      {f->PathEdit, VK_ESCAPE, f->PathEdit, f->OkBtn, 0, 1},   // the Cancel one
      {f->OkBtn, VK_SPACE, f->OkBtn, f->OkBtn, 1, 0},          // the button's own notification
  };
  const auto framed = [](TWinControl* b) { return (GetWindowLongPtrA(b->Handle, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0; };
  for (const auto& r : rows) {
    r.from->SetFocus();
    f->OkClicks = cancelClicks = 0;
    PostMessageA(r.from->Handle, WM_KEYDOWN, r.key, 1);
    PostMessageA(r.from->Handle, WM_KEYUP, r.key, 0xC0000001);
    Drain();
    EXPECT_EQ(std::make_tuple(GetFocus(), f->OkClicks, cancelClicks, framed(f->OkBtn), framed(f->CancelBtn)),
              std::make_tuple(r.focus->Handle, r.ok, r.cancel, r.framed == f->OkBtn, r.framed == f->CancelBtn))
        << r.key;
  }
  f->CancelBtn->OnClick = {};
}

// The window procedure catches what a handler raises; it comes out once where
// the Win32 call that ran the handler returns, and the control goes on working.
TEST(Controls, HandlerErrorsReachTheCallerOnce) {
  TTestForm* f = SharedForm();
  HWND b = f->OkBtn->Handle;
  Drain();
  f->OnOk = [] { throw std::runtime_error("handler failed"); };
  EXPECT_THROW(PostClick(b, b), std::runtime_error);
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
// nothing paints over them. A high-contrast theme replaces the form's colours
// with the system's window colours, the picture's stay.
TEST(Controls, FormPaintsItsWindowlessChildren) {
  TTestForm* f = SharedForm();
  f->StatusLabel->GetFont()->Color = kRed;
  for (const bool highContrast : {false, true}) {
    HighContrastColors = highContrast;
    const COLORREF back = highContrast ? GetSysColor(COLOR_WINDOW) : kFormColor;
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
    EXPECT_EQ(s.At(5, 5), back);
    EXPECT_GT(s.CountOther(f->TitleLabel, back), 30);  // its text
    const TCustomControl* st = f->StatusLabel;
    const int area = st->Width * st->Height;
    EXPECT_EQ(area - s.CountOther(st, kRed) > 0, !highContrast);
    EXPECT_EQ(area - s.CountOther(st, GetSysColor(COLOR_WINDOWTEXT)) > 0, highContrast);
    // The opaque label fills its bounds; the transparent one only draws text.
    Surface t(f->Width, f->Height, kMagenta);
    SendToWindow(f->Handle, WM_PAINT, reinterpret_cast<WPARAM>(t.dc()), 0);
    EXPECT_EQ(t.CountOther(st, kMagenta), area);
    EXPECT_EQ(t.CountOther(f->TitleLabel, back), f->TitleLabel->Width * f->TitleLabel->Height);
  }
  HighContrastColors = false;
  f->StatusLabel->GetFont()->Color = 0;
  Drain();
}

// A label's window, which paints nothing (the pictures above are the same
// with it), carries its text for screen readers right before the edit it
// names (MSAA names an edit so); a Live label announces a new text.
HWND announced = nullptr;
void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) { announced = window; }

TEST(Controls, TextsOfLabelsAndEdits) {
  TTestForm* f = SharedForm();
  Drain();
  ValidateRect(f->Handle, nullptr);
  TLabel* st = f->StatusLabel;
  const DWORD kLiveRegionChanged = 0x8019;
  HWINEVENTHOOK hook =
      SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, &RecordEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
  st->Live = true;
  st->SetCaption("Status: loading");
  RECT r = {};
  ASSERT_TRUE(GetUpdateRect(f->Handle, &r, FALSE));  // only the label's rectangle
  EXPECT_EQ(r.left, st->Left);
  EXPECT_EQ(r.bottom, st->Top + st->Height);
  Drain();
  UnhookWinEvent(hook);
  st->Live = false;
  char text[32] = {};
  GetWindowTextA(st->Window, text, sizeof text);
  EXPECT_EQ(std::make_tuple(std::string(text), announced, GetWindow(f->ProxyEdit->Handle, GW_HWNDPREV)),
            std::make_tuple("Status: loading", st->Window, st->Window));
  EXPECT_EQ(PlaceOf(st->Window), BoundsOf(st));
  // Typed past its right edge, an edit scrolls instead of refusing the text.
  f->PathEdit->SetText("");
  for (int i = 0; i < 225; ++i) SendToWindow(f->PathEdit->Handle, WM_CHAR, 'k', 1);
  EXPECT_EQ(f->PathEdit->GetText(), std::string(225, 'k'));
  Drain();
}

// Moved to a monitor of 144 or 192 DPI, a form takes the rectangle Windows
// suggests and its controls, fonts and picture grow with it; no label's text
// is cut. Back at 96 DPI it is as the stream made it.
TEST(Forms, ScaleWithTheMonitorDpi) {
  SharedForm();
  TTestForm* f = nullptr;
  Application->CreateForm(f);
  f->Show();
  Drain();
  RECT frame = {}, client96 = {};
  GetWindowRect(f->Handle, &frame);
  GetClientRect(f->Handle, &client96);
  for (const int dpi : {144, 96, 192, 96}) {
    const auto scaled = [dpi](int v) { return MulDiv(v, dpi, 96); };
    // Wine keeps the frame as it is: the client takes the rest.
    RECT suggested = {frame.left, frame.top, frame.right + scaled(client96.right) - client96.right,
                      frame.bottom + scaled(client96.bottom) - client96.bottom};
    SendToWindow(f->Handle, formkit::dyn::kWmDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    Drain();
    RECT client = {};
    GetClientRect(f->Handle, &client);
    EXPECT_EQ(std::make_pair(client.right, client.bottom),
              std::make_pair(LONG{scaled(client96.right)}, LONG{scaled(client96.bottom)}));
    EXPECT_EQ(PlaceOf(f->OkBtn->Handle), std::make_tuple(scaled(100), scaled(188), scaled(190), scaled(216)));
    Surface s(client.right, client.bottom, kMagenta);
    {
      TWindowDC dc(f->Handle);
      BitBlt(s.dc(), 0, 0, client.right, client.bottom, dc.Get(), 0, 0, SRCCOPY);
      for (TLabel* label : {f->TitleLabel, f->StatusLabel}) {
        TSelectObject font(dc.Get(), label->GetFont()->GetHandle());
        SIZE extent = {};
        GetTextExtentPoint32A(dc.Get(), label->Caption.c_str(), static_cast<int>(label->Caption.size()), &extent);
        EXPECT_EQ(label->GetFont()->Height, scaled(label == f->TitleLabel ? -16 : -13));
        EXPECT_EQ(PlaceOf(label->Window), BoundsOf(label));
        EXPECT_TRUE(extent.cx <= label->Width && extent.cy <= label->Height &&
                    label->Left + label->Width <= client.right)
            << label->Caption << " " << extent.cx << "x" << extent.cy << " at " << dpi;
      }
    }
    // The 24x16 logo drawn 1.5 or 2 times as large: red above blue, then the form.
    const int x = scaled(32), y = scaled(24);
    EXPECT_EQ(std::make_tuple(s.At(x + scaled(20), y + scaled(2)), s.At(x + scaled(20), y + scaled(13)),
                              s.At(x + scaled(25), y + scaled(8))),
              std::make_tuple(kRed, kBlue, kFormColor))
        << dpi;
  }
  f->Close();
  Drain();
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
// handle (WM_NCDESTROY), which another window may get. The quit message that
// window destruction posts ends the loop only once the queue is empty.
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
  EXPECT_TRUE(Application->Terminated);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(button->Parent, nullptr);  // the form's destructor ran
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

TEST(Forms, AWindowTheSystemDestroyedIsNotCreatedAgain) {
  SharedForm();
  TForm* f = BareForm();
  SendMessageA(f->Handle, WM_CLOSE, 0, 0);
  f->Show();
  EXPECT_EQ(f->Handle, nullptr);
  delete f;
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
