#include "test_components.h"

#include <algorithm>

namespace readertest {

namespace {

const char* const kAlignNames[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"};
const char* const kAnchorNames[] = {"akLeft", "akTop", "akRight", "akBottom"};
const char* const kStyleNames[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
const char* const kFontProps[] = {"Height", "Style", "Name"};
const char* const kControlProps[] = {"Left", "Top", "Caption", "Visible", "Color",
                                     "Align", "Anchors", "Data", "OnClick"};

std::vector<TTestControl*>& Live() {
  static std::vector<TTestControl*> live;
  return live;
}

}  // namespace

std::vector<std::string>& EventLog() {
  static std::vector<std::string> log;
  return log;
}

void FreeTestComponents() {
  std::vector<TTestControl*> all;
  all.swap(Live());
  for (TTestControl* c : all)
    if (c->ClassType() != &TTestForm::ClassInfo) delete c;
}

void RegisterTestClasses() {
  RegisterComponentClasses({&TTestControl::ClassInfo, &TTestPanel::ClassInfo, &TTestOther::ClassInfo,
                            &TTestThrower::ClassInfo});
}

void TTestFont::ReadNamedProperty(const std::string& name, TReader& reader) {
  switch (IndexOfName(name, kFontProps)) {
    case 0: Height = reader.ReadInteger(); break;
    case 1: Style = reader.ReadSet(kStyleNames); break;
    case 2: Name = reader.ReadString(); break;
    default: TPersistent::ReadNamedProperty(name, reader);
  }
}

TPersistent* TTestFont::FindSubObject(const std::string& name) {
  if (name == "Inner") {
    if (!Inner) Inner.reset(new TTestFont());
    return Inner.get();
  }
  return TPersistent::FindSubObject(name);
}

FK_IMPLEMENT_CLASS(TTestControl, TComponent);

TTestControl::TTestControl() { Live().push_back(this); }

TTestControl::~TTestControl() {
  auto& live = Live();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

void TTestControl::Create(TComponent* owner) {
  TComponent::Create(owner);
  EventLog().push_back(std::string("create ") + ClassType()->ClassName);
}

void TTestControl::AttachToParent(TComponent* container) {
  EventLog().push_back("attach to " + container->Name + " named '" + Name + "'");
}

void TTestControl::AfterLoad() {
  EventLog().push_back("afterload " + Name);
}

void TTestControl::ReadNamedProperty(const std::string& name, TReader& reader) {
  switch (IndexOfName(name, kControlProps)) {
    case 0:
      Left = reader.ReadInteger();
      EventLog().push_back("Left of " + Name);
      break;
    case 1: Top = reader.ReadInteger(); break;
    case 2: Caption = reader.ReadString(); break;
    case 3: Visible = reader.ReadBoolean(); break;
    case 4: Color = reader.ReadColor(); break;
    case 5: Align = static_cast<std::int8_t>(reader.ReadEnum(kAlignNames)); break;
    case 6: Anchors = reader.ReadSet(kAnchorNames); break;
    case 7: Data = reader.ReadBinary(DataSize); break;
    case 8: OnClick = LookupEventHandler(this, reader.ReadString()); break;
    default: TComponent::ReadNamedProperty(name, reader);
  }
}

TPersistent* TTestControl::FindSubObject(const std::string& name) {
  if (name == "Font") return &Font;
  return TComponent::FindSubObject(name);
}

void TTestPanel::PanelClick(TObject*) { EventLog().push_back("PanelClick on " + Name); }

static const TPublishedField kPanelFields[] = {FK_FIELD(TTestPanel, InnerBtn)};
static const TPublishedMethod kPanelMethods[] = {FK_METHOD(TTestPanel, PanelClick)};
FK_IMPLEMENT_PUBLISHED_CLASS(TTestPanel, TTestControl, kPanelFields, kPanelMethods);

FK_IMPLEMENT_CLASS(TTestOther, TTestControl);

FK_IMPLEMENT_CLASS(TTestThrower, TTestControl);

void TTestThrower::AfterLoad() {
  TTestControl::AfterLoad();
  throw EClassesError("AfterLoad of " + Name);
}

void TTestForm::OkBtnClick(TObject*) { ++Clicks; }
void TTestForm::FormShow(TObject*) {}

static const TPublishedField kFormFields[] = {FK_FIELD(TTestForm, OkBtn), FK_FIELD(TTestForm, Panel),
                                              FK_FIELD(TTestForm, PathLabel)};
static const TPublishedMethod kFormMethods[] = {FK_METHOD(TTestForm, OkBtnClick), FK_METHOD(TTestForm, FormShow)};
FK_IMPLEMENT_PUBLISHED_CLASS(TTestForm, TTestControl, kFormFields, kFormMethods);

std::string ReadForm(TTestForm& form, TReader& reader) {
  std::string error;
  try {
    if (reader.ReadInt32() != kFormSignature) throw EClassesError(std::string("not a form stream"));
    std::int32_t position = 0;
    std::uint8_t flags = reader.ReadPrefix(position);
    reader.ReadShortString();
    std::string name = reader.ReadShortString();
    if ((flags & 1) == 0) form.Name = name;
    ReadComponentBody(&form, reader);
  } catch (const EClassesError& e) {
    error = e.Message;
  }
  reader.FinishLoad();
  return error;
}

std::string ReadUntrustedStream(const std::uint8_t* data, std::size_t size) {
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
  EventLog().clear();
  return error;
}

}  // namespace readertest
