#include "Forms.h"

#include <shellapi.h>

#include <cstring>
#include <exception>
#include <vector>

#include "DynCalls_win.h"
#include "ExtCtrls.h"
#include "ScopedWin.h"
#include "StdCtrls.h"

namespace formkit {

const char* const kFormClassName = "LFORM";

FK_IMPLEMENT_CLASS(TCustomForm, TWinControl);
FK_IMPLEMENT_CLASS(TForm, TCustomForm);
FK_IMPLEMENT_CLASS(TApplication, TComponent);

TApplication* Application = nullptr;

namespace {

const char* const kFormProperties[] = {"PixelsPerInch", "TextHeight", "OldCreateOrder", "ClientWidth",
                                       "ClientHeight",  "BorderStyle", "Position",      "WindowState",
                                       "OnCreate",      "OnDestroy"};
const char* const kBorderStyles[] = {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"};
const char* const kPositions[] = {"poDesigned",     "poDefault",       "poDefaultPosOnly", "poDefaultSizeOnly",
                                  "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"};
const char* const kWindowStates[] = {"wsNormal", "wsMinimized", "wsMaximized"};

constexpr DWORD kFormBaseStyle = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
constexpr UINT kNonClientMetricsSize = 340;  // the record without iPaddedBorderWidth
constexpr UINT kTrayIconId = 1;

HINSTANCE ModuleInstance() { return GetModuleHandleA(nullptr); }

void WindowStyles(TFormBorderStyle borderStyle, DWORD& style, DWORD& exStyle) {
  style = 0;
  exStyle = 0;
  switch (borderStyle) {
    case bsNone: style = WS_POPUP; break;
    case bsSingle: style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; break;
    case bsSizeable: style = WS_OVERLAPPEDWINDOW; break;
    case bsDialog:
      style = WS_DLGFRAME;
      exStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
      break;
    case bsToolWindow:
    case bsSizeToolWin: exStyle = WS_EX_TOOLWINDOW; break;
    default: break;
  }
}

int ShowCommand(TWindowState windowState) {
  switch (windowState) {
    case wsMinimized: return SW_MINIMIZE;
    case wsMaximized: return SW_SHOWMAXIMIZED;
    default: return SW_SHOWNORMAL;  // also for a state the stream could not name
  }
}

void FillTrayRecord(NOTIFYICONDATAA& data, HWND window) {
  std::memset(&data, 0, sizeof data);
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = window;
  data.uID = kTrayIconId;
}

// The controls Tab stops at, in TabOrder, creation order among equals.
std::vector<TWinControl*> TabStops(const TWinControl* parent) {
  std::vector<TWinControl*> stops;
  parent->AnyWindowedBelow([&stops](TWinControl* child) {
    HWND w = child->Handle;
    if (w != nullptr && IsWindowVisible(w) && IsWindowEnabled(w) && (GetWindowLongPtrA(w, GWL_STYLE) & WS_TABSTOP)) {
      auto at = stops.end();
      while (at != stops.begin() && (*(at - 1))->TabOrder > child->TabOrder) --at;
      stops.insert(at, child);
    }
    return false;
  });
  return stops;
}

bool Pressable(const TWinControl* control) {
  return control != nullptr && control->InheritsFrom(TButton::ClassInfo) && control->Handle != nullptr &&
         IsWindowVisible(control->Handle) && IsWindowEnabled(control->Handle);
}

// The first pressable button below parent whose flag is set.
TButton* FindButton(const TWinControl* parent, bool TButton::*flag) {
  TButton* found = nullptr;
  parent->AnyWindowedBelow([&found, flag](TWinControl* child) {
    if (Pressable(child) && static_cast<TButton*>(child)->*flag) found = static_cast<TButton*>(child);
    return found != nullptr;
  });
  return found;
}

// Tab, Enter and Escape go to the form that holds the window they were sent
// to, as in a dialog box, rather than to that window.
bool TakeDialogKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || (msg.wParam != VK_TAB && msg.wParam != VK_RETURN && msg.wParam != VK_ESCAPE))
    return false;
  auto* top = static_cast<TWinControl*>(GetPropA(GetAncestor(msg.hwnd, GA_ROOT), kControlProperty));
  return top != nullptr && top->InheritsFrom(TCustomForm::ClassInfo) &&
         static_cast<TCustomForm*>(top)->DialogKey(msg.wParam, msg.hwnd);
}

}  // namespace

// ---------------------------------------------------------------- TCustomForm

TCustomForm::~TCustomForm() {
  // Reached through Close normally; a plain delete still takes the window down.
  DestroyFormWindow();
  if (Application != nullptr && Application->MainForm == this) Application->MainForm = nullptr;
}

void TCustomForm::DestroyFormWindow() {
  if (Handle == nullptr) return;
  HWND window = Handle;
  DestroyWindow(window);  // the children's windows go with it; each WM_DESTROY posts the quit message
  AttachWindow(nullptr);
}

void TCustomForm::Close() {
  // OnDestroy is a method of the derived form: it must run while that still exists.
  std::exception_ptr error;
  try {
    if (OnDestroy.IsSet()) OnDestroy(this);
  } catch (...) {
    error = std::current_exception();
  }
  DestroyFormWindow();
  delete this;
  // Nothing below touches the form.
  if (error) std::rethrow_exception(error);
  RaisePendingException();
}

void TCustomForm::ReadNamedProperty(const std::string& name, TReader& reader) {
  const NONCLIENTMETRICSA* metrics = Application != nullptr ? &Application->NonClientMetrics : nullptr;
  const int borderWidth = metrics != nullptr ? metrics->iBorderWidth : 0;
  const int captionHeight = metrics != nullptr ? metrics->iCaptionHeight : 0;
  switch (IndexOfName(name, kFormProperties)) {
    case 0: PixelsPerInch = reader.ReadInteger(); break;
    case 1: TextHeight = reader.ReadInteger(); break;
    case 2: OldCreateOrder = reader.ReadBoolean(); break;
    case 3:
      ClientWidth = reader.ReadInteger();
      Width = ClientWidth + 2 * borderWidth;
      break;
    case 4:
      ClientHeight = reader.ReadInteger();
      Height = ClientHeight + captionHeight + 4 * borderWidth;
      break;
    case 5: BorderStyle = static_cast<TFormBorderStyle>(reader.ReadEnum(kBorderStyles)); break;
    case 6: Position = static_cast<TPosition>(reader.ReadEnum(kPositions)); break;
    case 7: WindowState = static_cast<TWindowState>(reader.ReadEnum(kWindowStates)); break;
    case 8: {
      TNotifyEvent onCreate = LookupEventHandler(this, reader.ReadString());
      if (onCreate.IsSet()) onCreate(this);
      break;
    }
    case 9: OnDestroy = LookupEventHandler(this, reader.ReadString()); break;
    default: TWinControl::ReadNamedProperty(name, reader); break;
  }
}

void TCustomForm::Create(TComponent* owner) {
  TWinControl::Create(owner);
  BorderStyle = bsSizeable;
  Position = poDefault;
}

void TCustomForm::CreateWindowHandle() {
  // The screen's DPI, which the window starts with; a window that opens on a
  // monitor of another DPI is scaled again below.
  ScaleTo(GetDeviceCaps(TWindowDC(nullptr).Get(), LOGPIXELSY));
  DWORD style, exStyle;
  WindowStyles(BorderStyle, style, exStyle);
  style |= kFormBaseStyle;
  if (Position == poDefault) {
    Left = CW_USEDEFAULT;
    Top = CW_USEDEFAULT;
  } else if (Position == poScreenCenter || Position == poDesktopCenter) {
    Left = (GetSystemMetrics(SM_CXSCREEN) - Width) / 2;
    Top = (GetSystemMetrics(SM_CYSCREEN) - Height) / 2;
  }
  HWND window = CreateWindowExA(exStyle, kFormClassName, Caption.c_str(), style, Left, Top, Width, Height, nullptr,
                                nullptr, ModuleInstance(), nullptr);
  RaisePendingException();
  AttachWindow(window);
  // Windows before 10 (1607) have one DPI for all monitors.
  if (auto dpiOf = dyn::GetDpiForWindow(); dpiOf != nullptr && window != nullptr)
    ScaleTo(static_cast<std::int32_t>(dpiOf(window)));
}

void TCustomForm::ScaleTo(std::int32_t dpi, const RECT* suggested) {
  if (PixelsPerInch <= 0 || dpi <= 0 || dpi == PixelsPerInch) return;
  const std::int32_t num = dpi, den = PixelsPerInch;
  PixelsPerInch = dpi;
  const std::int32_t left = Left, top = Top, frameWidth = Width - ClientWidth, frameHeight = Height - ClientHeight;
  TCustomControl::ChangeScale(num, den);  // for the fonts: the window's bounds follow from the client size
  Left = left;
  Top = top;
  ClientWidth = MulDiv(ClientWidth, num, den);
  ClientHeight = MulDiv(ClientHeight, num, den);
  ScaleChildren(num, den);
  if (suggested != nullptr) {
    Left = suggested->left;
    Top = suggested->top;
    Width = suggested->right - suggested->left;
    Height = suggested->bottom - suggested->top;
  } else {
    Width = ClientWidth + frameWidth;
    Height = ClientHeight + frameHeight;
  }
  if (Handle == nullptr) return;
  SetWindowPos(Handle, nullptr, Left, Top, Width, Height,
               SWP_NOZORDER | SWP_NOACTIVATE | (suggested != nullptr ? 0 : SWP_NOMOVE));
  InvalidateRect(Handle, nullptr, TRUE);
}

void TCustomForm::Show() {
  EnsureWindow();
  for (std::int32_t i = 0; i < WindowedChildren.Count; ++i) static_cast<TWinControl*>(WindowedChildren.Get(i))->Show();
  ShowWindowChecked(Handle, ShowCommand(WindowState));
  ShowGraphicChildren();
  if (OnShow.IsSet()) OnShow(this);
}

bool TCustomForm::Reshow() {
  // A handler run in between may close this form: then stop at once.
  const std::weak_ptr<void> alive = Lifetime();
  EnsureWindow();
  ShowWindowChecked(Handle, SW_HIDE);
  Application->ProcessMessages();
  if (alive.expired()) return false;
  ShowWindowChecked(Handle, SW_SHOWNORMAL);
  Application->ProcessMessages();
  return !alive.expired();
}

namespace {

void ReadFormStream(TCustomForm& form, TReader& reader) {
  if (reader.Size - reader.Offset < 4 || reader.ReadInt32() != kFormSignature) return;
  std::int32_t childPosition = 0;
  const std::uint8_t flags = reader.ReadPrefix(childPosition);
  const std::string streamClass = reader.ReadShortString();
  const std::string objectName = reader.ReadShortString();
  if ((flags & 1) == 0) form.Name = objectName;
  ReadComponentBody(&form, reader);
  const std::int32_t left = reader.Size - reader.Offset;
  if (left != 0) {
    const std::string caption = objectName + ":" + streamClass;
    ShowMessageBox(form.Handle, IntToText(left) + " ResSize mismatch", caption.c_str(), MB_OK);
  }
}

}  // namespace

void TCustomForm::LoadFormResource() {
  TReader reader(ClassType()->ClassName);
  try {
    ReadFormStream(*this, reader);
  } catch (...) {
    reader.FinishLoad();  // what was created gets AfterLoad, also when reading fails
    throw;
  }
  reader.FinishLoad();
}

bool TCustomForm::DialogKey(WPARAM key, HWND window) {
  auto* from = static_cast<TWinControl*>(GetPropA(window, kControlProperty));
  if (key == VK_TAB) {
    const std::vector<TWinControl*> stops = TabStops(this);
    if (stops.empty()) return true;
    const std::size_t n = stops.size();
    std::size_t at = n;
    for (std::size_t i = 0; i < n; ++i)
      if (stops[i] == from) at = i;
    const bool back = GetKeyState(VK_SHIFT) < 0;
    TWinControl* next = stops[at == n ? (back ? n - 1 : 0) : (back ? at + n - 1 : at + 1) % n];
    next->SetFocus();
    if (next->InheritsFrom(TEdit::ClassInfo)) SendToWindow(next->Handle, EM_SETSEL, 0, -1);
    return true;
  }
  TButton* button = nullptr;
  if (key == VK_RETURN) button = Pressable(from) ? static_cast<TButton*>(from) : FindButton(this, &TButton::Default);
  if (key == VK_ESCAPE) button = FindButton(this, &TButton::Cancel);
  if (button == nullptr) return false;
  button->Click();  // may close this form
  return true;
}

void TCustomForm::Dispatch(TMessage& message) {
  switch (message.Msg) {
    case WM_SIZE: WMSizeTray(message); break;
    case kTrayIconMessage: WMTrayIcon(message); break;
    case WM_ACTIVATE: WMActivate(message); break;
    case dyn::kWmDpiChanged:  // moved to a monitor of another DPI
      ScaleTo(HIWORD(message.WParam), reinterpret_cast<const RECT*>(message.LParam));
      break;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
      // A high-contrast theme may have come or gone.
      ReadHighContrast();
      InvalidateRect(Handle, nullptr, TRUE);
      TWinControl::Dispatch(message);
      break;
    default: TWinControl::Dispatch(message); break;
  }
}

void TCustomForm::WMSizeTray(TMessage& message) {
  if (!MinimizeToTray) return;
  if (message.WParam == SIZE_MINIMIZED) {
    ShowWindowChecked(Handle, SW_HIDE);
    NOTIFYICONDATAA data;
    FillTrayRecord(data, Handle);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayIconMessage;
    data.hIcon = LoadIconA(ModuleInstance(), "MAINICON");
    std::size_t n = Caption.size() < 63 ? Caption.size() : 63;
    std::memcpy(data.szTip, Caption.data(), n);
    Shell_NotifyIconA(NIM_ADD, &data);
    InTray = true;
  } else if (message.WParam == SIZE_RESTORED && InTray) {
    NOTIFYICONDATAA data;
    FillTrayRecord(data, Handle);
    Shell_NotifyIconA(NIM_DELETE, &data);
    InTray = false;
    PostMessageA(Handle, kTrayIconMessage, 0, 0);
  }
}

// As a dialog box does: the focus leaves with the form (Reshow hides it) and
// comes back with it, instead of landing on the form itself.
void TCustomForm::WMActivate(TMessage& message) {
  HWND focus = GetFocus();
  if (LOWORD(message.WParam) == WA_INACTIVE && focus != nullptr && IsChild(Handle, focus)) lastFocus_ = focus;
  if (LOWORD(message.WParam) != WA_INACTIVE && HIWORD(message.WParam) == 0 && lastFocus_ != nullptr &&
      IsChild(Handle, lastFocus_) && IsWindowVisible(lastFocus_) && IsWindowEnabled(lastFocus_)) {
    ::SetFocus(lastFocus_);
    return;
  }
  PassMessageOn(message);
}

void TCustomForm::WMTrayIcon(TMessage& message) {
  if (message.LParam == WM_LBUTTONDOWN) {
    ShowWindowChecked(Handle, SW_RESTORE);
  } else if (message.LParam == 0) {
    SetForegroundWindow(Handle);
  }
}

// ---------------------------------------------------------------- TApplication

TApplication::~TApplication() { UnregisterClassA(kFormClassName, ModuleInstance()); }

void TApplication::Initialize() {
  Terminated = false;
  WNDCLASSA wc;
  std::memset(&wc, 0, sizeof wc);
  wc.style = CS_VREDRAW | CS_HREDRAW;
  wc.lpfnWndProc = &DefWindowProcA;
  wc.hInstance = ModuleInstance();
  wc.hIcon = Icon != nullptr ? Icon : LoadIconA(ModuleInstance(), "MAINICON");
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = kFormClassName;
  RegisterClassA(&wc);
  NonClientMetrics.cbSize = kNonClientMetricsSize;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 0, &NonClientMetrics, 0);
  ReadHighContrast();
}

TComponent* TApplication::NewFormInstance(const TClassInfo& formClass) {
  TComponent* instance = formClass.NewInstance != nullptr ? formClass.NewInstance() : nullptr;
  if (instance == nullptr) throw EClassesError(std::string(formClass.ClassName));
  return instance;
}

void TApplication::PrepareForm(TComponent* instance) {
  instance->Create(nullptr);
  if (instance->InheritsFrom(TCustomForm::ClassInfo)) static_cast<TCustomForm*>(instance)->LoadFormResource();
}

void TApplication::AdoptMainForm(TComponent* instance) {
  if (MainForm == nullptr && instance->InheritsFrom(TCustomForm::ClassInfo))
    MainForm = static_cast<TCustomForm*>(instance);
}

void TApplication::CreateForm(const TClassInfo& formClass, TComponent*& reference) {
  CreateFormInto(formClass, &reference, [](void* to, TComponent* instance) { *static_cast<TComponent**>(to) = instance; });
}

void TApplication::CreateFormInto(const TClassInfo& formClass, void* reference,
                                  void (*assign)(void*, TComponent*)) {
  TComponent* instance = NewFormInstance(formClass);
  assign(reference, instance);
  try {
    PrepareForm(instance);
  } catch (...) {
    assign(reference, nullptr);
    throw;
  }
  AdoptMainForm(instance);
}

void TApplication::Run() {
  if (MainForm == nullptr) return;
  MainForm->Show();
  for (;;) {
    ProcessMessages();
    if (Terminated) return;
    WaitMessage();
  }
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      Terminated = true;
      continue;
    }
    if (TakeDialogKey(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    RaisePendingException();
  }
}

void StartForms() {
  Application = new TApplication();
  Application->Create(nullptr);
}

void FinishForms() {
  delete Application;
  Application = nullptr;
}

void StartToolkit() {
  StartSysUtils();
  StartStdCtrls();
  StartForms();
  StartExtCtrls();
}

void FinishToolkit() {
  FinishForms();
  UnregisterAllComponentClasses();  // what StdCtrls and ExtCtrls registered
  FinishSysUtils();
}

}  // namespace formkit
