#include "Controls.h"

#include <windowsx.h>

#include <utility>

#include "ScopedWin.h"

namespace formkit {

const char* const kControlProperty = "FormKit";

FK_IMPLEMENT_CLASS(TControl, TComponent);
FK_IMPLEMENT_CLASS(TCustomControl, TControl);
FK_IMPLEMENT_CLASS(TGraphicControl, TCustomControl);
FK_IMPLEMENT_CLASS(TWinControl, TCustomControl);

namespace {

const char* const kControlProperties[] = {"OnClick"};
const char* const kCustomControlProperties[] = {"Left",    "Top",        "Width",  "Height",
                                                "Color",   "Transparent", "Caption", "OnPaint",
                                                "ParentFont", "OnShow",  "Visible"};
const char* const kWinControlProperties[] = {"Text", "TabOrder"};

// The nearest windowed control, starting with the container.
TWinControl* FindParentControl(TComponent* container) {
  TComponent* c = container;
  while (c != nullptr && !c->InheritsFrom(TWinControl::ClassInfo)) c = c->GetContainer();
  return static_cast<TWinControl*>(c);
}

void ScaleFont(TFont* font, std::int32_t num, std::int32_t den) {
  if (font == nullptr) return;
  font->Height = MulDiv(font->Height, num, den);
  font->Handle.Reset();
}

}  // namespace

LRESULT SendToWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = SendMessageA(window, msg, wParam, lParam);
  RaisePendingException();
  return result;
}

void ShowWindowChecked(HWND window, int command) {
  ShowWindow(window, command);
  RaisePendingException();
}

void DestroyWindowChecked(HWND window) {
  DestroyWindow(window);
  RaisePendingException();
}

// ---------------------------------------------------------------- TControl

void TControl::ReadNamedProperty(const std::string& name, TReader& reader) {
  if (IndexOfName(name, kControlProperties) == 0) {
    OnClick = LookupEventHandler(this, reader.ReadString());
  } else {
    TComponent::ReadNamedProperty(name, reader);
  }
}

void TControl::Click() {
  if (OnClick.IsSet()) OnClick(this);
}

// ---------------------------------------------------------------- TCustomControl

TCustomControl::~TCustomControl() = default;

TPersistent* TCustomControl::FindSubObject(const std::string& name) {
  if (name == "Font") {
    if (!Font) Font.reset(new TFont());
    return Font.get();
  }
  return nullptr;
}

void TCustomControl::ReadNamedProperty(const std::string& name, TReader& reader) {
  switch (IndexOfName(name, kCustomControlProperties)) {
    case 0: Left = reader.ReadInteger(); break;
    case 1: Top = reader.ReadInteger(); break;
    case 2: Width = reader.ReadInteger(); break;
    case 3: Height = reader.ReadInteger(); break;
    case 4: Color = reader.ReadColor(); break;
    case 5: Transparent = reader.ReadBoolean(); break;
    case 6: Caption = reader.ReadString(); break;
    case 7: OnPaint = LookupEventHandler(this, reader.ReadString()); break;
    case 8: ParentFont = reader.ReadBoolean(); break;
    case 9: OnShow = LookupEventHandler(this, reader.ReadString()); break;
    case 10: Visible = reader.ReadBoolean(); break;
    default: TControl::ReadNamedProperty(name, reader); break;
  }
}

void TCustomControl::Paint() {
  if (Transparent) return;
  GetCanvas();
  if (OnPaint.IsSet()) OnPaint(this);
}

TCanvas* TCustomControl::GetCanvas() {
  if (!Canvas) Canvas.reset(new TCanvas());
  return Canvas.get();
}

TFont* TCustomControl::GetFont() {
  if (Font) return Font.get();
  if (ParentFont && Parent != nullptr) return Parent->GetFont();
  Font.reset(new TFont());
  return Font.get();
}

void TCustomControl::ChangeScale(std::int32_t num, std::int32_t den) {
  Left = MulDiv(Left, num, den);
  Top = MulDiv(Top, num, den);
  Width = MulDiv(Width, num, den);
  Height = MulDiv(Height, num, den);
  ScaleFont(Font.get(), num, den);
  if (Canvas) ScaleFont(Canvas->Font.get(), num, den);
}

TRect TCustomControl::BoundsRect() const { return BoundsToRect(Left, Top, Width, Height); }

// ---------------------------------------------------------------- TGraphicControl

void TGraphicControl::AttachToParent(TComponent* container) {
  TWinControl* parent = FindParentControl(container);
  if (parent == nullptr) return;
  Parent = parent;
  GetFont()->CopyFrom(*parent->GetFont());
  parent->GraphicChildren.Add(this);
}

void TGraphicControl::AfterLoad() { GetCanvas()->SetOrigin(Left, Top); }

void TGraphicControl::ChangeScale(std::int32_t num, std::int32_t den) {
  TCustomControl::ChangeScale(num, den);
  GetCanvas()->SetOrigin(Left, Top);
}

// ---------------------------------------------------------------- TWinControl

TWinControl::~TWinControl() {
  AttachWindow(nullptr);
  // The children outlive their parent (a closed form); they must not keep a
  // pointer to it.
  for (std::int32_t i = 0; i < GraphicChildren.Count; ++i)
    static_cast<TCustomControl*>(GraphicChildren.Get(i))->Parent = nullptr;
  for (std::int32_t i = 0; i < WindowedChildren.Count; ++i)
    static_cast<TCustomControl*>(WindowedChildren.Get(i))->Parent = nullptr;
}

void TWinControl::ReadNamedProperty(const std::string& name, TReader& reader) {
  switch (IndexOfName(name, kWinControlProperties)) {
    case 0: SetText(reader.ReadString()); break;
    case 1: TabOrder = reader.ReadInteger(); break;
    default: TCustomControl::ReadNamedProperty(name, reader); break;
  }
}

void TWinControl::AttachToParent(TComponent* container) {
  TWinControl* parent = FindParentControl(container);
  if (parent == nullptr) return;
  Parent = parent;
  // Into the canvas font: the window itself gets the control's own font.
  GetCanvas()->GetFont()->CopyFrom(*parent->GetFont());
  parent->WindowedChildren.Add(this);
}

TComponent* TWinControl::GetContainer() { return Parent; }

void TWinControl::Create(TComponent* owner) {
  TCustomControl::Create(owner);
  Color = 0;
}

void TWinControl::Paint() {
  // OnPaint, or a child's, may close the form and with it this control.
  const std::weak_ptr<void> alive = Lifetime();
  TCustomControl::Paint();
  if (alive.expired()) return;
  HDC dc = GetCanvas()->Handle;
  for (std::int32_t i = 0; i < GraphicChildren.Count; ++i) {
    auto* child = static_cast<TCustomControl*>(GraphicChildren.Get(i));
    child->GetCanvas()->Handle = dc;
    child->Paint();
    if (alive.expired()) return;
  }
}

void TWinControl::SetText(const std::string& text) { Caption = text; }

void TWinControl::Show() {
  EnsureWindow();
  for (std::int32_t i = 0; i < WindowedChildren.Count; ++i) {
    auto* child = static_cast<TWinControl*>(WindowedChildren.Get(i));
    if (child->Visible) child->Show();
  }
  ShowWindowChecked(Handle, SW_SHOW);
  ShowGraphicChildren();
  if (OnShow.IsSet()) OnShow(this);
}

void TWinControl::ShowGraphicChildren() {
  for (std::int32_t i = 0; i < GraphicChildren.Count; ++i)
    static_cast<TGraphicControl*>(GraphicChildren.Get(i))->ParentShown();
}

void TWinControl::ChangeScale(std::int32_t num, std::int32_t den) {
  // The window keeps its old font until it has the new one.
  const TScopedFont oldFont(Font ? std::move(Font->Handle) : TScopedFont());
  TCustomControl::ChangeScale(num, den);
  if (Handle != nullptr) {
    const std::int32_t width = Width, height = Height;
    MoveWindow(Handle, Left, Top, width, height, TRUE);
    // WM_SIZE stored the client size, which a frame makes smaller.
    Width = width;
    Height = height;
    SendToWindow(Handle, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()->GetHandle()), TRUE);
  }
  ScaleChildren(num, den);
}

void TWinControl::ScaleChildren(std::int32_t num, std::int32_t den) {
  for (std::int32_t i = 0; i < GraphicChildren.Count; ++i)
    static_cast<TCustomControl*>(GraphicChildren.Get(i))->ChangeScale(num, den);
  for (std::int32_t i = 0; i < WindowedChildren.Count; ++i)
    static_cast<TCustomControl*>(WindowedChildren.Get(i))->ChangeScale(num, den);
}

void TWinControl::Hide() {
  EnsureWindow();
  for (std::int32_t i = 0; i < WindowedChildren.Count; ++i) {
    auto* child = static_cast<TWinControl*>(WindowedChildren.Get(i));
    if (child->Visible) child->Hide();
  }
  ShowWindowChecked(Handle, SW_HIDE);
}

void TWinControl::EnsureWindow() {
  if (Parent != nullptr) Parent->EnsureWindow();
  if (Handle == nullptr && !WindowDestroyed) CreateWindowHandle();
}

void TWinControl::AttachWindow(HWND window) {
  if (Handle != nullptr) {
    SetWindowLongPtrA(Handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OldWindowProc));
    // A handed-back window must not lead to this object any more.
    RemovePropA(Handle, kControlProperty);
  }
  Handle = window;
  if (window == nullptr) return;
  OldWindowProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  SetPropA(window, kControlProperty, static_cast<HANDLE>(this));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProcedure));
  SendToWindow(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()->GetHandle()), 0);
}

void TWinControl::SetCaption(const std::string& text) {
  Caption = text;
  if (Handle != nullptr) SendToWindow(Handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Caption.c_str()));
}

void TWinControl::SetFocus() {
  ::SetFocus(Handle);  // sends the focus messages at once
  RaisePendingException();
}

void TWinControl::PassMessageOn(TMessage& message) {
  message.Result = CallWindowProcA(OldWindowProc, Handle, message.Msg, message.WParam, message.LParam);
}

void TWinControl::Dispatch(TMessage& message) {
  switch (message.Msg) {
    case WM_DESTROY: WMDestroy(message); break;
    case WM_NCDESTROY: WMNCDestroy(message); break;
    case WM_SIZE: WMSize(message); break;
    case WM_PAINT: WMPaint(message); break;
    case WM_ERASEBKGND: WMEraseBkgnd(message); break;
    case WM_LBUTTONDOWN: WMLButtonDown(message); break;
    case WM_LBUTTONUP: WMLButtonUp(message); break;
    case WM_COMMAND: WMCommand(message); break;
    default: PassMessageOn(message); break;
  }
}

void TWinControl::WMDestroy(TMessage& message) {
  PassMessageOn(message);
  PostQuitMessage(0);
}

// The last message of a window: its handle may be reused from now on, so the
// control lets go of it (a later destructor must not touch it).
void TWinControl::WMNCDestroy(TMessage& message) {
  PassMessageOn(message);
  RemovePropA(Handle, kControlProperty);
  Handle = nullptr;
  OldWindowProc = nullptr;
  WindowDestroyed = true;
}

void TWinControl::WMSize(TMessage& message) {
  PassMessageOn(message);
  Width = LOWORD(message.LParam);
  Height = HIWORD(message.LParam);
}

void TWinControl::WMPaint(TMessage& message) {
  // The former procedure goes first: its BeginPaint may erase the background
  // (and a system control paints itself there), which would wipe out the
  // windowless children if they were drawn before it.
  PassMessageOn(message);
  const auto paint = [this](HDC dc) {
    GetCanvas()->Handle = dc;
    Paint();
  };
  if (message.WParam != 0) {
    paint(reinterpret_cast<HDC>(message.WParam));
  } else {
    // The owner keeps the window: an OnPaint that closes the form must not
    // make us read it again.
    const TWindowDC dc(Handle);
    paint(dc.Get());
  }
}

void TWinControl::WMEraseBkgnd(TMessage& message) {
  message.Result = 1;
  if (Transparent) return;
  TCanvas* canvas = GetCanvas();
  canvas->Handle = reinterpret_cast<HDC>(message.WParam);
  canvas->GetBrush()->SetColor(BackgroundColor(Color));
  canvas->FillRect(BoundsToRect(0, 0, Width, Height));
}

void TWinControl::WMLButtonDown(TMessage& message) {
  PassMessageOn(message);
  MousePressed = true;
}

void TWinControl::WMLButtonUp(TMessage& message) {
  MouseReleasing = true;
  PassMessageOn(message);
  MouseReleasing = false;
  if (!MousePressed) return;
  MousePressed = false;
  const int x = GET_X_LPARAM(message.LParam);
  const int y = GET_Y_LPARAM(message.LParam);
  // The handler may close the form and with it this control's window: nothing
  // here touches the control after the call.
  if (x >= 0 && x < Width && y >= 0 && y < Height) Click();
}

// A child button's click notification: Space on a focused button. The one a
// mouse release brings is left to that release.
void TWinControl::WMCommand(TMessage& message) {
  PassMessageOn(message);
  if (HIWORD(message.WParam) != BN_CLICKED || message.LParam == 0) return;
  auto* child = static_cast<TWinControl*>(GetPropA(reinterpret_cast<HWND>(message.LParam), kControlProperty));
  if (child != nullptr && child->Parent == this && !child->MouseReleasing) child->Click();
}

// ---------------------------------------------------------------- window procedure

LRESULT CALLBACK WindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* control = static_cast<TWinControl*>(GetPropA(window, kControlProperty));
  if (control == nullptr) return DefWindowProcA(window, msg, wParam, lParam);
  TMessage message = {msg, wParam, lParam, 0};
  try {
    control->Dispatch(message);
  } catch (...) {
    // Never unwind through Win32; the toolkit re-raises it after the call
    // that delivered this message.
    StashException();
  }
  return message.Result;
}

}  // namespace formkit
