#include "Forms.h"

#include <shellapi.h>

#include <cstring>
#include <exception>

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

constexpr DWORD kFormBaseStyle = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;  // 0x06000000
constexpr UINT kNonClientMetricsSize = 340;                          // the record without iPaddedBorderWidth
constexpr UINT kTrayIconId = 1;

HINSTANCE ModuleInstance() { return GetModuleHandleA(nullptr); }

void WindowStyles(std::uint8_t borderStyle, DWORD& style, DWORD& exStyle) {
  style = 0;
  exStyle = 0;
  switch (borderStyle) {
    case bsNone: style = WS_POPUP; break;
    case bsSingle: style = 0x00CA0000; break;  // caption, system menu, minimise box
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

int ShowCommand(std::uint8_t windowState) {
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
    case 3: Width = reader.ReadInteger() + 2 * borderWidth; break;
    case 4: Height = reader.ReadInteger() + captionHeight + 4 * borderWidth; break;
    case 5: BorderStyle = static_cast<std::uint8_t>(reader.ReadEnum(kBorderStyles)); break;
    case 6: Position = static_cast<std::uint8_t>(reader.ReadEnum(kPositions)); break;
    case 7: WindowState = static_cast<std::uint8_t>(reader.ReadEnum(kWindowStates)); break;
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
}

void TCustomForm::Show() {
  EnsureWindow();
  for (std::int32_t i = 0; i < WindowedChildren.Count; ++i) static_cast<TWinControl*>(WindowedChildren.Get(i))->Show();
  ShowWindowChecked(Handle, ShowCommand(WindowState));
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

void TCustomForm::LoadFormResource() {
  const std::string className = ClassType()->ClassName;
  TReader reader(className);  // its destruction calls AfterLoad, also when reading fails
  if (reader.Size - reader.Offset < 4 || reader.ReadInt32() != kFormSignature) return;
  std::int32_t childPosition = 0;
  const std::uint8_t flags = reader.ReadPrefix(childPosition);
  const std::string streamClass = reader.ReadShortString();
  const std::string objectName = reader.ReadShortString();
  if ((flags & 1) == 0) Name = objectName;
  ReadComponentBody(this, reader);
  const std::int32_t left = reader.Size - reader.Offset;
  if (left != 0) {
    const std::string caption = objectName + ":" + streamClass;
    ShowMessageBox(Handle, IntToText(left) + " ResSize mismatch", caption.c_str(), MB_OK);
  }
}

void TCustomForm::Dispatch(TMessage& message) {
  switch (message.Msg) {
    case WM_SIZE: WMSizeTray(message); break;
    case kTrayIconMessage: WMTrayIcon(message); break;
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
  TComponent* instance = NewFormInstance(formClass);
  reference = instance;
  try {
    PrepareForm(instance);
  } catch (...) {
    reference = nullptr;
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

}  // namespace formkit
