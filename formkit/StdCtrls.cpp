#include "StdCtrls.h"

#include <vector>

namespace formkit {

FK_IMPLEMENT_CLASS(TLabel, TGraphicControl);
FK_IMPLEMENT_CLASS(TButton, TWinControl);
FK_IMPLEMENT_CLASS(TEdit, TWinControl);
FK_IMPLEMENT_CLASS(TCheckBox, TWinControl);

namespace {

constexpr DWORD kButtonStyle = WS_CHILD | WS_CLIPCHILDREN | WS_TABSTOP | BS_PUSHBUTTON;
// Scrolls sideways, so a text longer than the box can be typed and seen.
constexpr DWORD kEditStyle = WS_CHILD | WS_CLIPCHILDREN | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kEditExStyle = WS_EX_CONTROLPARENT | WS_EX_CLIENTEDGE;
constexpr DWORD kCheckBoxStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kCheckBoxExStyle = WS_EX_CONTROLPARENT;

const char* const kButtonProperties[] = {"Default", "Cancel"};
const char* const kLabelProperties[] = {"FocusControl"};

// The label's window: visible to screen readers, but neither drawn (the
// parent paints the label and, the window being transparent, is not clipped
// by it) nor hit by the mouse (a static passes clicks to its parent).
constexpr DWORD kLabelWindowStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;
constexpr DWORD kLabelWindowExStyle = WS_EX_TRANSPARENT;
WNDPROC gStaticProcedure = nullptr;
// EVENT_OBJECT_LIVEREGIONCHANGED, which the headers give from Windows 8 on;
// older systems ignore it.
constexpr DWORD kLiveRegionChanged = 0x8019;

LRESULT CALLBACK LabelWindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      ValidateRect(window, nullptr);
      return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETTEXT: return DefWindowProcA(window, msg, wParam, lParam);  // a static would draw it at once
    default: return CallWindowProcA(gStaticProcedure, window, msg, wParam, lParam);
  }
}

// A child window of the parent's window at the control's place, taken over.
void CreateChildWindow(TWinControl* control, DWORD exStyle, const char* className, DWORD style) {
  HWND parent = control->Parent != nullptr ? control->Parent->Handle : nullptr;
  HWND window = CreateWindowExA(exStyle, className, control->Caption.c_str(), style, control->Left, control->Top,
                                control->Width, control->Height, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
  RaisePendingException();
  control->AttachWindow(window);
}

void HideUnlessVisible(TWinControl* control) {
  if (!control->Visible && control->Handle != nullptr) ShowWindowChecked(control->Handle, SW_HIDE);
}

bool IsButton(const TWinControl* control) { return control != nullptr && control->InheritsFrom(TButton::ClassInfo); }

// The default frame, which tells what Enter presses: on the focused button,
// else on the Default one (focus: a button's window or nullptr).
void FrameDefaultButton(const TWinControl* parent, HWND focus) {
  parent->AnyWindowedBelow([focus](TWinControl* child) {
    if (!IsButton(child) || child->Handle == nullptr) return false;
    const bool framed = focus != nullptr ? child->Handle == focus : static_cast<TButton*>(child)->Default;
    if (((GetWindowLongPtrA(child->Handle, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0) != framed)
      SendToWindow(child->Handle, BM_SETSTYLE, framed ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    return false;
  });
}

}  // namespace

// ---------------------------------------------------------------- TLabel

void TLabel::ReadNamedProperty(const std::string& name, TReader& reader) {
  if (IndexOfName(name, kLabelProperties) == 0) {
    focusControlName_ = reader.ReadString();  // a control further down the stream
  } else {
    TGraphicControl::ReadNamedProperty(name, reader);
  }
}

void TLabel::AfterLoad() {
  TGraphicControl::AfterLoad();
  if (focusControlName_.empty() || Parent == nullptr) return;
  const TWinControl* top = Parent;
  while (top->Parent != nullptr) top = top->Parent;
  top->AnyWindowedBelow([this](TWinControl* control) {
    if (control->Name == focusControlName_) FocusControl = control;
    return FocusControl != nullptr;
  });
}

void TLabel::ParentShown() {
  if (Window != nullptr || Parent == nullptr || Parent->Handle == nullptr) return;
  Window = CreateWindowExA(kLabelWindowExStyle, "STATIC", Caption.c_str(), kLabelWindowStyle, Left, Top, Width, Height,
                           Parent->Handle, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (Window == nullptr) return;
  gStaticProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(Window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LabelWindowProcedure)));
  if (FocusControl == nullptr || FocusControl->Handle == nullptr) return;
  HWND above = GetWindow(FocusControl->Handle, GW_HWNDPREV);
  SetWindowPos(Window, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TLabel::ChangeScale(std::int32_t num, std::int32_t den) {
  TGraphicControl::ChangeScale(num, den);
  if (Window != nullptr && Parent != nullptr && Parent->Handle != nullptr)
    MoveWindow(Window, Left, Top, Width, Height, FALSE);
}

void TLabel::Paint() {
  TCanvas* canvas = GetCanvas();
  canvas->GetFont()->CopyFrom(*GetFont());
  TBrush* brush = canvas->GetBrush();
  if (Transparent) {
    brush->Style = bsClearBrush;
  } else {
    brush->SetColor(BackgroundColor(Parent != nullptr ? Parent->Color : 0));
    // Already in the parent's coordinates: no canvas origin here.
    RECT r = {Left, Top, Left + Width, Top + Height};
    if (HBRUSH handle = brush->GetHandle()) ::FillRect(canvas->Handle, &r, handle);
  }
  canvas->TextOut(0, 0, Caption);
}

void TLabel::SetCaption(const std::string& text) {
  Caption = text;
  if (Parent == nullptr || Parent->Handle == nullptr) return;
  RECT r = {Left, Top, Left + Width, Top + Height};
  InvalidateRect(Parent->Handle, &r, FALSE);
  if (Window == nullptr) return;
  SendToWindow(Window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Caption.c_str()));
  if (Live) NotifyWinEvent(kLiveRegionChanged, Window, OBJID_CLIENT, CHILDID_SELF);
}

// ---------------------------------------------------------------- TButton

void TButton::Create(TComponent* owner) {
  TWinControl::Create(owner);
  // The system draws the whole button; the toolkit never paints behind it.
  Transparent = true;
}

void TButton::ReadNamedProperty(const std::string& name, TReader& reader) {
  switch (IndexOfName(name, kButtonProperties)) {
    case 0: Default = reader.ReadBoolean(); break;
    case 1: Cancel = reader.ReadBoolean(); break;
    default: TWinControl::ReadNamedProperty(name, reader); break;
  }
}

void TButton::CreateWindowHandle() {
  CreateChildWindow(this, 0, "BUTTON", Default ? kButtonStyle | BS_DEFPUSHBUTTON : kButtonStyle);
  HideUnlessVisible(this);
}

void TButton::Dispatch(TMessage& message) {
  TWinControl::Dispatch(message);
  if (message.Msg != WM_SETFOCUS && message.Msg != WM_KILLFOCUS) return;
  HWND focus = message.Msg == WM_SETFOCUS ? Handle : reinterpret_cast<HWND>(message.WParam);
  const TWinControl* top = this;
  while (top->Parent != nullptr) top = top->Parent;
  // The window losing the focus names its successor, which may belong to another program.
  const bool toButton = focus != nullptr && IsChild(top->Handle, focus) &&
                        IsButton(static_cast<TWinControl*>(GetPropA(focus, kControlProperty)));
  FrameDefaultButton(top, toButton ? focus : nullptr);
}

// ---------------------------------------------------------------- TEdit

void TEdit::CreateWindowHandle() {
  CreateChildWindow(this, kEditExStyle, "EDIT", kEditStyle);
  if (Handle != nullptr) SendToWindow(Handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Caption.c_str()));
  HideUnlessVisible(this);
}

void TEdit::SetText(const std::string& text) {
  Text = text;
  if (Handle != nullptr) SendToWindow(Handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Text.c_str()));
}

std::string TEdit::GetText() {
  if (Handle == nullptr) return std::string();
  LRESULT length = SendToWindow(Handle, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  LRESULT copied = SendToWindow(Handle, WM_GETTEXT, static_cast<WPARAM>(length) + 1,
                                reinterpret_cast<LPARAM>(buffer.data()));
  if (copied < 0) copied = 0;
  if (copied > length) copied = length;
  return std::string(buffer.data(), static_cast<std::size_t>(copied));
}

// ---------------------------------------------------------------- TCheckBox

void TCheckBox::CreateWindowHandle() {
  CreateChildWindow(this, kCheckBoxExStyle, "BUTTON", kCheckBoxStyle);
  if (Handle != nullptr) SendToWindow(Handle, BM_SETCHECK, Checked, 0);
  HideUnlessVisible(this);
}

void StartStdCtrls() {
  RegisterComponentClasses({&TLabel::ClassInfo, &TButton::ClassInfo, &TEdit::ClassInfo, &TCheckBox::ClassInfo});
}

}  // namespace formkit
