// Form-stream reader: value tags, skip rules, the component tree, events,
// the class registry and damaged streams.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Classes.h"
#include "test_components.h"

using namespace formkit;
using namespace readertest;

#define S(literal) std::string(literal, sizeof(literal) - 1)

namespace {

std::vector<std::string> boxes;

int CaptureBox(void*, const char* text, const char*, unsigned) {
  boxes.push_back(text);
  return 1;
}

std::int32_t FakeSysColor(int index) { return 0x010101 * index; }

std::string Load(const char* name) {
  std::ifstream in(std::string("forms/") + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A stream with a root of class TTestForm named F and the given property bytes.
std::string RootWith(const std::string& props) {
  return S("TPF0\x09TTestForm\x01" "F") + props + S("\0\0");
}

std::string Prop(const std::string& name, const std::string& value) {
  return std::string(1, static_cast<char>(name.size())) + name + value;
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes.clear();
    EventLog().clear();
    previousBox_ = SetMessageBoxFunc(&CaptureBox);
    previousColor_ = SetSysColorFunc(&FakeSysColor);
    RegisterTestClasses();
    form.Create(nullptr);
  }
  void TearDown() override {
    FreeTestComponents();
    UnregisterAllComponentClasses();
    SetMessageBoxFunc(previousBox_);
    SetSysColorFunc(previousColor_);
  }

  // Reads the stream into form; returns the error message, or "" on success.
  std::string ReadInto(const std::string& bytes) {
    try {
      TReader reader(bytes.data(), static_cast<std::int32_t>(bytes.size()));
      ReadForm(form, reader);
    } catch (const EClassesError& e) {
      return e.Message;
    }
    return std::string();
  }

  TTestForm form;
  MessageBoxFunc previousBox_ = nullptr;
  SysColorFunc previousColor_ = nullptr;
};

TEST_F(ReaderTest, ReadsEveryValueKind) {
  ASSERT_EQ(ReadInto(Load("values.bin")), "");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form.Name, "ValuesForm");
  EXPECT_EQ(form.Left, 357);   // 16-bit tag
  EXPECT_EQ(form.Top, -2);     // FF FE
  EXPECT_EQ(form.Caption, "R\xE9pertoire '1'");
  EXPECT_TRUE(form.Visible);
  EXPECT_EQ(form.Color, 0xFFFFFF);
  EXPECT_EQ(form.Align, 5);
  EXPECT_EQ(form.Anchors, 0x9u);
  EXPECT_EQ(form.Font.Height, -13);  // F3
  EXPECT_EQ(form.Font.Style, 3u);
  // UTF-8 text arrives in the ANSI code page; what it cannot hold becomes '?'.
  EXPECT_EQ(form.Font.Name, "R\xE9sum\xE9 \x80 ?");
  ASSERT_TRUE(form.Font.Inner);
  EXPECT_EQ(form.Font.Inner->Height, 70000);
  // The picture block: counted "TBitmap", the file length, then the BMP file.
  ASSERT_EQ(form.DataSize, 12 + 70);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(form.Data.get()), 8), "\x07TBitmap");
  EXPECT_EQ(form.Data[8], 70);
  EXPECT_EQ(form.Data[12], 'B');
  EXPECT_EQ(form.Data[13], 'M');

  ASSERT_NE(form.OkBtn, nullptr);
  EXPECT_EQ(form.OkBtn->Left, 5);
  EXPECT_EQ(form.OkBtn->Caption, "clRed");       // an identifier read as text
  EXPECT_FALSE(form.OkBtn->Visible);
  EXPECT_EQ(form.OkBtn->Color, 0x00FF0000);      // a number stays as stored
  EXPECT_EQ(form.OkBtn->Align, -1);              // not in the list
  EXPECT_EQ(form.OkBtn->Anchors, 0u);
  ASSERT_EQ(form.OkBtn->DataSize, 512);
  EXPECT_EQ(form.OkBtn->Data[511], 255);
  EXPECT_EQ(form.OkBtn->Font.Name, "");

  ASSERT_NE(form.PathLabel, nullptr);
  EXPECT_EQ(form.PathLabel->Color, FakeSysColor(8));  // clWindowText, resolved now
  EXPECT_EQ(form.PathLabel->DataSize, 0);
  EXPECT_EQ(form.PathLabel->Font.Style, 0x9u);        // unknown element ignored
  EXPECT_EQ(form.PathLabel->Caption, "Pfad:");
}

TEST_F(ReaderTest, ColourRules) {
  EXPECT_EQ(ReadInto(RootWith(Prop("Color", S("\x07\x06" "clNavy")))), "");
  EXPECT_EQ(form.Color, 0x800000);
  EXPECT_EQ(ReadInto(RootWith(Prop("Color", S("\x07\x05" "clred")))), "");
  EXPECT_EQ(form.Color, 0);  // names match with case
  EXPECT_EQ(ReadInto(RootWith(Prop("Color", S("\x07\x06" "clNone")))), "");
  EXPECT_EQ(form.Color, 0x1FFFFFFF);
  EXPECT_EQ(ReadInto(RootWith(Prop("Color", S("\x04\x0F\x00\x00\x80")))), "");
  EXPECT_EQ(form.Color, static_cast<std::int32_t>(0x8000000F));  // no system-colour resolution for numbers
  EXPECT_EQ(ReadInto(RootWith(Prop("Color", S("\x02\x05")))), "Invalid color value");
}

TEST_F(ReaderTest, SkipsUnreadPropertiesAndGoesOn) {
  ASSERT_EQ(ReadInto(Load("skip.bin")), "");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form.Left, 42);
  EXPECT_EQ(EventLog().back(), "afterload Child");
}

TEST_F(ReaderTest, UnskippableValuesStopReading) {
  const std::string values[] = {
      S("\x04\x01\x02\x03\x04"),   // 32-bit integer
      S("\x07\x02" "ab"),          // identifier
      S("\x0B\x00"),               // set
      S("\x14\x01\x00\x00\x00" "a"),  // UTF-8 string
      S("\x0C\x00"),               // no such tag
      S("\x84\x01\x02\x03\x04"),   // top bit ignored: still a 32-bit integer
  };
  for (const std::string& v : values) {
    boxes.clear();
    EXPECT_EQ(ReadInto(RootWith(Prop("Tag", v) + Prop("Left", S("\x02\x01")))), "Unknown value type");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Unknown value type");
    EXPECT_EQ(form.Left, 0);
  }
}

TEST_F(ReaderTest, ValueReadersRejectOtherTags) {
  struct Case {
    const char* prop;
    std::string value;
    const char* message;
  };
  const Case cases[] = {
      {"Left", S("\x06\x01" "1"), "Invalid ordinal value"},
      {"Left", S("\x09"), "Invalid ordinal value"},
      {"Visible", S("\x02\x01"), "Invalid boolean value"},
      {"Caption", S("\x02\x01"), "Invalid string value"},
      {"Caption", S("\x0B\x00"), "Invalid string value"},
      {"Color", S("\x06\x05" "clRed"), "Invalid color value"},
      {"Data", S("\x06\x01" "x"), "Invalid binary value"},
      {"Align", S("\x06\x05" "alTop"), "Invalid ident value"},
      {"Anchors", S("\x07\x06" "akLeft"), "not a set"},
      {"OnClick", S("\x09"), "Invalid string value"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadInto(RootWith(Prop(c.prop, c.value))), c.message) << c.prop;
  }
}

TEST_F(ReaderTest, DottedNames) {
  EXPECT_EQ(ReadInto(RootWith(Prop("Font.Inner.Height", S("\x02\x07")) +
                              Prop("Font.Inner.Name", S("\x06\x01" "n")))),
            "");
  ASSERT_TRUE(form.Font.Inner);
  EXPECT_EQ(form.Font.Inner->Height, 7);
  EXPECT_EQ(form.Font.Inner->Name, "n");
  EXPECT_EQ(form.Font.Height, 0);

  boxes.clear();
  EXPECT_EQ(ReadInto(RootWith(Prop("Pen.Width", S("\x02\x01")))), "Unknown property Pen.Width");
  EXPECT_EQ(boxes, std::vector<std::string>{"Unknown property Pen.Width"});
  EXPECT_EQ(ReadInto(RootWith(Prop("font.Height", S("\x02\x01")))), "Unknown property font.Height");
  // The rest after the first full stop is cut to 200 characters.
  std::string rest = "Height." + std::string(243, 'x');
  EXPECT_EQ(ReadInto(RootWith(Prop("Font." + rest, S("\x02\x01")))), "Unknown property " + rest.substr(0, 200));
  // A name the sub-object does not know is skipped there.
  EXPECT_EQ(ReadInto(RootWith(Prop("Font.Pitch", S("\x02\x01")) + Prop("Left", S("\x02\x02")))), "");
  EXPECT_EQ(form.Left, 2);
}

TEST_F(ReaderTest, BuildsTheTreeInOrder) {
  ASSERT_EQ(ReadInto(Load("tree.bin")), "");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form.Name, "");  // inherited root keeps its own name
  EXPECT_EQ(form.Caption, "tree");

  ASSERT_NE(form.OkBtn, nullptr);
  ASSERT_NE(form.Panel, nullptr);
  ASSERT_NE(form.PathLabel, nullptr);  // a TTestPanel fits a TTestControl field
  EXPECT_EQ(form.OkBtn->Owner, &form);
  EXPECT_EQ(form.OkBtn->Parent, &form);
  ASSERT_NE(form.Panel->InnerBtn, nullptr);  // field names match without case
  EXPECT_EQ(form.Panel->InnerBtn->Name, "innerbtn");
  EXPECT_EQ(form.Panel->InnerBtn->Owner, form.Panel);
  EXPECT_EQ(form.PathLabel->Left, 4);

  // Events: the component, then its owners; method names without case.
  EXPECT_EQ(form.OnClick.Code, TTestForm::ClassInfo.FindMethod("FormShow")->Code);
  EXPECT_EQ(form.OkBtn->OnClick.Data, &form);
  EXPECT_EQ(form.Panel->OnClick.Data, form.Panel);
  EXPECT_EQ(form.Panel->InnerBtn->OnClick.Data, &form);
  form.Panel->InnerBtn->OnClick(form.Panel->InnerBtn);
  EXPECT_EQ(form.Clicks, 1);

  const std::vector<std::string> expected = {
      "create TTestForm",
      "create TTestControl", "attach to  named ''", "Left of OkBtn",
      "create TTestPanel", "attach to  named ''", "Left of Panel",
      "create TTestControl", "attach to Panel named ''", "Left of innerbtn",
      "create TTestOther", "attach to Panel named ''",
      "create TTestPanel", "attach to  named ''", "Left of PathLabel",
      "afterload OkBtn", "afterload Panel", "afterload innerbtn", "afterload Second", "afterload PathLabel"};
  EXPECT_EQ(EventLog(), expected);
  EXPECT_EQ(form.AfterLoadCalls, 0);  // the root is not in the list
}

TEST_F(ReaderTest, FieldOfAnotherClassIsNotStored) {
  // "Panel" as a plain control does not fit the form's TTestPanel field.
  std::string child = S("\x0CTTestControl\x05Panel\x00\x00");
  std::string bytes = S("TPF0\x09TTestForm\x01" "F\x00") + child + S("\x00");
  EXPECT_EQ(ReadInto(bytes), "");
  EXPECT_EQ(form.Panel, nullptr);
  EXPECT_EQ(EventLog().back(), "afterload Panel");
}

TEST_F(ReaderTest, MissingEventShowsNameAnd9999) {
  ASSERT_EQ(ReadInto(Load("missing_event.bin")), "");
  EXPECT_EQ(boxes, std::vector<std::string>{"CancelBtn 9999"});
  ASSERT_EQ(EventLog().size(), 5u);
  EXPECT_EQ(EventLog()[3], "Left of CancelBtn");  // reading went on
}

TEST_F(ReaderTest, UnregisteredClassStopsWithItsName) {
  EXPECT_EQ(ReadInto(Load("unregistered.bin")), "TNoSuchGauge");
  EXPECT_EQ(boxes, std::vector<std::string>{"TNoSuchGauge"});
  const std::vector<std::string> expected = {"create TTestForm", "create TTestControl", "attach to BadForm named ''",
                                             "afterload First"};
  EXPECT_EQ(EventLog(), expected);
}

TEST_F(ReaderTest, AfterLoadStillRunsAfterAnError) {
  EXPECT_EQ(ReadInto(Load("bad_late.bin")), "Invalid boolean value");
  std::vector<std::string> afterLoads;
  for (const std::string& e : EventLog())
    if (e.rfind("afterload ", 0) == 0) afterLoads.push_back(e);
  EXPECT_EQ(afterLoads, (std::vector<std::string>{"afterload A", "afterload B", "afterload C"}));
}

TEST_F(ReaderTest, FailingAfterLoadIsPendingAndTheOthersStillRun) {
  auto child = [](const char* cls, const char* name) {
    return std::string(1, static_cast<char>(std::strlen(cls))) + cls + std::string(1, static_cast<char>(std::strlen(name))) +
           name + S("\0\0");
  };
  std::string bytes = S("TPF0\x09TTestForm\x01" "F\0") + child("TTestThrower", "T1") + child("TTestThrower", "T2") +
                      child("TTestControl", "C") + S("\0");
  EXPECT_EQ(ReadInto(bytes), "");
  EXPECT_EQ(EventLog().back(), "afterload C");
  ASSERT_TRUE(ExceptionPending());
  try {
    RaisePendingException();
    FAIL() << "nothing raised";
  } catch (const EClassesError& e) {
    EXPECT_EQ(e.Message, "AfterLoad of T1");
  }
  EXPECT_FALSE(ExceptionPending());
}

TEST_F(ReaderTest, RegistryFindsTheLaterClassFirst) {
  static const TClassInfo otherUnderSameName = {"TTestControl", &TTestControl::ClassInfo,
                                                &NewComponent<TTestOther>, nullptr, 0, nullptr, 0};
  RegisterComponentClasses({&otherUnderSameName});
  TComponent* c = CreateRegisteredComponent("TTestControl", &form);
  EXPECT_EQ(c->ClassType(), &TTestOther::ClassInfo);
  EXPECT_EQ(c->Owner, &form);
  EXPECT_THROW(CreateRegisteredComponent("ttestcontrol", &form), EClassesError);  // exact names
  EXPECT_EQ(boxes, std::vector<std::string>{"ttestcontrol"});
}

TEST_F(ReaderTest, ClassTables) {
  EXPECT_TRUE(TTestPanel::ClassInfo.InheritsFrom(&TComponent::ClassInfo));
  EXPECT_FALSE(TTestControl::ClassInfo.InheritsFrom(&TTestPanel::ClassInfo));
  EXPECT_NE(TTestForm::ClassInfo.FindMethod("FORMSHOW"), nullptr);
  EXPECT_EQ(TTestForm::ClassInfo.FindMethod("FormShowX"), nullptr);
  EXPECT_EQ(TTestForm::ClassInfo.FindMethod("FormSho"), nullptr);
  EXPECT_EQ(TTestPanel::ClassInfo.FindMethod("OkBtnClick"), nullptr);
  EXPECT_NE(TTestPanel::ClassInfo.FindField("innerBTN"), nullptr);
  // Names are cut to 255 characters before the comparison.
  EXPECT_EQ(TTestForm::ClassInfo.FindField(std::string(300, 'a')), nullptr);
  EXPECT_EQ(form.GetContainer(), nullptr);
}

TEST_F(ReaderTest, PrefixFlags) {
  std::string bytes = S("\xF3\x07\x00\x00\x00\x10");
  TReader reader(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  std::int32_t position = 0;
  EXPECT_EQ(reader.ReadPrefix(position), 3);
  EXPECT_EQ(position, 7);
  EXPECT_EQ(reader.ReadPrefix(position), 0);  // 0x10 is no prefix
  EXPECT_EQ(reader.Offset, 5);
  // A single byte is never a prefix.
  TReader single("\xF1", 1);
  EXPECT_EQ(single.ReadPrefix(position), 0);
  EXPECT_EQ(single.Offset, 0);
}

TEST_F(ReaderTest, PrimitivesStayInsideTheData) {
  const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x00};
  TReader reader(bytes, 3);  // the 00 lies outside
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(reader.Read(buffer, -1), 0);
  EXPECT_EQ(reader.Offset, 0);
  EXPECT_EQ(reader.Read(buffer, 2), 2);
  EXPECT_EQ(reader.Read(buffer, 5), 1);
  EXPECT_EQ(buffer[0], 3);
  EXPECT_EQ(reader.Read(buffer, 5), 0);
  EXPECT_FALSE(reader.EndOfList());
  EXPECT_EQ(reader.Offset, 3);
  EXPECT_THROW(reader.ReadByte(), EClassesError);
  EXPECT_EQ(boxes, std::vector<std::string>{"Form stream damaged"});
  TReader words(bytes, 3);
  EXPECT_EQ(words.ReadWord(), 0x0201);
  EXPECT_THROW(words.ReadWord(), EClassesError);
  EXPECT_THROW(words.ReadInt32(), EClassesError);
  EXPECT_EQ(words.ReadByte(), 3);
}

TEST_F(ReaderTest, DamagedLengthsAreReported) {
  const std::string cases[] = {
      Prop("Caption", S("\x06\x05" "abc")),                // length byte past the end
      Prop("Data", S("\x0A\xFF\xFF\xFF\xFF")),             // negative binary length
      Prop("Data", S("\x0A\x00\x00\x00\x40" "ab")),        // binary past the end
      Prop("Glyph", S("\x0A\xF0\xFF\xFF\xFF")),            // skipped binary, negative
      Prop("Glyph", S("\x0A\x10\x00\x00\x00")),            // skipped binary past the end
      Prop("Caption", S("\x14\x00\x00\x00\x10" "ab")),     // UTF-8 past the end
      Prop("Caption", S("\x14\xFF\xFF\xFF\xFF")),          // UTF-8, negative
      Prop("Anchors", S("\x0B\x06" "akLeft")),             // set without its end
  };
  for (const std::string& c : cases) {
    std::string bytes = S("TPF0\x09TTestForm\x01" "F") + c;  // no end-of-list bytes
    EXPECT_EQ(ReadInto(bytes), "Form stream damaged") << testing::PrintToString(c);
  }
  // A complete form that lacks its two end-of-list bytes.
  std::string tree = Load("tree.bin");
  EXPECT_EQ(ReadInto(tree.substr(0, tree.size() - 2)), "Form stream damaged");
}

TEST_F(ReaderTest, EveryTruncationIsReportedOrParsed) {
  for (const char* name : {"values.bin", "tree.bin", "skip.bin"}) {
    std::string full = Load(name);
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
      // A copy of exactly the kept bytes, so ASan sees any read past them.
      std::vector<std::uint8_t> kept(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
      std::string error;
      try {
        TReader reader(kept.data(), static_cast<std::int32_t>(kept.size()));
        ReadForm(form, reader);
      } catch (const EClassesError& e) {
        error = e.Message;
      }
      EXPECT_TRUE(error == "Form stream damaged") << name << " cut at " << cut << ": " << error;
      FreeTestComponents();
    }
  }
}

TEST_F(ReaderTest, NestingIsBounded) {
  std::string bytes = "TPF0" + S("\x09TTestForm\x01" "F\x00");
  const int depth = 1000;
  for (int i = 0; i < depth; ++i) bytes += S("\x0CTTestControl\x01" "C\x00");
  for (int i = 0; i < depth + 1; ++i) bytes += S("\x00");
  EXPECT_EQ(ReadInto(bytes), "Form stream damaged");
}

TEST(ListTest, GrowsBySixteenThenByAQuarter) {
  TList list;
  std::vector<std::int32_t> capacities;
  for (int i = 0; i < 101; ++i) {
    EXPECT_EQ(list.Add(&list), i);
    if (capacities.empty() || capacities.back() != list.Capacity) capacities.push_back(list.Capacity);
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{16, 32, 48, 64, 80, 100, 125}));
  EXPECT_EQ(list.Count, 101);
  EXPECT_EQ(list.Get(100), &list);
}

TEST(Utf8Test, ConvertsToTheAnsiCodePage) {
  auto conv = [](const std::string& s) { return TReader::Utf8ToAnsi(s.data(), static_cast<std::int32_t>(s.size())); };
  EXPECT_EQ(conv("abc"), "abc");
  EXPECT_EQ(conv("\xC3\xA9\xE2\x82\xAC\xE2\x84\xA2"), "\xE9\x80\x99");  // é € ™
  EXPECT_EQ(conv("\xF0\x9F\x98\x80"), "?");                           // outside the code page
  EXPECT_EQ(conv(""), "");
}

}  // namespace
