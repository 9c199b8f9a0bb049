// Text, number and format helpers, the error hooks and the exception boundary (Win32-free).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "BoxCapture.h"
#include "Classes.h"

using namespace formkit;
using fktest::BoxCapture;

TEST(Text, Numbers) {
  for (std::int64_t p = 1; p <= 1000000000; p *= 10)
    for (std::int64_t x : {p, std::min<std::int64_t>(p * 10 - 1, INT32_MAX), -p, 1 - p * 10})
      if (x >= INT32_MIN) {
        EXPECT_EQ(IntToText(static_cast<std::int32_t>(x)), std::to_string(x));
      }
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
  EXPECT_EQ(IntToHexText(0), "0");
  const struct {
    const char* text;
    std::int32_t value;  // 9: refused
  } cases[] = {{"  42", 42}, {"42 ", 9}, {"", 9}, {"+17", 17}, {"$1f", 31}, {"X10", 16}, {"2147483648", 9},
               {"-2147483648", INT32_MIN}, {"-2147483649", 9}, {"$FFFFFFFF", -1}, {"$000000001", 1},
               {"$100000000", 9}, {"0x", 9}, {"-", 9}, {"\t1", 9}, {"-$10", -16}, {"99999999999999999999", 9}};
  for (const auto& c : cases) EXPECT_EQ(TextToIntDef(c.text, 9), c.value) << c.text;
}

TEST(Text, PartsNamesAndFormats) {
  const struct {
    const char *path, *folder, *name;
  } parts[] = {{"C:\\Program Files\\update.exe", "C:\\Program Files\\", "update.exe"},
               {"update.exe", "", "update.exe"}, {"C:\\dir\\", "C:\\dir\\", ""}, {"C:file", "C:", "file"}};
  for (const auto& p : parts) {
    EXPECT_EQ(FolderPart(p.path), p.folder) << p.path;
    EXPECT_EQ(FileNamePart(p.path), p.name) << p.path;
  }
  EXPECT_EQ(LastCharOfSet("\\", std::string("ab\0cd", 5)), 3);  // a zero byte stops the scan
  EXPECT_EQ(TrimBlanks(std::string("\0 a b\t\0", 7)), "a b");
  static const char* const kNames[] = {"Left", "Caption", "Top", "Caption"};
  EXPECT_EQ(IndexOfName("Caption", kNames), 3);  // scanned from the top
  EXPECT_EQ(IndexOfName("caption", kNames), -1);
  EXPECT_EQ(ShortStringText(MakeShortString(std::string(300, 'q'))), std::string(255, 'q'));

  const std::string a = "boom", b = "Classes.cpp";
  const ShortString sh = MakeShortString("sh");  // arguments refer to their values
  const struct {
    const char* format;
    std::vector<TFormatArg> args;
    const char* result;
  } formats[] = {
      {"%s in %s (%d) at %x", {a, b, 42, 0xABC}, "boom in Classes.cpp (42) at ABC"},
      {"100%%", {1}, "100%"}, {"100%%", {}, "100%%"}, {"%1:s %0:s", {"a", "b"}, "b a"}, {"%.3d", {-7}, "0-7"},
      {"[%d][%s]", {"text", "next"}, "[][next]"},  // a type mismatch uses up the argument
      {"%s%s", {'c', sh}, "csh"}, {"end%", {1}, "end"}, {"%d %d %d", {1}, "1  "},
      {"%5:", {1}, ""}, {"%.9s", {1}, "9s"},
  };
  for (const auto& f : formats) EXPECT_EQ(FormatText(f.format, f.args), f.result) << f.format;
}

namespace {

struct HaltSignal {
  int code;
};

// The error hooks in place, and the program's end turned into HaltSignal.
class Hooks : public ::testing::Test {
 protected:
  void SetUp() override {
    StartSysUtils();
    previousExit_ = SetExitFunc([](int code) { throw HaltSignal{code}; });
  }
  void TearDown() override {
    SetExitFunc(previousExit_);
    FinishSysUtils();
  }
  // The exit code when body stops the program; Boxes() has what it showed.
  template <class F>
  static int HaltCode(F body) {
    BoxCapture::Boxes().clear();
    try {
      body();
    } catch (const HaltSignal& h) {
      return h.code;
    }
    return -1;
  }
  BoxCapture boxes_;
  ExitFunc previousExit_ = nullptr;
};

}  // namespace

TEST_F(Hooks, ErrorsShowTheirTextWhenCreated) {
  ErrorBox("PathBtn", 9999);
  Exception formatted("Error %d at %x", {3, 0xFF});
  EXPECT_THROW(CheckInOut(false), Exception);
  EXPECT_THROW(FK_ASSERT(1 == 2, "broken"), EAssertionFailed);
  const auto& b = BoxCapture::Boxes();
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0].Text, "PathBtn 9999");
  EXPECT_EQ(b[0].Style, kErrorBoxStyle);
  EXPECT_EQ(b[1].Text, "Error 3 at FF");
  EXPECT_EQ(b[2].Text.rfind("Error 0 at ", 0), 0u) << b[2].Text;
  EXPECT_NE(b[3].Text.find("broken in "), std::string::npos) << b[3].Text;
  EXPECT_NE(b[3].Text.find("TextTests.cpp ("), std::string::npos) << b[3].Text;
}

TEST_F(Hooks, UncaughtExceptionsEndWithTheFinalReport) {
  const auto ours = std::make_exception_ptr(Exception(std::string("Disk full")));
  const auto empty = std::make_exception_ptr(Exception(std::string()));
  const auto foreign = std::make_exception_ptr(std::runtime_error("not ours"));
  const auto& b = BoxCapture::Boxes();
  EXPECT_EQ(HaltCode([&] { UncaughtException(ours, 0x1230); }), 217);
  ASSERT_EQ(b.size(), 2u);  // the hook's box, then the final report
  EXPECT_EQ(b[0].Text, "Disk full");
  EXPECT_EQ(b[0].Style, kUncaughtBoxStyle);
  EXPECT_EQ(b[1].Text, "Runtime error 217 at 00001230");
  EXPECT_EQ(b[1].Caption, "Error");
  EXPECT_EQ(HaltCode([&] { UncaughtException(empty, 0xBEEF); }), 230);
  EXPECT_EQ(b.size(), 1u);
  EXPECT_EQ(HaltCode([&] { UncaughtException(foreign, 0x10); }), 217);
  EXPECT_EQ(b.size(), 1u);
  EXPECT_EQ(RuntimeErrorText(5, 0xDEADBEEF), "Runtime error   5 at DEADBEEF");
  FinishSysUtils();  // outside the hooks' span errors stop directly, never with 0
  EXPECT_NE(HaltCode([] { RunError(0, 0x44); }), 0);
  StartSysUtils();
}

TEST_F(Hooks, FirstStashedExceptionIsRaisedOnce) {
  RaisePendingException();  // nothing pending: no effect
  for (const char* text : {"first", "second"}) {
    try {
      throw EClassesError(std::string(text));
    } catch (...) {
      StashException();
    }
  }
  try {
    RaisePendingException();
    ADD_FAILURE() << "nothing raised";
  } catch (const EClassesError& e) {
    EXPECT_EQ(e.Message, "first");
  }
  EXPECT_FALSE(ExceptionPending());
}
