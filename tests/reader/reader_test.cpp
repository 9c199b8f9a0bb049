// Form-stream reader: value tags, skip rules, the component tree, events,
// damaged streams and embedded resources.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>

#include "test_components.h"

using namespace formkit;
using namespace readertest;

#define S(literal) std::string(literal, sizeof(literal) - 1)

namespace {

std::vector<std::string> boxes;

std::string Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A stream with a root of class TTestForm named F and the given property bytes.
std::string RootWith(const std::string& props, const std::string& end = S("\0\0")) {
  return S("TPF0\x09TTestForm\x01" "F") + props + end;
}
std::string Prop(const std::string& name, const std::string& value) {
  return std::string(1, static_cast<char>(name.size())) + name + value;
}
std::string Child(const std::string& cls, const std::string& name) {
  return std::string(1, static_cast<char>(cls.size())) + cls + std::string(1, static_cast<char>(name.size())) + name +
         S("\0\0");
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes.clear();
    EventLog.clear();
    SetMessageBoxFunc([](void*, const char* text, const char*, unsigned) {
      boxes.push_back(text);
      return 1;
    });
    SetSysColorFunc([](int index) { return 0x010101 * index; });
    RegisterTestClasses();
    form.Create(nullptr);
  }
  void TearDown() override {
    FreeTestComponents();
    UnregisterAllComponentClasses();
  }
  // Frees what an earlier read built, then reads a copy of exactly these bytes
  // (so ASan sees a read past them) into form; returns the error, or "".
  std::string ReadInto(const std::string& bytes) {
    FreeTestComponents();
    EventLog.clear();
    boxes.clear();
    const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    TReader reader(copy.data(), static_cast<std::int32_t>(copy.size()));
    return ReadForm(form, reader);
  }
  std::vector<std::string> AfterLoads() const {
    std::vector<std::string> names;
    for (const std::string& e : EventLog)
      if (e.rfind("afterload ", 0) == 0) names.push_back(e.substr(10));
    return names;
  }

  TTestForm form;
};

TEST_F(ReaderTest, ReadsEveryValueKind) {
  ASSERT_EQ(ReadInto(Load("forms/values.bin")), "");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form.Left, 357);  // 16-bit tag
  EXPECT_EQ(form.Top, -2);
  EXPECT_EQ(form.Caption, "R\xE9pertoire '1'");
  EXPECT_TRUE(form.Visible);
  EXPECT_EQ(form.Align, 5);
  EXPECT_EQ(form.Anchors, 0x9u);
  EXPECT_EQ(form.Font.Height, -13);  // a dotted name: the rest goes to the sub-object
  ASSERT_TRUE(form.Font.Inner);
  EXPECT_EQ(form.Font.Inner->Height, 70000);
  ASSERT_EQ(form.DataSize, 12 + 70);  // counted "TBitmap", the file length, then the BMP file
  EXPECT_EQ(std::string(reinterpret_cast<char*>(form.Data.get()), 8), "\x07TBitmap");
  ASSERT_NE(form.OkBtn, nullptr);
  EXPECT_EQ(form.OkBtn->Caption, "clRed");   // an identifier read as text
  EXPECT_EQ(form.OkBtn->Color, 0x00FF0000);  // a number stays as stored
  EXPECT_EQ(form.OkBtn->Align, -1);          // not in the list
  ASSERT_EQ(form.OkBtn->DataSize, 512);
  EXPECT_EQ(form.OkBtn->Data[511], 255);
  ASSERT_NE(form.PathLabel, nullptr);
  EXPECT_EQ(form.PathLabel->Color, 0x080808);  // clWindowText, resolved now
  EXPECT_EQ(form.PathLabel->Anchors, 0x9u);    // unknown element ignored
  // UTF-8 text arrives in the ANSI code page; one '?' per character it cannot
  // hold, also outside the basic plane.
  EXPECT_EQ(form.PathLabel->Caption, "R\xE9sum\xE9 \x80 ??");
}

// Each stream stops with its message, shown once; no end-of-list bytes are
// needed before the error.
TEST_F(ReaderTest, WrongOrDamagedValuesStopReading) {
  const struct {
    std::string prop, value, message;
  } cases[] = {
      {"Tag", S("\x04\x01\x02\x03\x04"), "Unknown value type"},  // 32-bit integer
      {"Tag", S("\x0C\x00"), "Unknown value type"},              // no such tag
      {"Left", S("\x06\x01" "1"), "Invalid ordinal value"},
      {"Visible", S("\x02\x01"), "Invalid boolean value"},
      {"Caption", S("\x0B\x00"), "Invalid string value"},
      {"Color", S("\x06\x05" "clRed"), "Invalid color value"},
      {"Color", S("\x02\x05"), "Invalid color value"},
      {"Data", S("\x06\x01" "x"), "Invalid binary value"},
      {"Align", S("\x06\x05" "alTop"), "Invalid ident value"},
      {"Anchors", S("\x07\x06" "akLeft"), "not a set"},
      {"OnClick", S("\x09"), "Invalid string value"},
      {"Pen.Width", S("\x02\x01"), "Unknown property Pen.Width"},
      {"font.Height", S("\x02\x01"), "Unknown property font.Height"},
      // The rest after the first full stop is cut to 200 characters.
      {"Font.Height." + std::string(243, 'x'), S("\x02\x01"), "Unknown property Height." + std::string(193, 'x')},
      // Negative lengths; lengths past the end are every truncation below.
      {"Data", S("\x0A\xFF\xFF\xFF\xFF"), "Form stream damaged"},
      {"Glyph", S("\x0A\xF0\xFF\xFF\xFF"), "Form stream damaged"},  // skipped
      {"Caption", S("\x14\xFF\xFF\xFF\xFF"), "Form stream damaged"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadInto(RootWith(Prop(c.prop, c.value), "")), c.message) << c.prop;
    EXPECT_EQ(boxes, std::vector<std::string>{c.message}) << c.prop;
  }
}

TEST_F(ReaderTest, BuildsTheTreeInOrder) {
  ASSERT_EQ(ReadInto(Load("forms/tree.bin")), "");
  EXPECT_EQ(boxes, std::vector<std::string>{"PathLabel 9999"});  // a missing method: named, and reading goes on
  EXPECT_EQ(form.Name, "");  // an inherited root keeps its own name
  ASSERT_NE(form.Panel, nullptr);
  ASSERT_NE(form.PathLabel, nullptr);  // a TTestPanel fits a TTestControl field
  ASSERT_NE(form.Panel->InnerBtn, nullptr);  // field names match without case
  EXPECT_EQ(form.Panel->InnerBtn->Owner, form.Panel);
  // Events: the component, then its owners; method names without case.
  EXPECT_EQ(form.OnClick.Code, TTestForm::ClassInfo.FindMethod("FormShow")->Code);
  EXPECT_EQ(form.OkBtn->OnClick.Data, &form);
  EXPECT_EQ(form.Panel->OnClick.Data, form.Panel);
  form.Panel->InnerBtn->OnClick(form.Panel->InnerBtn);
  EXPECT_EQ(form.Clicks, 1);
  EXPECT_EQ(TTestForm::ClassInfo.FindMethod("FormSho"), nullptr);
  const std::vector<std::string> expected = {
      "create TTestControl", "attach to  named ''", "Left of OkBtn",
      "create TTestPanel", "attach to  named ''", "Left of Panel",
      "create TTestControl", "attach to Panel named ''", "Left of innerbtn",
      "create TTestControl", "attach to Panel named ''",
      "create TTestPanel", "attach to  named ''", "Left of PathLabel",
      "afterload OkBtn", "afterload Panel", "afterload innerbtn", "afterload Second", "afterload PathLabel"};
  EXPECT_EQ(EventLog, expected);  // the root gets no AfterLoad
}

TEST_F(ReaderTest, AfterLoadReachesEveryCreatedComponent) {
  // Class names are exact.
  EXPECT_EQ(ReadInto(RootWith(S("\0") + Child("TTestControl", "Panel") + Child("ttestcontrol", "Gauge"), "")),
            "ttestcontrol");
  EXPECT_EQ(boxes, std::vector<std::string>{"ttestcontrol"});
  EXPECT_EQ(AfterLoads(), std::vector<std::string>{"Panel"});
  EXPECT_EQ(form.Panel, nullptr);  // a field of another class is not stored
  EXPECT_EQ(ReadInto(RootWith(S("\0\x0ATTestPanel\x01" "A\0") + Child("TTestControl", "B") +
                              S("\0\x0CTTestControl\x01" "C") + Prop("Visible", S("\x0B\x06" "akLeft\0")), "")),
            "Invalid boolean value");
  EXPECT_EQ(AfterLoads(), (std::vector<std::string>{"A", "B", "C"}));
  // A failing AfterLoad is kept pending, the first one wins, the others still run.
  EXPECT_EQ(ReadInto(RootWith(S("\0") + Child("TTestThrower", "T1") + Child("TTestThrower", "T2") +
                              Child("TTestControl", "C"), S("\0"))),
            "");
  EXPECT_EQ(AfterLoads(), (std::vector<std::string>{"T1", "T2", "C"}));
  try {
    RaisePendingException();
    ADD_FAILURE() << "nothing raised";
  } catch (const EClassesError& e) {
    EXPECT_EQ(e.Message, "AfterLoad of T1");
  }
}

TEST_F(ReaderTest, PrimitivesStayInsideTheData) {
  std::int32_t position = 0;
  TReader prefixed("\xF3\x07\x00\x00\x00\x10", 6);
  EXPECT_EQ(prefixed.ReadPrefix(position), 3);
  EXPECT_EQ(position, 7);
  EXPECT_EQ(prefixed.ReadPrefix(position), 0);  // 0x10 is no prefix
  EXPECT_EQ(TReader("\xF1", 1).ReadPrefix(position), 0);  // nor is a single byte
  const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x00};
  TReader reader(bytes, 3);  // the 00 lies outside
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(reader.Read(buffer, -1), 0);  // a negative count does not move back
  EXPECT_EQ(reader.Read(buffer, 2), 2);
  EXPECT_EQ(reader.Read(buffer, 5), 1);
  EXPECT_EQ(reader.Offset, 3);
  EXPECT_THROW(reader.ReadByte(), EClassesError);
  TReader words(bytes, 3);
  EXPECT_EQ(words.ReadWord(), 0x0201);
  EXPECT_THROW(words.ReadWord(), EClassesError);
  EXPECT_THROW(words.ReadInt32(), EClassesError);
  EXPECT_EQ(words.ReadByte(), 3);
}

TEST_F(ReaderTest, EveryTruncationIsReported) {
  for (const char* name : {"forms/values.bin", "forms/tree.bin"}) {
    const std::string full = Load(name);
    for (std::size_t cut = 0; cut < full.size(); ++cut)
      EXPECT_EQ(ReadInto(full.substr(0, cut)), "Form stream damaged") << name << " cut at " << cut;
  }
}

TEST_F(ReaderTest, NestingIsBounded) {
  std::string bytes = RootWith(S("\0"), "");
  for (int i = 0; i < 1000; ++i) bytes += S("\x0CTTestControl\x01" "C\x00");
  EXPECT_EQ(ReadInto(bytes + std::string(1001, '\0')), "Form stream damaged");
}

#if defined(_WIN32)
// The program's own resources are linked next to the form.
TEST_F(ReaderTest, ReadsAnEmbeddedResource) {
  TReader reader("testtreeform");  // resource names match without case
  EXPECT_EQ(ReadForm(form, reader), "");
  EXPECT_EQ(reader.Offset, reader.Size);
  EXPECT_NE(FindResourceA(nullptr, "OTHERDATA", MAKEINTRESOURCEA(10)), nullptr);
  EXPECT_THROW(TReader("NOSUCHFORM"), EClassesError);
  EXPECT_EQ(boxes.back(), "Form resource NOSUCHFORM not found");
}
#else
// Every input the fuzzer once stopped on is read again under the sanitizers.
TEST(ReaderRegressions, SavedInputsAreHandled) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FK_REGRESSIONS_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name == "README") continue;
    const std::string bytes = Load(entry.path().string());
    const std::string error = ReadUntrustedStream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (name.find("damaged") != std::string::npos) EXPECT_EQ(error, "Form stream damaged") << name;
    ++count;
  }
  EXPECT_GT(count, 0);
}
#endif

}  // namespace
