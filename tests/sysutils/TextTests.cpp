#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "BoxCapture.h"
#include "Classes.h"
#include "SysUtils.h"

using namespace formkit;

TEST(IntToText, EdgeValues) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(-1), "-1");
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
  EXPECT_EQ(IntToText(INT32_MAX), "2147483647");
  EXPECT_EQ(IntToText(1000000000), "1000000000");
  EXPECT_EQ(IntToText(999999999), "999999999");
  // Every digit count, at both ends of each.
  for (std::int64_t p = 1; p <= 1000000000; p *= 10) {
    for (std::int64_t x : {p, p * 10 - 1 > INT32_MAX ? INT32_MAX : p * 10 - 1}) {
      EXPECT_EQ(IntToText(static_cast<std::int32_t>(x)), std::to_string(x));
      EXPECT_EQ(IntToText(static_cast<std::int32_t>(-x)), std::to_string(-x));
    }
  }
  for (std::int32_t x : {12, 123, 1234, 98765, -40302, 1010101, -99999999})
    EXPECT_EQ(IntToText(x), std::to_string(x));
}

TEST(IntToHexText, SmallestDigitCount) {
  EXPECT_EQ(IntToHexText(0), "0");
  EXPECT_EQ(IntToHexText(255), "FF");
  EXPECT_EQ(IntToHexText(4096), "1000");
  EXPECT_EQ(IntToHexText(0xFFFFFFFFu), "FFFFFFFF");
  EXPECT_EQ(IntToHexText(0x1230), "1230");
  EXPECT_EQ(IntToHexText(0x0ABCDEF1), "ABCDEF1");
}

TEST(TextToInt, AcceptedSyntaxOnly) {
  EXPECT_EQ(TextToIntDef("  42", 0), 42);
  EXPECT_EQ(TextToIntDef("42 ", 0), 0);
  EXPECT_EQ(TextToIntDef("", 0), 0);
  EXPECT_EQ(TextToIntDef("-17", 0), -17);
  EXPECT_EQ(TextToIntDef("+17", 0), 17);
  EXPECT_EQ(TextToIntDef("$1f", 0), 31);
  EXPECT_EQ(TextToIntDef("0x10", 0), 16);
  EXPECT_EQ(TextToIntDef("0X10", 0), 16);
  EXPECT_EQ(TextToIntDef("x10", 0), 16);
  EXPECT_EQ(TextToIntDef("X10", 0), 16);
  EXPECT_EQ(TextToIntDef("2147483648", 0), 0);
  EXPECT_EQ(TextToIntDef("2147483647", 0), 2147483647);
  EXPECT_EQ(TextToIntDef("-2147483648", 0), INT32_MIN);
  EXPECT_EQ(TextToIntDef("-2147483649", 5), 5);
  EXPECT_EQ(TextToIntDef("12a", 0), 0);
  EXPECT_EQ(TextToIntDef("$FFFFFFFF", 0), -1);
  EXPECT_EQ(TextToIntDef("$80000000", 0), INT32_MIN);
  EXPECT_EQ(TextToIntDef("$000000001", 0), 1);  // leading zeros are not significant
  EXPECT_EQ(TextToIntDef("$100000000", 9), 9);  // nine significant digits
  EXPECT_EQ(TextToIntDef("$", 9), 9);
  EXPECT_EQ(TextToIntDef("0x", 9), 9);
  EXPECT_EQ(TextToIntDef("-", 9), 9);
  EXPECT_EQ(TextToIntDef("   ", 9), 9);
  EXPECT_EQ(TextToIntDef("\t1", 9), 9);  // only spaces may lead
  EXPECT_EQ(TextToIntDef("-$10", 0), -16);
  EXPECT_EQ(TextToIntDef("0", 9), 0);
  EXPECT_EQ(TextToIntDef("99999999999999999999", 3), 3);
}

TEST(TextHelpers, PositionsAndParts) {
  EXPECT_EQ(CharPos(':', "gateway:81"), 8);
  EXPECT_EQ(CharPos(':', "gateway"), 0);
  std::string longText(1000, 'a');
  longText[777] = 'z';
  EXPECT_EQ(CharPos('z', longText), 778);
  EXPECT_EQ(LastCharOfSet("/\\:", "dir/sub\\update.ini"), 8);
  EXPECT_EQ(LastCharOfSet("/\\:", "update.ini"), 0);
  EXPECT_EQ(LastCharOfSet("\\", std::string("ab\0cd", 5)), 3);  // a zero byte stops the scan
  EXPECT_EQ(FileNamePart("C:\\Program Files\\update.exe"), "update.exe");
  EXPECT_EQ(FolderPart("C:\\Program Files\\update.exe"), "C:\\Program Files\\");
  EXPECT_EQ(FileNamePart("update.exe"), "update.exe");
  EXPECT_EQ(FolderPart("update.exe"), "");
  EXPECT_EQ(FileNamePart("C:\\dir\\"), "");
  EXPECT_EQ(FolderPart("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(FolderPart("C:file"), "C:");
}

TEST(TextHelpers, TrimAndCase) {
  EXPECT_EQ(TrimBlanks(" \t\r\n "), "");
  EXPECT_EQ(TrimBlanks("  a b\t"), "a b");
  EXPECT_EQ(TrimBlanks(std::string("\0x\0", 3)), "x");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(UpperAscii("http://a\xE9z"), "HTTP://A\xE9Z");
  std::string s = "ab";
  AppendChar(s, 'c');
  EXPECT_EQ(s, "abc");
}

TEST(TextHelpers, CStringsAndNames) {
  EXPECT_EQ(CompareCStr("abc", "abc"), 0);
  EXPECT_LT(CompareCStr("abc", "abd"), 0);
  EXPECT_GT(CompareCStr("ab\xE9", "abc"), 0);  // unsigned bytes
  EXPECT_LT(CompareCStr("ab", "abc"), 0);
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  CopyCStrMax(buffer, "abcdefghij", 5);
  EXPECT_STREQ(buffer, "abcde");
  CopyCStrMax(buffer, "ab", 5);
  EXPECT_STREQ(buffer, "ab");
  static const char* const kNames[] = {"Left", "Caption", "Top", "Caption"};
  EXPECT_EQ(IndexOfName("Caption", kNames), 3);  // scanned from the top
  EXPECT_EQ(IndexOfName("caption", kNames), -1);
  EXPECT_EQ(IndexOfName("Left", kNames), 0);
  TRect r = BoundsToRect(120, 64, 112, 15);
  EXPECT_EQ(r.Left, 120);
  EXPECT_EQ(r.Top, 64);
  EXPECT_EQ(r.Right, 232);
  EXPECT_EQ(r.Bottom, 79);
}

TEST(ShortStrings, CutTo255) {
  ShortString s = MakeShortString(std::string(300, 'q'));
  EXPECT_EQ(s.Length, 255);
  EXPECT_EQ(ShortStringText(s), std::string(255, 'q'));
  EXPECT_EQ(ShortStringText(MakeShortString("FR")), "FR");
  EXPECT_EQ(sizeof(ShortString), 256u);
}

TEST(FormatText, Directives) {
  EXPECT_EQ(FormatText("Error %d at %x", {5, 0x1230}), "Error 5 at 1230");
  std::string a = "boom", b = "Classes.cpp";
  EXPECT_EQ(FormatText("%s in %s (%d) at %x", {a, b, 42, 0xABC}), "boom in Classes.cpp (42) at ABC");
  EXPECT_EQ(FormatText("100%%", {1}), "100%");
  EXPECT_EQ(FormatText("100%%", {}), "100%%");
  EXPECT_EQ(FormatText("%1:s %0:s", {"a", "b"}), "b a");
  EXPECT_EQ(FormatText("%.3d", {7}), "007");
  EXPECT_EQ(FormatText("%.3d", {-7}), "0-7");
  EXPECT_EQ(FormatText("%.2x", {0xABC}), "ABC");  // never cut
  EXPECT_EQ(FormatText("[%d][%s]", {"text", "next"}), "[][next]");  // type mismatch uses up the argument
  EXPECT_EQ(FormatText("%s%s", {'c', MakeShortString("sh")}), "csh");
  EXPECT_EQ(FormatText("end%", {1}), "end");
  EXPECT_EQ(FormatText("%d %d %d", {1}), "1  ");
  EXPECT_EQ(FormatText("%q%d", {1, 2}), "2");
  EXPECT_EQ(FormatText("%5:", {1}), "");
  EXPECT_EQ(FormatText("%.", {1}), "");
  EXPECT_EQ(FormatText("%.9s", {1}), "9s");  // a '.' that does not qualify consumes one argument
}

TEST(Colors, TableAndFallback) {
  EXPECT_EQ(ColorFromIdent("clRed"), 0x0000FF);
  EXPECT_EQ(ColorFromIdent("clNavy"), 0x800000);
  EXPECT_EQ(ColorFromIdent("clWhite"), 0xFFFFFF);
  EXPECT_EQ(ColorFromIdent("clNone"), 0x1FFFFFFF);
  EXPECT_EQ(ColorFromIdent("clred"), 0);
  EXPECT_EQ(ColorFromIdent("clNoSuchColour"), 0);
  EXPECT_EQ(ColorFromIdent("clBlack"), 0);
  EXPECT_EQ(ColorTableValue("clBtnFace"), static_cast<std::int32_t>(0x8000000F));
  EXPECT_EQ(ColorTableValue("clInfoBk"), static_cast<std::int32_t>(0x80000018));
  EXPECT_EQ(ColorTableValue("clScrollBar"), static_cast<std::int32_t>(0x80000000));
  SysColorFunc old = SetSysColorFunc([](int index) { return 0x00123400 + index; });
  EXPECT_EQ(ColorFromIdent("clBtnFace"), 0x0012340F);
  EXPECT_EQ(ColorFromIdent("clWindowText"), 0x00123408);
  SetSysColorFunc(old);
}

TEST(MessageBoxes, ErrorAndNoticeTexts) {
  fktest::BoxCapture boxes;
  ErrorBox("C:\\Quillon\\", -1);
  ErrorBox("PathBtn", 9999);
  ErrorBox("x", 0);
  ErrorBox("x", -5);
  NoticeBox("note");
  ASSERT_EQ(boxes.boxes().size(), 5u);
  EXPECT_EQ(boxes.boxes()[0].Text, "C:\\Quillon\\");
  EXPECT_EQ(boxes.boxes()[0].Style, 0x22010u);
  EXPECT_EQ(boxes.boxes()[0].Caption, "<null>");
  EXPECT_EQ(boxes.boxes()[0].Owner, nullptr);
  EXPECT_EQ(boxes.boxes()[1].Text, "PathBtn 9999");
  EXPECT_EQ(boxes.boxes()[2].Text, "x 0");
  EXPECT_EQ(boxes.boxes()[3].Text, "x -5");
  EXPECT_EQ(boxes.boxes()[4].Text, "note");
  EXPECT_EQ(boxes.boxes()[4].Style, 0u);
}

TEST(TListTest, GrowthSteps) {
  TList list;
  int dummy = 0;
  EXPECT_EQ(list.Add(&dummy), 0);
  EXPECT_EQ(list.Capacity, 16);
  std::vector<int> values(200);
  std::vector<std::int32_t> capacities;
  for (int i = 1; i < 200; ++i) {
    std::int32_t before = list.Capacity;
    EXPECT_EQ(list.Add(&values[static_cast<std::size_t>(i)]), i);
    if (list.Capacity != before) capacities.push_back(list.Capacity);
  }
  // 16, 32, 48, 64 by sixteen, then a quarter: 80, 100, 125, 156, 195, 243.
  std::vector<std::int32_t> expected = {32, 48, 64, 80, 100, 125, 156, 195, 243};
  EXPECT_EQ(capacities, expected);
  EXPECT_EQ(list.Count, 200);
  EXPECT_EQ(list.Get(0), &dummy);
  EXPECT_EQ(list.Get(150), &values[150]);
}
