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
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
  EXPECT_EQ(IntToHexText(0), "0");
  EXPECT_EQ(IntToHexText(0xFFFFFFFFu), "FFFFFFFF");
  EXPECT_EQ(IntToHexText(0x0ABCDEF1), "ABCDEF1");
}

TEST(Text, TextToIntAcceptsItsSyntaxOnly) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {{"  42", 42}, {"42 ", 9}, {"", 9}, {"-17", -17}, {"+17", 17}, {"$1f", 31}, {"0x10", 16},
               {"X10", 16}, {"2147483647", INT32_MAX}, {"2147483648", 9}, {"-2147483648", INT32_MIN},
               {"-2147483649", 9}, {"12a", 9}, {"$FFFFFFFF", -1}, {"$000000001", 1}, {"$100000000", 9},
               {"$", 9}, {"0x", 9}, {"-", 9}, {"   ", 9}, {"\t1", 9}, {"-$10", -16}, {"0", 0},
               {"99999999999999999999", 9}};
  for (const auto& c : cases) EXPECT_EQ(TextToIntDef(c.text, 9), c.value) << c.text;
}

TEST(Text, PartsAndPositions) {
  EXPECT_EQ(CharPos(':', "gateway:81"), 8);
  EXPECT_EQ(CharPos(':', "gateway"), 0);
  EXPECT_EQ(LastCharOfSet("/\\:", "dir/sub\\update.ini"), 8);
  EXPECT_EQ(LastCharOfSet("\\", std::string("ab\0cd", 5)), 3);  // a zero byte stops the scan
  const struct {
    const char *path, *folder, *name;
  } parts[] = {{"C:\\Program Files\\update.exe", "C:\\Program Files\\", "update.exe"},
               {"update.exe", "", "update.exe"}, {"C:\\dir\\", "C:\\dir\\", ""}, {"C:file", "C:", "file"}};
  for (const auto& p : parts) {
    EXPECT_EQ(FolderPart(p.path), p.folder) << p.path;
    EXPECT_EQ(FileNamePart(p.path), p.name) << p.path;
  }
  EXPECT_EQ(TrimBlanks(" \t\r\n "), "");
  EXPECT_EQ(TrimBlanks(std::string("\0 a b\t\0", 7)), "a b");
  EXPECT_EQ(UpperAscii("http://a\xE9z"), "HTTP://A\xE9Z");
  EXPECT_GT(CompareCStr("ab\xE9", "abc"), 0);  // unsigned bytes
  EXPECT_LT(CompareCStr("ab", "abc"), 0);
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
      {"100%%", {1}, "100%"}, {"100%%", {}, "100%%"}, {"%1:s %0:s", {"a", "b"}, "b a"},
      {"%.3d", {7}, "007"}, {"%.3d", {-7}, "0-7"}, {"%.2x", {0xABC}, "ABC"},
      {"[%d][%s]", {"text", "next"}, "[][next]"},  // a type mismatch uses up the argument
      {"%s%s", {'c', sh}, "csh"}, {"end%", {1}, "end"}, {"%d %d %d", {1}, "1  "},
      {"%q%d", {1, 2}, "2"}, {"%5:", {1}, ""}, {"%.", {1}, ""}, {"%.9s", {1}, "9s"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatText(c.format, c.args), c.result) << c.format;
}

TEST(Text, ColourNames) {
  EXPECT_EQ(ColorFromIdent("clNavy"), 0x800000);
  EXPECT_EQ(ColorFromIdent("clNone"), 0x1FFFFFFF);
  EXPECT_EQ(ColorFromIdent("clred"), 0);  // exact names, else black
  EXPECT_EQ(ColorTableValue("clScrollBar"), static_cast<std::int32_t>(0x80000000));
  SysColorFunc old = SetSysColorFunc([](int index) { return 0x00123400 + index; });
  EXPECT_EQ(ColorFromIdent("clBtnFace"), 0x0012340F);
  SetSysColorFunc(old);
}

TEST(Text, ListGrowsBySixteenThenByAQuarter) {
  TList list;
  std::vector<std::int32_t> capacities;
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(list.Add(&list), i);
    if (capacities.empty() || capacities.back() != list.Capacity) capacities.push_back(list.Capacity);
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{16, 32, 48, 64, 80, 100, 125, 156, 195, 243}));
}

namespace {

struct HaltSignal {
  int code;
};
[[noreturn]] void ThrowingExit(int code) { throw HaltSignal{code}; }

class Hooks : public ::testing::Test {
 protected:
  void SetUp() override {
    StartSysUtils();
    previousExit_ = SetExitFunc(&ThrowingExit);
  }
  void TearDown() override {
    SetExitFunc(previousExit_);
    FinishSysUtils();
  }
  template <class E>
  int UncaughtCode(const E& error, std::uint32_t address) {
    try {
      try {
        throw error;
      } catch (...) {
        UncaughtException(std::current_exception(), address);
      }
    } catch (const HaltSignal& h) {
      return h.code;
    }
    return -1;
  }
  BoxCapture boxes_;
  ExitFunc previousExit_ = nullptr;
};

}  // namespace

TEST_F(Hooks, ErrorBoxesAndExceptionsShowTheirText) {
  ErrorBox("C:\\Quillon\\", -1);
  ErrorBox("PathBtn", 9999);
  NoticeBox("note");
  Exception formatted("Error %d at %x", {3, 0xFF});
  const auto& b = BoxCapture::Boxes();
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0].Text, "C:\\Quillon\\");
  EXPECT_EQ(b[0].Style, kErrorBoxStyle);
  EXPECT_EQ(b[1].Text, "PathBtn 9999");
  EXPECT_EQ(b[2].Style, kNoticeBoxStyle);
  EXPECT_EQ(b[3].Text, "Error 3 at FF");
}

TEST_F(Hooks, FailuresRaiseTheirKind) {
  try {
    CheckInOut(false);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message.rfind("Error 0 at ", 0), 0u) << e.Message;
  }
  CheckInOut(true);
  try {
    FK_ASSERT(1 == 2, "broken");
    ADD_FAILURE() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.Message.find("broken in "), std::string::npos) << e.Message;
    EXPECT_NE(e.Message.find("TextTests.cpp ("), std::string::npos) << e.Message;
  }
}

TEST_F(Hooks, UncaughtExceptionsEndWithTheFinalReport) {
  EXPECT_EQ(UncaughtCode(Exception(std::string("Disk full")), 0x1230), 217);
  const auto& b = BoxCapture::Boxes();
  ASSERT_EQ(b.size(), 3u);  // when created, by the hook, the final report
  EXPECT_EQ(b[1].Text, "Disk full");
  EXPECT_EQ(b[1].Style, kUncaughtBoxStyle);
  EXPECT_EQ(b[2].Text, "Runtime error 217 at 00001230");
  EXPECT_EQ(b[2].Caption, "Error");
  BoxCapture::Boxes().clear();
  EXPECT_EQ(UncaughtCode(Exception(std::string()), 0xBEEF), 230);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[1].Text, "Runtime error 230 at 0000BEEF");
  BoxCapture::Boxes().clear();
  EXPECT_EQ(UncaughtCode(std::runtime_error("not ours"), 0x10), 217);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(RuntimeErrorText(5, 0xDEADBEEF), "Runtime error   5 at DEADBEEF");
}

TEST_F(Hooks, OutsideTheirSpanErrorsStopDirectly) {
  FinishSysUtils();
  try {
    RunError(0, 0x44);
  } catch (const HaltSignal& h) {
    EXPECT_NE(h.code, 0);  // never the success code
  }
  ASSERT_EQ(BoxCapture::Boxes().size(), 1u);
  EXPECT_EQ(BoxCapture::Boxes()[0].Text.rfind("Runtime error ", 0), 0u);
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
  EXPECT_TRUE(ExceptionPending());
  try {
    RaisePendingException();
    ADD_FAILURE() << "nothing raised";
  } catch (const EClassesError& e) {
    EXPECT_EQ(e.Message, "first");
  }
  EXPECT_FALSE(ExceptionPending());
}
