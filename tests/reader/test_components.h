// Component classes for the reader tests and the fuzz target: a property of
// every kind the toolkit reads, sub-objects for dotted names, and published
// fields and methods on a form and a panel.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

namespace readertest {

using namespace formkit;

// What happened while reading, in order ("create X", "attach X", ...).
std::vector<std::string>& EventLog();
// Frees every test component made so far but the root (owners never free them).
void FreeTestComponents();
void RegisterTestClasses();

class TTestFont : public TPersistent {
 public:
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  TPersistent* FindSubObject(const std::string& name) override;
  std::int32_t Height = 0;
  std::uint32_t Style = 0;
  std::string Name;
  std::unique_ptr<TTestFont> Inner;  // "Font.Inner.Height": two full stops
};

class TTestControl : public TComponent {
  FK_CLASS()
 public:
  TTestControl();
  ~TTestControl() override;
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  TPersistent* FindSubObject(const std::string& name) override;
  void AttachToParent(TComponent* container) override;
  void Create(TComponent* owner) override;
  void AfterLoad() override;

  std::int32_t Left = 0, Top = 0, Color = -1, DataSize = -1;
  std::string Caption;
  bool Visible = false;
  std::int8_t Align = 0;  // one-byte enumeration field
  std::uint32_t Anchors = 0;
  std::unique_ptr<std::uint8_t[]> Data;
  TNotifyEvent OnClick;
  TTestFont Font;
};

class TTestPanel : public TTestControl {
  FK_CLASS()
 public:
  void PanelClick(TObject* sender);
  TTestControl* InnerBtn = nullptr;
};

class TTestOther : public TTestControl {
  FK_CLASS()
};

class TTestThrower : public TTestControl {  // fails in AfterLoad
  FK_CLASS()
 public:
  void AfterLoad() override;
};

class TTestForm : public TTestControl {
  FK_CLASS()
 public:
  void OkBtnClick(TObject* sender);
  void FormShow(TObject* sender);
  TTestControl* OkBtn = nullptr;
  TTestPanel* Panel = nullptr;  // a field of a narrower type than TTestControl
  TTestControl* PathLabel = nullptr;
  int Clicks = 0;
};

// Reads a whole stream into form the way the form loader does, AfterLoad
// included; returns the reading error's message, or "" when complete.
std::string ReadForm(TTestForm& form, TReader& reader);
// The same on a copy of exactly the given bytes, so ASan sees a read past
// them; then frees what was built (the fuzz target and the saved inputs).
std::string ReadUntrustedStream(const std::uint8_t* data, std::size_t size);

}  // namespace readertest
