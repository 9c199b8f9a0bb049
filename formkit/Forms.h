// Toolkit module Forms: forms, the application object and the message loop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Classes.h"
#include "Controls.h"

namespace formkit {

// BorderStyle
constexpr std::uint8_t bsNone = 0, bsSingle = 1, bsSizeable = 2, bsDialog = 3, bsToolWindow = 4, bsSizeToolWin = 5;
// Position
constexpr std::uint8_t poDesigned = 0, poDefault = 1, poDefaultPosOnly = 2, poDefaultSizeOnly = 3,
                       poScreenCenter = 4, poDesktopCenter = 5, poMainFormCenter = 6, poOwnerFormCenter = 7;
// WindowState
constexpr std::uint8_t wsNormal = 0, wsMinimized = 1, wsMaximized = 2;

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

  TNotifyEvent OnDestroy;
  std::int32_t PixelsPerInch = 0;
  std::int32_t TextHeight = 0;
  bool OldCreateOrder = false;
  std::uint8_t BorderStyle = bsSizeable;
  std::uint8_t Position = poDefault;
  bool InTray = false;
  std::uint8_t WindowState = wsNormal;
  bool MinimizeToTray = false;

 protected:
  void WMSizeTray(TMessage& message);
  void WMTrayIcon(TMessage& message);

 private:
  void DestroyFormWindow();
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
    TComponent* instance = NewFormInstance(T::ClassInfo);
    reference = static_cast<T*>(instance);
    try {
      PrepareForm(instance);
    } catch (...) {
      reference = nullptr;
      throw;
    }
    AdoptMainForm(instance);
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
  static TComponent* NewFormInstance(const TClassInfo& formClass);
  static void PrepareForm(TComponent* instance);
  void AdoptMainForm(TComponent* instance);
};

// The single application object, alive between StartForms and FinishForms.
extern TApplication* Application;

void StartForms();
void FinishForms();

}  // namespace formkit
