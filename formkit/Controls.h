// Toolkit module Controls: windowless and windowed controls, the window
// procedure shared by every toolkit window, and painting, sizing and clicks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "Graphics_win.h"

namespace formkit {

// The record handed to the message handlers; Result is what the window
// procedure returns.
struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

// The window property that ties a window to its TWinControl.
extern const char* const kControlProperty;

// SendMessageA that re-raises an exception a handler stashed meanwhile.
LRESULT SendToWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// ShowWindow / DestroyWindow, likewise.
void ShowWindowChecked(HWND window, int command);
void DestroyWindowChecked(HWND window);

class TWinControl;

class TControl : public TComponent {
  FK_CLASS()
 public:
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  // Calls OnClick when it is set. The handler may close the form: the caller
  // must not touch the control afterwards.
  void Click();

  TNotifyEvent OnClick;
};

class TCustomControl : public TControl {
  FK_CLASS()
 public:
  ~TCustomControl() override;
  // "Font" gives the control's own font, created when missing.
  TPersistent* FindSubObject(const std::string& name) override;
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  virtual void Paint();

  // Multiplies the bounds and the fonts by num / den: the form moved to
  // another DPI.
  virtual void ChangeScale(std::int32_t num, std::int32_t den);

  TCanvas* GetCanvas();
  // The own font; else the parent's when ParentFont; else a new default font.
  TFont* GetFont();
  TRect BoundsRect() const;
  // Expires when the control is destroyed. Code that runs a handler which may
  // close the form checks it before touching the control again.
  std::weak_ptr<void> Lifetime() const { return lifetime_; }

  TWinControl* Parent = nullptr;
  std::unique_ptr<TCanvas> Canvas;
  std::unique_ptr<TFont> Font;
  std::int32_t Color = 0;
  bool ParentFont = false;
  TNotifyEvent OnPaint;
  TNotifyEvent OnShow;
  std::string Caption;
  std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  bool Visible = false;
  bool Transparent = false;

 private:
  std::shared_ptr<void> lifetime_ = std::make_shared<bool>(true);
};

// Drawn by its parent on the parent's window.
class TGraphicControl : public TCustomControl {
  FK_CLASS()
 public:
  void AttachToParent(TComponent* container) override;
  void AfterLoad() override;
  void ChangeScale(std::int32_t num, std::int32_t den) override;
  // The parent's window shows, its windowed children made.
  virtual void ParentShown() {}
};

// Owns a window of a system class (or the form class), taken over through
// WindowProcedure.
class TWinControl : public TCustomControl {
  FK_CLASS()
 public:
  // Hands the window back to its former procedure; the window itself stays.
  // Children stay alive but lose their parent.
  ~TWinControl() override;
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  void AttachToParent(TComponent* container) override;
  TComponent* GetContainer() override;
  void Create(TComponent* owner) override;
  void Paint() override;
  virtual void CreateWindowHandle() = 0;
  virtual void SetText(const std::string& text);
  virtual void Show();
  virtual void Hide();
  // Also moves the window and gives it the new font; then the children.
  void ChangeScale(std::int32_t num, std::int32_t den) override;
  void ScaleChildren(std::int32_t num, std::int32_t den);
  // Handles the message or falls back to the parent class; the end of the
  // chain is PassMessageOn.
  virtual void Dispatch(TMessage& message);
  void PassMessageOn(TMessage& message);

  // Creates the window unless it exists or has been destroyed already.
  void EnsureWindow();
  void AttachWindow(HWND window);
  void SetCaption(const std::string& text);
  void SetFocus();
  // Calls visit on every windowed control below this one, each before its own
  // children, until visit returns true; true when it did.
  template <class F>
  bool AnyWindowedBelow(F&& visit) const {
    for (std::int32_t i = 0; i < WindowedChildren.Count; ++i) {
      auto* child = static_cast<TWinControl*>(WindowedChildren.Get(i));
      if (visit(child) || child->AnyWindowedBelow(visit)) return true;
    }
    return false;
  }

  TList GraphicChildren;
  HWND Handle = nullptr;
  WNDPROC OldWindowProc = nullptr;
  std::int32_t TabOrder = 0;
  bool MousePressed = false;
  // Set while the former procedure handles a left-button release: a button
  // reports that release as BN_CLICKED, which is the same click.
  bool MouseReleasing = false;
  TList WindowedChildren;
  // The window died (with its form, or closed by the system): Handle is 0
  // again and no new window is made for this control.
  bool WindowDestroyed = false;

 protected:
  void ShowGraphicChildren();
  void WMDestroy(TMessage& message);
  void WMNCDestroy(TMessage& message);
  void WMSize(TMessage& message);
  void WMPaint(TMessage& message);
  void WMEraseBkgnd(TMessage& message);
  void WMLButtonDown(TMessage& message);
  void WMLButtonUp(TMessage& message);
  void WMCommand(TMessage& message);
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace formkit
