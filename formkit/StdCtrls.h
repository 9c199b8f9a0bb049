// Toolkit module StdCtrls: label, push button, edit and check box.
#pragma once

#include "Controls.h"

namespace formkit {

class TLabel : public TGraphicControl {
  FK_CLASS()
 public:
  void Paint() override;
  const std::string& GetCaption() const { return Caption; }
  // Stores the text and repaints only the label's rectangle of the parent.
  void SetCaption(const std::string& text);
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
