// Component classes for the reader tests and the fuzz target: a property of
// every kind the toolkit reads, sub-objects for dotted names, and published
// fields and methods on a form and a panel. Each program includes this once.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

namespace readertest {

using namespace formkit;

// What happened while reading, in order ("create X", "attach X", ...).
inline std::vector<std::string> EventLog;

class TTestFont : public TPersistent {
 public:
  void ReadNamedProperty(const std::string& name, TReader& reader) override {
    if (name != "Height") return TPersistent::ReadNamedProperty(name, reader);
    Height = reader.ReadInteger();
  }
  TPersistent* FindSubObject(const std::string& name) override {
    if (name != "Inner") return TPersistent::FindSubObject(name);
    if (!Inner) Inner.reset(new TTestFont());
    return Inner.get();
  }
  std::int32_t Height = 0;
  std::unique_ptr<TTestFont> Inner;  // "Font.Inner.Height": two full stops
};

class TTestControl : public TComponent {
  FK_CLASS()
 public:
  // Owners never free their components; FreeTestComponents does.
  static inline std::vector<TTestControl*> Live;
  TTestControl() { Live.push_back(this); }
  ~TTestControl() override { Live.erase(std::remove(Live.begin(), Live.end(), this), Live.end()); }
  void Create(TComponent* owner) override {
    TComponent::Create(owner);
    EventLog.push_back(std::string("create ") + ClassType()->ClassName);
  }
  void AttachToParent(TComponent* container) override {
    EventLog.push_back("attach to " + container->Name + " named '" + Name + "'");
  }
  void AfterLoad() override { EventLog.push_back("afterload " + Name); }
  void ReadNamedProperty(const std::string& name, TReader& reader) override {
    static const char* const kProps[] = {"Left", "Top", "Caption", "Visible", "Color",
                                         "Align", "Anchors", "Data", "OnClick"};
    static const char* const kAligns[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"};
    static const char* const kAnchors[] = {"akLeft", "akTop", "akRight", "akBottom"};
    switch (IndexOfName(name, kProps)) {
      case 0:
        Left = reader.ReadInteger();
        EventLog.push_back("Left of " + Name);
        break;
      case 1: Top = reader.ReadInteger(); break;
      case 2: Caption = reader.ReadString(); break;
      case 3: Visible = reader.ReadBoolean(); break;
      case 4: Color = reader.ReadColor(); break;
      case 5: Align = static_cast<std::int8_t>(reader.ReadEnum(kAligns)); break;
      case 6: Anchors = reader.ReadSet(kAnchors); break;
      case 7: Data = reader.ReadBinary(DataSize); break;
      case 8: OnClick = LookupEventHandler(this, reader.ReadString()); break;
      default: TComponent::ReadNamedProperty(name, reader);
    }
  }
  TPersistent* FindSubObject(const std::string& name) override {
    return name == "Font" ? &Font : TComponent::FindSubObject(name);
  }

  std::int32_t Left = 0, Top = 0, Color = -1, DataSize = -1;
  std::string Caption;
  bool Visible = false;
  std::int8_t Align = 0;  // one-byte enumeration field
  std::uint32_t Anchors = 0;
  std::unique_ptr<std::uint8_t[]> Data;
  TNotifyEvent OnClick;
  TTestFont Font;
};
FK_IMPLEMENT_CLASS(TTestControl, TComponent);

class TTestPanel : public TTestControl {
  FK_CLASS()
 public:
  void PanelClick(TObject*) { EventLog.push_back("PanelClick on " + Name); }
  TTestControl* InnerBtn = nullptr;
};
const TPublishedField kPanelFields[] = {FK_FIELD(TTestPanel, InnerBtn)};
const TPublishedMethod kPanelMethods[] = {FK_METHOD(TTestPanel, PanelClick)};
FK_IMPLEMENT_PUBLISHED_CLASS(TTestPanel, TTestControl, kPanelFields, kPanelMethods);

class TTestThrower : public TTestControl {
  FK_CLASS()
 public:
  void AfterLoad() override {
    TTestControl::AfterLoad();
    throw EClassesError("AfterLoad of " + Name);
  }
};
FK_IMPLEMENT_CLASS(TTestThrower, TTestControl);

class TTestForm : public TTestControl {
  FK_CLASS()
 public:
  void OkBtnClick(TObject*) { ++Clicks; }
  void FormShow(TObject*) {}
  TTestControl* OkBtn = nullptr;
  TTestPanel* Panel = nullptr;  // a field of a narrower type than TTestControl
  TTestControl* PathLabel = nullptr;
  int Clicks = 0;
};
const TPublishedField kFormFields[] = {FK_FIELD(TTestForm, OkBtn), FK_FIELD(TTestForm, Panel),
                                       FK_FIELD(TTestForm, PathLabel)};
const TPublishedMethod kFormMethods[] = {FK_METHOD(TTestForm, OkBtnClick), FK_METHOD(TTestForm, FormShow)};
FK_IMPLEMENT_PUBLISHED_CLASS(TTestForm, TTestControl, kFormFields, kFormMethods);

inline void RegisterTestClasses() {
  RegisterComponentClasses({&TTestControl::ClassInfo, &TTestPanel::ClassInfo, &TTestThrower::ClassInfo});
}

inline void FreeTestComponents() {
  std::vector<TTestControl*> all;
  all.swap(TTestControl::Live);
  for (TTestControl* c : all)
    if (c->ClassType() != &TTestForm::ClassInfo) delete c;  // the root belongs to its test
}

// Reads a whole stream into form the way the form loader does, AfterLoad
// included; returns the reading error's message, or "" when complete.
inline std::string ReadForm(TTestForm& form, TReader& reader) {
  std::string error;
  try {
    if (reader.ReadInt32() != kFormSignature) throw EClassesError(std::string("not a form stream"));
    std::int32_t position = 0;
    const std::uint8_t flags = reader.ReadPrefix(position);
    reader.ReadShortString();
    const std::string name = reader.ReadShortString();
    if ((flags & 1) == 0) form.Name = name;
    ReadComponentBody(&form, reader);
  } catch (const EClassesError& e) {
    error = e.Message;
  }
  reader.FinishLoad();
  return error;
}

// The same on a copy of exactly the given bytes, so ASan sees a read past
// them; then frees what was built (the fuzz target and the saved inputs).
inline std::string ReadUntrustedStream(const std::uint8_t* data, std::size_t size) {
  SetMessageBoxFunc([](void*, const char*, const char*, unsigned) { return 1; });
  SetSysColorFunc([](int index) { return index; });
  RegisterTestClasses();
  std::vector<std::uint8_t> copy(data, data + size);
  std::string error;
  {
    TTestForm form;
    form.Create(nullptr);
    TReader reader(copy.data(), static_cast<std::int32_t>(copy.size()));
    error = ReadForm(form, reader);
    try {
      RaisePendingException();
    } catch (...) {
    }
    FreeTestComponents();
  }
  UnregisterAllComponentClasses();
  EventLog.clear();
  return error;
}

}  // namespace readertest
