#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "BoxCapture.h"
#include "GuiHelpers.h"

using namespace formkit;
using fktest::Drain;
using fktest::SharedForm;
using fktest::TTestForm;

namespace {

LONG_PTR Style(HWND w) { return GetWindowLongPtrA(w, GWL_STYLE); }
LONG_PTR ExStyle(HWND w) { return GetWindowLongPtrA(w, GWL_EXSTYLE); }

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

void CloseSender(TObject*, TObject* sender) { static_cast<TCustomForm*>(sender)->Close(); }

// A form without a resource, its window created.
template <class F = TForm>
F* BareForm(std::uint8_t borderStyle, std::uint8_t position = poDesigned) {
  auto* f = new F();
  f->Create(nullptr);
  f->BorderStyle = borderStyle;
  f->Position = position;
  f->Left = 40;
  f->Top = 50;
  f->Width = 300;
  f->Height = 200;
  f->Caption = "bare";
  f->EnsureWindow();
  return f;
}

}  // namespace

TEST(Forms, DialogFormWindow) {
  TTestForm* f = SharedForm();
  const NONCLIENTMETRICSA& m = Application->NonClientMetrics;
  EXPECT_EQ(m.cbSize, 340u);
  EXPECT_GT(m.iCaptionHeight, 0);
  EXPECT_EQ(f->Width, 402 + 2 * m.iBorderWidth);
  EXPECT_EQ(f->Height, 229 + m.iCaptionHeight + 4 * m.iBorderWidth);
  EXPECT_EQ(f->BorderStyle, bsDialog);
  EXPECT_EQ(f->Position, poScreenCenter);
  EXPECT_EQ(f->PixelsPerInch, 96);
  EXPECT_EQ(f->TextHeight, 13);
  // Centred with truncating division, whatever the stream's Left and Top said.
  EXPECT_EQ(f->Left, (GetSystemMetrics(SM_CXSCREEN) - f->Width) / 2);
  EXPECT_EQ(f->Top, (GetSystemMetrics(SM_CYSCREEN) - f->Height) / 2);
  RECT r;
  GetWindowRect(f->Handle, &r);
  EXPECT_EQ(r.left, f->Left);
  EXPECT_EQ(r.top, f->Top);
  EXPECT_EQ(r.right - r.left, f->Width);
  // WS_DLGFRAME plus the clipping bits; Windows adds the caption border of an
  // overlapped window, but no system menu.
  const LONG_PTR style = Style(f->Handle) & ~static_cast<LONG_PTR>(WS_VISIBLE);
  EXPECT_EQ(style & 0x06400000, 0x06400000);
  EXPECT_EQ(style & ~static_cast<LONG_PTR>(WS_BORDER), 0x06400000) << std::hex << style;
  EXPECT_EQ(ExStyle(f->Handle) & 0x101, 0x101) << std::hex << ExStyle(f->Handle);
  char cls[32] = {};
  GetClassNameA(f->Handle, cls, sizeof cls);
  EXPECT_STREQ(cls, "LFORM");
  char text[64] = {};
  GetWindowTextA(f->Handle, text, sizeof text);
  EXPECT_STREQ(text, "FormKit test");
  EXPECT_GE(f->ShowCalls, 1);
  EXPECT_EQ(Application->MainForm, f);
}

TEST(Forms, StylesByBorderStyle) {
  struct Case {
    std::uint8_t border;
    LONG_PTR style, ex;
  } cases[] = {
      {bsNone, static_cast<LONG_PTR>(WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN), 0},
      {bsSingle, 0x06CA0000, 0}, {bsSizeable, 0x06CF0000, 0},
      {bsToolWindow, 0x06000000, 0x80}, {bsSizeToolWin, 0x06000000, 0x80}, {9, 0x06000000, 0},
  };
  for (const Case& c : cases) {
    TForm* f = BareForm(c.border);
    const LONG_PTR style = Style(f->Handle) & 0xFFFF0000;
    EXPECT_EQ(style & c.style, c.style) << int(c.border) << " " << std::hex << style;
    if (c.border == bsNone) {
      EXPECT_EQ(style, c.style) << std::hex << style;
    }
    EXPECT_EQ(ExStyle(f->Handle) & 0x80, c.ex) << int(c.border);
    // poDesigned keeps Left and Top.
    RECT r;
    GetWindowRect(f->Handle, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    f->Close();
    Drain();
  }
}

TEST(Forms, DefaultPositionAndLeftOverBytes) {
  TTestForm* main = SharedForm();
  fktest::BoxCapture boxes;
  fktest::TDefaultForm* f = nullptr;
  Application->CreateForm(f);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].Text, "2 ResSize mismatch");
  EXPECT_EQ(boxes.boxes()[0].Caption, "DefaultForm:TDefaultForm");
  EXPECT_EQ(boxes.boxes()[0].Style, static_cast<unsigned>(MB_OK));
  EXPECT_EQ(boxes.boxes()[0].Owner, nullptr);
  EXPECT_EQ(f->Caption, "Default");  // the form is used as read
  EXPECT_EQ(Application->MainForm, main);  // a second form is not the main form
  EXPECT_EQ(f->BorderStyle, bsSizeable);
  EXPECT_EQ(f->Position, poDefault);
  f->EnsureWindow();
  EXPECT_EQ(f->Left, static_cast<std::int32_t>(CW_USEDEFAULT));
  EXPECT_EQ(f->Top, static_cast<std::int32_t>(CW_USEDEFAULT));
  EXPECT_EQ(Style(f->Handle) & 0x06CF0000, 0x06CF0000);
  f->Close();
  Drain();
}

TEST(Forms, ReadingErrorLeavesTheReferenceNil) {
  SharedForm();
  fktest::BoxCapture boxes;
  fktest::TBadForm* f = reinterpret_cast<fktest::TBadForm*>(static_cast<std::uintptr_t>(1));
  EXPECT_THROW(Application->CreateForm(f), EClassesError);
  EXPECT_EQ(f, nullptr);
  ASSERT_FALSE(boxes.boxes().empty());
  EXPECT_EQ(boxes.boxes()[0].Text, "TNoSuchControl");
}

TEST(Forms, ClickHandlerMayCloseItsForm) {
  SharedForm();
  Drain();
  fktest::TCloseForm::Destroyed = 0;
  fktest::TCloseForm* f = nullptr;
  Application->CreateForm(f);
  ASSERT_NE(f, nullptr);
  ASSERT_NE(f->CloseBtn, nullptr);
  f->Show();
  Drain();
  RECT r;
  GetWindowRect(f->Handle, &r);
  EXPECT_EQ(r.left, 33);  // poDesigned
  EXPECT_EQ(r.top, 44);
  EXPECT_EQ(Style(f->Handle) & 0x00CA0000, 0x00CA0000);

  TButton* button = f->CloseBtn;
  HWND formWindow = f->Handle, buttonWindow = button->Handle;
  PostMessageA(buttonWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  PostMessageA(buttonWindow, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  Application->ProcessMessages();
  f = nullptr;  // destroyed by its own button
  EXPECT_EQ(fktest::TCloseForm::Destroyed, 1);
  EXPECT_FALSE(IsWindow(formWindow));
  EXPECT_FALSE(IsWindow(buttonWindow));
  EXPECT_TRUE(Application->Terminated);  // window destruction posts the quit message
  // The button lives on, without a parent, and lets go of its dead window's
  // handle, which another window may get.
  EXPECT_FALSE(button->MousePressed);
  EXPECT_EQ(button->Parent, nullptr);
  EXPECT_EQ(button->Handle, nullptr);
  EXPECT_EQ(button->Caption, "Close");
  Application->Terminated = false;
}

TEST(Forms, ClosingTheMainFormClearsMainForm) {
  TTestForm* main = SharedForm();
  TForm* f = BareForm(bsSingle);
  Application->MainForm = f;
  f->Close();
  EXPECT_EQ(Application->MainForm, nullptr);
  Application->MainForm = main;
  Drain();
}

TEST(Forms, RunWithoutMainFormReturnsAtOnce) {
  TTestForm* main = SharedForm();
  Drain();
  Application->MainForm = nullptr;
  PostMessageA(main->Handle, WM_NULL, 0, 0);
  Application->Run();
  MSG m;
  EXPECT_TRUE(PeekMessageA(&m, main->Handle, WM_NULL, WM_NULL, PM_NOREMOVE));  // queue untouched
  Application->MainForm = main;
  Drain();
}

TEST(Forms, RunEndsWithTheQuitMessage) {
  TTestForm* main = SharedForm();
  Drain();
  const int shows = main->ShowCalls;
  PostQuitMessage(0);
  Application->Run();
  EXPECT_TRUE(Application->Terminated);
  EXPECT_EQ(main->ShowCalls, shows + 1);
  Application->Terminated = false;
}

TEST(Forms, ReshowProcessesMessagesAndShowsAgain) {
  TTestForm* f = SharedForm();
  PostMessageA(f->Handle, WM_NULL, 0, 0);
  EXPECT_TRUE(f->Reshow());
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, f->Handle, WM_NULL, WM_NULL, PM_NOREMOVE));
  EXPECT_TRUE(IsWindowVisible(f->Handle));
}

TEST(Forms, NothingTouchesAFormThatAHandlerClosed) {
  SharedForm();
  Drain();
  // A paint handler closes the form: the children are not painted from it.
  TDeadForm::Fill = 0;
  TDeadForm* f = BareForm<TDeadForm>(bsSingle);
  f->OnPaint = {&CloseSender, nullptr};
  f->Paint();
  EXPECT_TRUE(TDeadForm::ReleaseUntouched());
  Drain();
  // A click handler run by Reshow closes it: Reshow stops and shows no window
  // through the dead form's handle.
  HWND reused = CreateWindowExA(0, "STATIC", "reused", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  TDeadForm::Fill = reinterpret_cast<std::uintptr_t>(reused);
  f = BareForm<TDeadForm>(bsSingle);
  f->OnClick = {&CloseSender, nullptr};
  PostMessageA(f->Handle, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  PostMessageA(f->Handle, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  EXPECT_FALSE(f->Reshow());
  EXPECT_FALSE(IsWindowVisible(reused));
  EXPECT_TRUE(TDeadForm::ReleaseUntouched());
  DestroyWindow(reused);
  Drain();
}

TEST(Forms, WindowDestroyedBySystemIsNotRecreated) {
  SharedForm();
  TForm* f = BareForm(bsSingle);
  SendMessageA(f->Handle, WM_CLOSE, 0, 0);  // the default handling destroys the window
  EXPECT_EQ(f->Handle, nullptr);
  f->Show();
  EXPECT_EQ(f->Handle, nullptr);
  delete f;
  Drain();
}

TEST(Forms, TrayIconWhenMinimizingToTray) {
  SharedForm();
  TForm* f = BareForm(bsSizeable);
  f->Caption = std::string(100, 't');
  const int width = f->Width;
  SendToWindow(f->Handle, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(1, 1));
  EXPECT_FALSE(f->InTray);  // off unless asked for
  EXPECT_EQ(f->Width, width);

  ShowWindow(f->Handle, SW_SHOW);
  f->MinimizeToTray = true;
  SendToWindow(f->Handle, WM_SIZE, SIZE_MINIMIZED, 0);
  EXPECT_TRUE(f->InTray);
  EXPECT_FALSE(IsWindowVisible(f->Handle));
  SendToWindow(f->Handle, WM_SIZE, SIZE_MAXIMIZED, 0);
  EXPECT_TRUE(f->InTray);
  SendToWindow(f->Handle, WM_SIZE, SIZE_RESTORED, 0);
  EXPECT_FALSE(f->InTray);
  MSG m;
  EXPECT_TRUE(PeekMessageA(&m, f->Handle, WM_USER + 1, WM_USER + 1, PM_REMOVE));
  EXPECT_EQ(m.wParam, 0u);
  EXPECT_EQ(m.lParam, 0);
  SendToWindow(f->Handle, WM_USER + 1, 0, WM_LBUTTONDOWN);  // a click on the icon restores the window
  EXPECT_TRUE(IsWindowVisible(f->Handle));
  f->Close();
  Drain();
}

TEST(Forms, FormPropertiesFromTheStream) {
  SharedForm();
  // "WindowState" with a name the list lacks, then "ClientWidth" = 100.
  const std::uint8_t bytes[] = {0x07, 3, 'w', 's', 'X', 0x02, 100};
  TForm f;
  f.Create(nullptr);
  f.Position = poDesigned;
  TReader reader(bytes, sizeof bytes);
  f.ReadNamedProperty("WindowState", reader);
  EXPECT_EQ(f.WindowState, 0xFF);
  EXPECT_EQ(f.Position, poDesigned);  // each enumeration sets its own byte
  f.ReadNamedProperty("ClientWidth", reader);
  EXPECT_EQ(f.Width, 100 + 2 * Application->NonClientMetrics.iBorderWidth);
  // An unknown window state is shown normally.
  f.Width = 120;
  f.Height = 90;
  f.Show();
  EXPECT_TRUE(IsWindowVisible(f.Handle));
  EXPECT_FALSE(IsIconic(f.Handle));
}

namespace {
void FailDestroy(TObject*, TObject*) { throw std::runtime_error("destroy failed"); }
}  // namespace

TEST(Forms, CloseWithFailingOnDestroyStillDestroys) {
  SharedForm();
  TForm* f = BareForm(bsSingle);
  HWND w = f->Handle;
  f->OnDestroy = {&FailDestroy, nullptr};
  EXPECT_THROW(f->Close(), std::runtime_error);
  EXPECT_FALSE(IsWindow(w));
  Drain();
}
