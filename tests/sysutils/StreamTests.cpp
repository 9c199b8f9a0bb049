// File streams over real files.
#include <gtest/gtest.h>

#include <windows.h>

#include "BoxCapture.h"
#include "Classes.h"

using namespace formkit;

namespace {

std::string TempName(const char* tag) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  return std::string(base) + "fk_stream_" + std::to_string(GetCurrentProcessId()) + "_" + tag + ".bin";
}

// A stream whose position and size are fixed, to watch TStream's own Seek.
class FixedStream : public TStream {
 public:
  void SetPosition(std::int32_t) override { ++moves; }
  std::int32_t GetPosition() override { return 100; }
  std::int32_t GetSize() override { return 1000; }
  void SetSize(std::int32_t) override { ++moves; }
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int32_t CopyFrom(TStream&, std::int32_t) override { return 0; }
  void ReadComponentData() override {}
  int moves = 0;
};

}  // namespace

TEST(FileStream, CreateTruncatesWritesAndKeepsPositionOnGetSize) {
  fktest::BoxCapture boxes;
  std::string path = TempName("create");
  {
    TFileStream s(path, fmCreate);
    EXPECT_EQ(s.Write("hello world", 11), 11);
    EXPECT_EQ(s.Write("x", 0), 0);
    s.SetPosition(5);
    EXPECT_EQ(s.GetSize(), 11);
    EXPECT_EQ(s.GetPosition(), 5);
    EXPECT_EQ(s.Seek(-2, 2), 9);
    s.SetSize(4);
    EXPECT_EQ(s.GetSize(), 4);
  }
  {
    TFileStream s(path, fmCreate);  // an existing file is truncated
    EXPECT_EQ(s.GetSize(), 0);
  }
  {
    TFileStream s(path, 0);
    char c;
    EXPECT_EQ(s.Read(&c, 1), 0);
    EXPECT_EQ(s.Read(&c, -1), 0);
  }
  DeleteFileA(path.c_str());
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST(FileStream, MissingFolderRaisesWithThePathAsMessage) {
  fktest::BoxCapture boxes;
  std::string path = TempName("x") + "\\no\\such\\file.bin";
  try {
    TFileStream s(path, fmCreate);
    FAIL() << "no exception";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message, path);
  }
  ASSERT_EQ(boxes.boxes().size(), 1u);  // shown when created
  EXPECT_EQ(boxes.boxes()[0].Text, path);
  EXPECT_THROW(TFileStream(TempName("never-created"), 0), EStreamError);
}

TEST(FileStream, UnsupportedOperationsFailAnAssertion) {
  fktest::BoxCapture boxes;
  StartSysUtils();
  std::string path = TempName("assert");
  {
    TFileStream s(path, fmCreate);
    FixedStream other;
    try {
      s.CopyFrom(other, 1);
      FAIL() << "no exception";
    } catch (const EAssertionFailed& e) {
      EXPECT_NE(e.Message.find("Classes.cpp ("), std::string::npos) << e.Message;
    }
    EXPECT_THROW(s.ReadComponentData(), EAssertionFailed);
  }
  DeleteFileA(path.c_str());
  FinishSysUtils();
}

TEST(Stream, BaseSeekOnlyComputes) {
  FixedStream s;
  EXPECT_EQ(s.Seek(7, 0), 7);
  EXPECT_EQ(s.Seek(7, 1), 107);
  EXPECT_EQ(s.Seek(-7, 2), 993);
  EXPECT_EQ(s.Seek(7, 9), 100);
  EXPECT_EQ(s.moves, 0);
}
