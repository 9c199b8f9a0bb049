// Text, number and format helpers, the exception family, the error hooks and
// the exception boundary; all Win32-free.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "BoxCapture.h"
#include "Classes.h"

using namespace formkit;
using fktest::BoxCapture;

TEST(Text, NumbersToText) {
  for (std::int64_t p = 1; p <= 1000000000; p *= 10)
    for (std::int64_t x : {p, std::min<std::int64_t>(p * 10 - 1, INT32_MAX), -p, 1 - p * 10})
      if (x >= INT32_MIN) {
        EXPECT_EQ(IntToText(static_cast<std::int32_t>(x)), std::to_string(x));
      }
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
  EXPECT_EQ(IntToHexText(0), "0");
  EXPECT_EQ(IntToHexText(0xFFFFFFFFu), "FFFFFFFF");
}

TEST(Text, TextToIntAcceptsItsSyntaxOnly) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {{"  42", 42}, {"42 ", 9}, {"", 9}, {"+17", 17}, {"$1f", 31}, {"X10", 16}, {"2147483648", 9},
               {"-2147483648", INT32_MIN}, {"-2147483649", 9}, {"$FFFFFFFF", -1}, {"$000000001", 1},
               {"$100000000", 9}, {"0x", 9}, {"-", 9}, {"\t1", 9}, {"-$10", -16}, {"99999999999999999999", 9}};
  for (const auto& c : cases) EXPECT_EQ(TextToIntDef(c.text, 9), c.value) << c.text;
}

TEST(Text, PartsAndPositions) {
  EXPECT_EQ(CharPos(':', "gateway:81"), 8);
  EXPECT_EQ(LastCharOfSet("\\", std::string("ab\0cd", 5)), 3);  // a zero byte stops the scan
  const struct {
    const char *path, *folder, *name;
  } parts[] = {{"C:\\Program Files\\update.exe", "C:\\Program Files\\", "update.exe"},
               {"update.exe", "", "update.exe"}, {"C:\\dir\\", "C:\\dir\\", ""}, {"C:file", "C:", "file"}};
  for (const auto& p : parts) {
    EXPECT_EQ(FolderPart(p.path), p.folder) << p.path;
    EXPECT_EQ(FileNamePart(p.path), p.name) << p.path;
  }
  EXPECT_EQ(TrimBlanks(std::string("\0 a b\t\0", 7)), "a b");
  EXPECT_EQ(UpperAscii("http://a\xE9z"), "HTTP://A\xE9Z");
  EXPECT_GT(CompareCStr("ab\xE9", "abc"), 0);  // unsigned bytes
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  CopyCStrMax(buffer, "abcdefghij", 5);
  EXPECT_STREQ(buffer, "abcde");
  static const char* const kNames[] = {"Left", "Caption", "Top", "Caption"};
  EXPECT_EQ(IndexOfName("Caption", kNames), 3);  // scanned from the top
  EXPECT_EQ(IndexOfName("caption", kNames), -1);
  EXPECT_EQ(ShortStringText(MakeShortString(std::string(300, 'q'))), std::string(255, 'q'));
}

TEST(Text, FormatDirectives) {
  const std::string a = "boom", b = "Classes.cpp";
  const ShortString sh = MakeShortString("sh");
  const struct {
    const char* format;
    std::vector<TFormatArg> args;
    const char* result;
  } cases[] = {
      {"%s in %s (%d) at %x", {a, b, 42, 0xABC}, "boom in Classes.cpp (42) at ABC"},
      {"100%%", {1}, "100%"}, {"100%%", {}, "100%%"}, {"%1:s %0:s", {"a", "b"}, "b a"}, {"%.3d", {-7}, "0-7"},
      {"[%d][%s]", {"text", "next"}, "[][next]"},  // a type mismatch uses up the argument
      {"%s%s", {'c', sh}, "csh"}, {"end%", {1}, "end"}, {"%d %d %d", {1}, "1  "}, {"%5:", {1}, ""},
      {"%.9s", {1}, "9s"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatText(c.format, c.args), c.result) << c.format;
}

namespace {

struct HaltSignal {
  int code;
};

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
  template <class E>
  static int Uncaught(const E& error, std::uint32_t address) {
    return HaltCode([&] {
      try {
        throw error;
      } catch (...) {
        UncaughtException(std::current_exception(), address);
      }
    });
  }
  BoxCapture boxes_;
  ExitFunc previousExit_ = nullptr;
};

}  // namespace

TEST_F(Hooks, ErrorsShowTheirTextWhenCreated) {
  ErrorBox("PathBtn", 9999);
  Exception formatted("Error %d at %x", {3, 0xFF});
  try {
    CheckInOut(false);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message.rfind("Error 0 at ", 0), 0u) << e.Message;
  }
  try {
    FK_ASSERT(1 == 2, "broken");
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.Message.find("broken in "), std::string::npos) << e.Message;
    EXPECT_NE(e.Message.find("TextTests.cpp ("), std::string::npos) << e.Message;
  }
  const auto& b = BoxCapture::Boxes();
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0].Text, "PathBtn 9999");
  EXPECT_EQ(b[0].Style, kErrorBoxStyle);
  EXPECT_EQ(b[1].Text, "Error 3 at FF");
}

TEST_F(Hooks, UncaughtExceptionsEndWithTheFinalReport) {
  const auto& b = BoxCapture::Boxes();
  EXPECT_EQ(Uncaught(Exception(std::string("Disk full")), 0x1230), 217);
  ASSERT_EQ(b.size(), 2u);  // the hook's box, then the final report
  EXPECT_EQ(b[0].Text, "Disk full");
  EXPECT_EQ(b[0].Style, kUncaughtBoxStyle);
  EXPECT_EQ(b[1].Text, "Runtime error 217 at 00001230");
  EXPECT_EQ(b[1].Caption, "Error");
  EXPECT_EQ(Uncaught(Exception(std::string()), 0xBEEF), 230);
  EXPECT_EQ(b.size(), 1u);
  EXPECT_EQ(Uncaught(std::runtime_error("not ours"), 0x10), 217);
  EXPECT_EQ(b.size(), 1u);
  EXPECT_EQ(RuntimeErrorText(5, 0xDEADBEEF), "Runtime error   5 at DEADBEEF");
  FinishSysUtils();  // outside the hooks' span errors stop directly, never with 0
  EXPECT_NE(HaltCode([] { RunError(0, 0x44); }), 0);
  StartSysUtils();
}

TEST(ExceptionBoundary, FirstStashedExceptionIsRaisedOnce) {
  BoxCapture boxes;
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
