// Win32 part of the support library: file and folder helpers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ScopedWin.h"

namespace formkit {

// Packed DOS date (high word) and time (low word), local time; -1: no date.
using DosDateTime = std::int32_t;

// An open file, closed when its owner goes; empty (INVALID_HANDLE_VALUE)
// when the open failed.
using THandle = TScopedFile;

THandle FileHandleCreate(const std::string& path);
THandle FileHandleOpen(const std::string& path, int mode);
// Closes the file before its owner goes.
void FileHandleClose(THandle& handle);
std::int32_t FileHandleSeek(HANDLE handle, std::int32_t offset, int origin);
std::int32_t FileHandleRead(HANDLE handle, void* buffer, std::int32_t count);
std::int32_t FileHandleWrite(HANDLE handle, const void* buffer, std::int32_t count);
bool PathExists(const std::string& pathOrPattern);
bool FolderExists(const std::string& path);
std::string FullPathOf(const std::string& path);
// A UTC file time as a local DosDateTime; false outside the DOS range (1980 to 2107).
bool LocalDosDateTime(const FILETIME& utc, DosDateTime& value);
// A file's date and size; date -1 and size -1 for nothing or a folder.
struct TFileStamp {
  DosDateTime Date = -1;
  std::int64_t Size = -1;
};
TFileStamp FileStamp(const std::string& path);
// FileStamp's date only.
DosDateTime FileDosDateTime(const std::string& path);
DWORD SetFileDosDateTime(const std::string& path, DosDateTime value);
// The running program's file. Read once, by whoever owns the path afterwards.
std::string ProgramPath();
bool SelectDirectory(HWND owner, const std::string& title, std::string& path);
// A value of an INI file, at most 2047 characters; fallback when it is missing.
std::string ReadIniValue(const std::string& iniPath, const std::string& section, const std::string& key,
                         const std::string& fallback);

}  // namespace formkit
