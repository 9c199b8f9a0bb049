// File and folder helpers on real files in a temporary folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "BoxCapture.h"
#include "SysUtils.h"

using namespace formkit;

namespace {

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    dir_ = std::string(base) + "fk_files_" + std::to_string(GetCurrentProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((dir_ + "*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = dir_ + name;
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveDirectoryA(full.c_str());
        else
          DeleteFileA(full.c_str());
      } while (FindNextFileA(h, &data));
      FindClose(h);
    }
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Write(const std::string& name, const std::string& content) {
    std::string path = dir_ + name;
    THandle h = FileHandleCreate(path);
    EXPECT_NE(h, kInvalidHandle);
    EXPECT_EQ(FileHandleWrite(h, content.data(), static_cast<std::int32_t>(content.size())),
              static_cast<std::int32_t>(content.size()));
    FileHandleClose(h);
    return path;
  }
  std::string Read(const std::string& path) {
    THandle h = FileHandleOpen(path, 0x40);
    if (h == kInvalidHandle) return "<missing>";
    std::string out(1 << 16, '\0');
    std::int32_t n = FileHandleRead(h, &out[0], static_cast<std::int32_t>(out.size()));
    FileHandleClose(h);
    out.resize(static_cast<std::size_t>(n));
    return out;
  }
  static void SetLocalWriteTime(const std::string& path, WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
    SYSTEMTIME st = {};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    FILETIME local, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(f, nullptr, nullptr, &utc));
    CloseHandle(f);
  }
  std::string dir_;
};

}  // namespace

TEST_F(TempFolder, CreateTruncatesAndOpenHonoursModes) {
  std::string path = Write("a.bin", "0123456789");
  EXPECT_EQ(Read(path), "0123456789");
  Write("a.bin", "xy");
  EXPECT_EQ(Read(path), "xy");

  EXPECT_EQ(FileHandleOpen(dir_ + "missing.bin", 0), kInvalidHandle);
  EXPECT_EQ(FileHandleCreate(dir_ + "no\\such\\folder.bin"), kInvalidHandle);

  THandle reader = FileHandleOpen(path, 0x20);  // read, others may read
  ASSERT_NE(reader, kInvalidHandle);
  EXPECT_EQ(FileHandleOpen(path, 0x21), kInvalidHandle);  // writing is denied to us
  THandle second = FileHandleOpen(path, 0x40);  // another reader is fine
  EXPECT_NE(second, kInvalidHandle);
  FileHandleClose(second);
  FileHandleClose(reader);

  EXPECT_EQ(FileHandleOpen(path, 3), kInvalidHandle);     // access value outside the table
  EXPECT_EQ(FileHandleOpen(path, 0x50), kInvalidHandle);  // sharing value outside the table
}

TEST_F(TempFolder, SeekReadWriteCounts) {
  std::string path = Write("s.bin", "abcdef");
  THandle h = FileHandleOpen(path, 2);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FileHandleSeek(h, 0, 2), 6);
  EXPECT_EQ(FileHandleSeek(h, 2, 0), 2);
  char buffer[8] = {};
  EXPECT_EQ(FileHandleRead(h, buffer, 8), 4);
  EXPECT_STREQ(buffer, "cdef");
  EXPECT_EQ(FileHandleRead(h, buffer, 8), 0);  // end of file looks like failure
  EXPECT_EQ(FileHandleSeek(h, -1, 1), 5);
  FileHandleClose(h);
  EXPECT_EQ(FileHandleRead(kInvalidHandle, buffer, 1), 0);
}

TEST_F(TempFolder, ExistenceTests) {
  std::string file = Write("marker.ini", "x");
  EXPECT_TRUE(PathExists(file));
  EXPECT_TRUE(PathExists(dir_.substr(0, dir_.size() - 1)));  // a folder counts
  EXPECT_TRUE(PathExists(dir_ + "*.ini"));
  EXPECT_FALSE(PathExists(dir_ + "*.dll"));
  EXPECT_FALSE(PathExists(dir_ + "missing.ini"));
  EXPECT_FALSE(FolderExists(file));
  EXPECT_TRUE(FolderExists(dir_));
  EXPECT_TRUE(FolderExists(dir_.substr(0, dir_.size() - 1)));
  EXPECT_FALSE(FolderExists(dir_ + "missing\\"));
}

TEST_F(TempFolder, FullPathOfExpandsAgainstCurrentFolder) {
  char saved[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  EXPECT_EQ(FullPathOf("name.txt"), dir_ + "name.txt");
  EXPECT_EQ(FullPathOf(""), "");
  EXPECT_EQ(FullPathOf(std::string(400, 'a')), "");  // does not fit: empty, never past the buffer
  SetCurrentDirectoryA(saved);
}

TEST_F(TempFolder, DosDateTimeKnownValueAndRoundTrip) {
  std::string path = Write("dated.bin", std::string(1234, 'd'));
  SetLocalWriteTime(path, 2009, 3, 5, 14, 30, 17);
  LastFileSize = 0;
  EXPECT_EQ(FileDosDateTime(path), 0x3A6573C8);
  EXPECT_EQ(LastFileSize, 1234);

  const DosDateTime value = 0x5A2B6C21;  // 2025-01-11 13:33:02
  EXPECT_EQ(SetFileDosDateTime(path, value), 0u);
  EXPECT_EQ(FileDosDateTime(path), value);
  // The helper leaves the file closed: an exclusive open succeeds.
  THandle h = FileHandleOpen(path, 0x12);
  EXPECT_NE(h, kInvalidHandle);
  FileHandleClose(h);
}

TEST_F(TempFolder, DosDateTimeZeroChangesNothing) {
  std::string path = Write("zero.bin", "z");
  SetLocalWriteTime(path, 2009, 3, 5, 14, 30, 17);
  SetFileDosDateTime(path, 0);
  EXPECT_EQ(FileDosDateTime(path), 0x3A6573C8);
  THandle h = FileHandleOpen(path, 0x12);
  EXPECT_NE(h, kInvalidHandle);
  FileHandleClose(h);
}

TEST_F(TempFolder, DosDateTimeFailures) {
  LastFileSize = 77;
  EXPECT_EQ(FileDosDateTime(dir_), -1);
  EXPECT_EQ(FileDosDateTime(dir_.substr(0, dir_.size() - 1)), -1);
  EXPECT_EQ(LastFileSize, 77);  // a folder leaves the previous size
  EXPECT_EQ(FileDosDateTime(dir_ + "missing.bin"), -1);
  EXPECT_EQ(LastFileSize, 77);

  EXPECT_EQ(SetFileDosDateTime(dir_ + "missing.bin", 0x3A6573C8), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  std::string path = Write("locked.bin", "l");
  THandle holder = FileHandleOpen(path, 0x20);  // others may read but not write
  ASSERT_NE(holder, kInvalidHandle);
  EXPECT_EQ(SetFileDosDateTime(path, 0x3A6573C8), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  FileHandleClose(holder);
}
