// The exception family, the error hooks, the final stop report and the
// exception boundary used by window procedures.
#include <gtest/gtest.h>

#include "BoxCapture.h"
#include "SysUtils.h"

using namespace formkit;

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
  int HaltCode(void (*body)()) {
    try {
      body();
    } catch (const HaltSignal& h) {
      return h.code;
    }
    ADD_FAILURE() << "no halt";
    return -1;
  }
  fktest::BoxCapture boxes_;
  ExitFunc previousExit_ = nullptr;
};

}  // namespace

TEST_F(Hooks, ExceptionShowsItsMessageOnceWhenCreated) {
  try {
    throw EClassesError(std::string("Invalid ordinal value"));
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Invalid ordinal value");
    EXPECT_STREQ(e.what(), "Invalid ordinal value");
  }
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].Text, "Invalid ordinal value");
  EXPECT_EQ(boxes_.boxes()[0].Style, 0u);

  Exception formatted("Error %d at %x", {3, 0xFF});
  EXPECT_EQ(formatted.Message, "Error 3 at FF");
  EXPECT_EQ(boxes_.boxes().size(), 2u);
}

TEST_F(Hooks, FailedFolderOperationRaisesErrorZero) {
  try {
    CheckInOut(false);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message.rfind("Error 0 at ", 0), 0u) << e.Message;
    std::string hex = e.Message.substr(11);
    EXPECT_FALSE(hex.empty());
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
  }
  CheckInOut(true);  // success raises nothing
  EXPECT_EQ(boxes_.boxes().size(), 1u);
}

TEST_F(Hooks, AssertionNamesFileAndLine) {
  try {
    FK_ASSERT(1 == 2, "broken");
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.Message.find("broken in "), std::string::npos) << e.Message;
    EXPECT_NE(e.Message.find("HookTests.cpp ("), std::string::npos) << e.Message;
    EXPECT_NE(e.Message.find(") at "), std::string::npos) << e.Message;
  }
}

TEST_F(Hooks, UncaughtExceptionShowsThreeBoxesAndEnds217) {
  int code = HaltCode([] {
    try {
      throw Exception(std::string("Disk full"));
    } catch (...) {
      UncaughtException(std::current_exception(), 0x1230);
    }
  });
  EXPECT_EQ(code, 217);
  ASSERT_EQ(boxes_.boxes().size(), 3u);
  EXPECT_EQ(boxes_.boxes()[0].Text, "Disk full");
  EXPECT_EQ(boxes_.boxes()[0].Style, 0u);
  EXPECT_EQ(boxes_.boxes()[1].Text, "Disk full");
  EXPECT_EQ(boxes_.boxes()[1].Style, 0x2010u);
  EXPECT_EQ(boxes_.boxes()[1].Caption, "<null>");
  EXPECT_EQ(boxes_.boxes()[2].Text, "Runtime error 217 at 00001230");
  EXPECT_EQ(boxes_.boxes()[2].Caption, "Error");
  EXPECT_EQ(boxes_.boxes()[2].Style, 0u);
}

TEST_F(Hooks, UncaughtEmptyMessageEnds230WithoutHookBox) {
  int code = HaltCode([] {
    try {
      throw Exception(std::string());
    } catch (...) {
      UncaughtException(std::current_exception(), 0xBEEF);
    }
  });
  EXPECT_EQ(code, 230);
  ASSERT_EQ(boxes_.boxes().size(), 2u);  // creation box, then the final report
  EXPECT_EQ(boxes_.boxes()[1].Text, "Runtime error 230 at 0000BEEF");
}

TEST_F(Hooks, ForeignExceptionGetsOnlyTheFinalReport) {
  int code = HaltCode([] {
    try {
      throw std::runtime_error("not ours");
    } catch (...) {
      UncaughtException(std::current_exception(), 0x10);
    }
  });
  EXPECT_EQ(code, 217);
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].Text, "Runtime error 217 at 00000010");
}

TEST_F(Hooks, OutsideTheirSpanErrorsStopDirectly) {
  FinishSysUtils();
  int code = HaltCode([] { RunError(0, 0x44); });
  EXPECT_NE(code, 0);  // never the success code
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].Text.rfind("Runtime error ", 0), 0u);
  StartSysUtils();
}

TEST(RuntimeErrorText, ThreeColumnsRightAligned) {
  EXPECT_EQ(RuntimeErrorText(217, 0x1230), "Runtime error 217 at 00001230");
  EXPECT_EQ(RuntimeErrorText(5, 0xDEADBEEF), "Runtime error   5 at DEADBEEF");
  EXPECT_EQ(RuntimeErrorText(42, 0), "Runtime error  42 at 00000000");
}

TEST(ExceptionBoundary, FirstStashedExceptionIsRaisedOnce) {
  fktest::BoxCapture boxes;
  EXPECT_FALSE(ExceptionPending());
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
    FAIL() << "nothing raised";
  } catch (const EClassesError& e) {
    EXPECT_EQ(e.Message, "first");
  }
  EXPECT_FALSE(ExceptionPending());
  RaisePendingException();
}
