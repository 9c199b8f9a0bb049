// Toolkit module StdCtrls: label, push button, edit and check box.
#pragma once

#include "Controls.h"

namespace formkit {

// Painted by its parent as before; for screen readers it also has a window
// of the Static class at its place that carries its caption and paints
// nothing. MSAA names an edit after the static text right before it in
// z-order: that is where the label's window goes when FocusControl names it.
class TLabel : public TGraphicControl {
  FK_CLASS()
 public:
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  void AfterLoad() override;
  void ParentShown() override;
  void ChangeScale(std::int32_t num, std::int32_t den) override;
  void Paint() override;
  const std::string& GetCaption() const { return Caption; }
  // Stores the text and repaints only the label's rectangle of the parent;
  // a Live label tells screen readers to read the new text.
  void SetCaption(const std::string& text);

  TWinControl* FocusControl = nullptr;  // the control this label names
  bool Live = false;
  HWND Window = nullptr;  // a child of the parent's window, destroyed with it

 private:
  std::string focusControlName_;
};

class TButton : public TWinControl {
  FK_CLASS()
 public:
  void Create(TComponent* owner) override;
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  void CreateWindowHandle() override;
  void Dispatch(TMessage& message) override;

  // Enter presses the Default button when no button has the focus; Escape
  // presses the Cancel button (TCustomForm::DialogKey).
  bool Default = false;
  bool Cancel = false;
};

class TEdit : public TWinControl {
  FK_CLASS()
 public:
  void CreateWindowHandle() override;
  // Stores the text; shown at once when the window exists.
  void SetText(const std::string& text) override;
  // The window's current text; empty without a window.
  std::string GetText();

  std::string Text;
};

class TCheckBox : public TWinControl {
  FK_CLASS()
 public:
  void CreateWindowHandle() override;

  std::uint8_t Checked = 0;
};

// Registers the four classes with the form-stream reader.
void StartStdCtrls();

}  // namespace formkit
