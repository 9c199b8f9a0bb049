// Toolkit module Forms: forms, the application object and the message loop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Classes.h"
#include "Controls.h"

namespace formkit {

// In the order of the stream's identifiers. A name the stream's list lacks
// reads as 0xFF, which matches none of them.
enum class TFormBorderStyle : std::uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TPosition : std::uint8_t {
  poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly,
  poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter
};
enum class TWindowState : std::uint8_t { wsNormal, wsMinimized, wsMaximized };
using enum TFormBorderStyle;
using enum TPosition;
using enum TWindowState;

constexpr UINT kTrayIconMessage = WM_USER + 1;
extern const char* const kFormClassName;  // "LFORM"

class TCustomForm : public TWinControl {
  FK_CLASS()
 public:
  ~TCustomForm() override;
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  void Create(TComponent* owner) override;
  void CreateWindowHandle() override;
  void Show() override;
  void Dispatch(TMessage& message) override;

  // Runs OnDestroy, destroys the window and then the form object; the child
  // controls stay alive. May be called from a handler of the form or of one
  // of its controls: the caller must not touch the form afterwards.
  void Close();
  // Hides and shows the window again, processing messages in between. False
  // when a handler closed the form meanwhile: the form is gone.
  bool Reshow();
  // Reads the form and its controls from the RCDATA resource named after the
  // form's class.
  void LoadFormResource();
  // A dialog box's keys, for a key sent to window (one of the form's): Tab and
  // Shift+Tab move the focus through the visible, enabled tab stops in
  // TabOrder; Enter presses the focused button, else the Default one; Escape
  // presses the Cancel button. False when the key was not used.
  bool DialogKey(WPARAM key, HWND window);
  // Brings the coordinates and fonts of the form and its controls from
  // PixelsPerInch to dpi, which becomes PixelsPerInch. An existing window
  // takes the new size, or the rectangle Windows suggested with the change.
  // A form whose stream gives no PixelsPerInch is never scaled.
  void ScaleTo(std::int32_t dpi, const RECT* suggested = nullptr);

  TNotifyEvent OnDestroy;
  std::int32_t PixelsPerInch = 0;  // the DPI the coordinates are in
  std::int32_t ClientWidth = 0, ClientHeight = 0;
  std::int32_t TextHeight = 0;
  bool OldCreateOrder = false;
  TFormBorderStyle BorderStyle = bsSizeable;
  TPosition Position = poDefault;
  bool InTray = false;
  TWindowState WindowState = wsNormal;
  bool MinimizeToTray = false;

 protected:
  void WMSizeTray(TMessage& message);
  void WMTrayIcon(TMessage& message);
  void WMActivate(TMessage& message);

 private:
  void DestroyFormWindow();
  HWND lastFocus_ = nullptr;  // the child that had the focus when the form was deactivated
};

class TForm : public TCustomForm {
  FK_CLASS()
};

class TApplication : public TComponent {
  FK_CLASS()
 public:
  // Unregisters the form window class; the main form is not destroyed.
  ~TApplication() override;
  // Clears Terminated, registers "LFORM" and reads the non-client metrics.
  void Initialize();
  // Allocates the form through its class information, stores it in the
  // reference at once, constructs it and reads its resource. On an error the
  // reference becomes nil and the error goes on. The first form becomes
  // MainForm.
  void CreateForm(const TClassInfo& formClass, TComponent*& reference);
  template <class T>
  void CreateForm(T*& reference) {
    CreateFormInto(T::ClassInfo, &reference,
                   [](void* to, TComponent* instance) { *static_cast<T**>(to) = static_cast<T*>(instance); });
  }
  // Shows the main form and processes messages until the quit message.
  void Run();
  // Dispatches every waiting message and returns when the queue is empty;
  // a quit message sets Terminated and is not dispatched.
  void ProcessMessages();

  NONCLIENTMETRICSA NonClientMetrics = {};
  HICON Icon = nullptr;
  TCustomForm* MainForm = nullptr;
  bool Terminated = false;

 private:
  // Sets the reference (through assign) before the form is prepared, and back
  // to nullptr when preparing fails.
  void CreateFormInto(const TClassInfo& formClass, void* reference, void (*assign)(void*, TComponent*));
  static TComponent* NewFormInstance(const TClassInfo& formClass);
  static void PrepareForm(TComponent* instance);
  void AdoptMainForm(TComponent* instance);
};

// The single application object, alive between StartForms and FinishForms.
extern TApplication* Application;

void StartForms();
void FinishForms();

// Every toolkit module in its order (SysUtils, StdCtrls, Forms, ExtCtrls) and
// back, including the classes the controls registered. A program starts its
// own modules after StartToolkit and finishes them before FinishToolkit.
void StartToolkit();
void FinishToolkit();

}  // namespace formkit
