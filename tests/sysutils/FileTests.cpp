// File helpers and file streams on real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "BoxCapture.h"
#include "Classes.h"
#include "ScopedWin.h"

using namespace formkit;

namespace {

constexpr DosDateTime kMarch2009 = 0x3A6573C8;  // 2009-03-05 14:30:16 local time

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    dir_ = std::string(base) + "fk_files_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const char* name : {"a.bin", "marker.ini", "dated.bin"}) DeleteFileA((dir_ + name).c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string dir_;
  fktest::BoxCapture boxes_;
};

}  // namespace

TEST_F(Files, StreamsAndHandles) {
  const std::string path = dir_ + "a.bin";
  {
    TFileStream s(path, fmCreate);
    EXPECT_EQ(s.Write("hello world", 11), 11);
    s.SetPosition(5);
    EXPECT_EQ(s.GetSize(), 11);
    EXPECT_EQ(s.GetPosition(), 5);  // GetSize keeps the position
    char c;
    EXPECT_EQ(s.Read(&c, -1), 0);
  }
  EXPECT_EQ(TFileStream(path, fmCreate).Write("xy", 2), 2);  // an existing file is truncated
  THandle reader = FileHandleOpen(path, 0x20);  // read, others may read
  ASSERT_TRUE(reader);
  EXPECT_FALSE(FileHandleOpen(path, 0x21));  // writing is denied to us
  char buffer[8] = {};
  EXPECT_EQ(FileHandleRead(reader.Get(), buffer, 8), 2);
  EXPECT_EQ(FileHandleRead(reader.Get(), buffer, 8), 0);
  FileHandleClose(reader);
  for (int mode : {3, 0x50}) EXPECT_FALSE(FileHandleOpen(path, mode)) << mode;  // outside the tables
  EXPECT_EQ(FileHandleRead(INVALID_HANDLE_VALUE, buffer, 1), 0);
  EXPECT_THROW(TFileStream(dir_ + "no\\such\\file.bin", fmCreate), EStreamError);
  EXPECT_THROW(TFileStream(dir_ + "never-created", 0), EStreamError);
}

TEST_F(Files, ExistenceAndFullPaths) {
  { TFileStream(dir_ + "marker.ini", fmCreate); }
  EXPECT_TRUE(PathExists(dir_.substr(0, dir_.size() - 1)));  // a folder counts
  EXPECT_TRUE(PathExists(dir_ + "*.ini"));
  EXPECT_FALSE(PathExists(dir_ + "*.dll"));
  EXPECT_FALSE(FolderExists(dir_ + "marker.ini"));
  EXPECT_TRUE(FolderExists(dir_));
  char saved[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  EXPECT_EQ(FullPathOf("name.txt"), dir_ + "name.txt");
  EXPECT_EQ(FullPathOf(std::string(250, 'a')), "");  // the result does not fit: empty, never past the buffer
  SetCurrentDirectoryA(saved);
}

TEST_F(Files, DosDateTimes) {
  const std::string path = dir_ + "dated.bin";
  EXPECT_EQ(TFileStream(path, fmCreate).Write(std::string(1234, 'd').data(), 1234), 1234);
  SYSTEMTIME st = {2009, 3, 0, 5, 14, 30, 17, 0};
  FILETIME local, utc;
  SystemTimeToFileTime(&st, &local);
  LocalFileTimeToFileTime(&local, &utc);
  {
    TScopedFile f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(SetFileTime(f.Get(), nullptr, nullptr, &utc));
  }
  EXPECT_EQ(FileDosDateTime(path), kMarch2009);
  EXPECT_EQ(FileStamp(path).Size, 1234);
  EXPECT_EQ(SetFileDosDateTime(path, 0), 0u);  // zero changes nothing
  EXPECT_EQ(FileDosDateTime(path), kMarch2009);
  ASSERT_EQ(SetFileDosDateTime(path, 0x5A2B6C21), 0u);
  EXPECT_EQ(FileDosDateTime(path), 0x5A2B6C21);
  EXPECT_EQ(FileDosDateTime(dir_), -1);
  EXPECT_EQ(FileDosDateTime(dir_ + "missing.bin"), -1);
  EXPECT_EQ(FileStamp(dir_ + "missing.bin").Size, -1);  // no file, no size
  EXPECT_EQ(SetFileDosDateTime(dir_ + "missing.bin", kMarch2009), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  THandle holder = FileHandleOpen(path, 0x20);  // others may read but not write
  EXPECT_EQ(SetFileDosDateTime(path, kMarch2009), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  FileHandleClose(holder);
  EXPECT_EQ(SetFileDosDateTime(path, kMarch2009), 0u);  // and it closed what it opened
}

// Error reports give code addresses as offsets into the module that holds the code.
TEST(CodeAddresses, AreOffsetsIntoTheirModule) {
  const auto code = reinterpret_cast<const char*>(&CodeAddress);
  const auto base = reinterpret_cast<const char*>(GetModuleHandleA(nullptr));
  EXPECT_EQ(CodeAddress(code), static_cast<std::uint32_t>(code - base));
}
