// Win32 part of the support library: the platform defaults and the file and
// folder helpers.
#include <shlobj.h>

#include <cstring>

#include "ScopedWin.h"
#include "SysUtils.h"

namespace formkit {

std::int32_t DefaultSysColor(int index) { return static_cast<std::int32_t>(GetSysColor(index)); }

int DefaultMessageBox(void* owner, const char* text, const char* caption, unsigned style) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

void DefaultExit(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }

std::uint32_t CodeAddress(const void* address) {
  // The region of a module's code was allocated at the module's base.
  MEMORY_BASIC_INFORMATION region = {};
  std::uintptr_t base = 0;
  if (VirtualQuery(address, &region, sizeof region) == sizeof region && region.Type == MEM_IMAGE)
    base = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

// ---------------------------------------------------------------- files and folders

THandle FileHandleCreate(const std::string& path) {
  return THandle(
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

THandle FileHandleOpen(const std::string& path, int mode) {
  static const DWORD kAccess[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static const DWORD kShare[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
  unsigned access = static_cast<unsigned>(mode) & 0x3;
  unsigned share = (static_cast<unsigned>(mode) >> 4) & 0xF;
  // Values outside the tables are refused rather than read past them.
  if (access > 2 || share > 4) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return THandle();
  }
  return THandle(CreateFileA(path.c_str(), kAccess[access], kShare[share], nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

void FileHandleClose(THandle& handle) { handle.Reset(); }

std::int32_t FileHandleSeek(HANDLE handle, std::int32_t offset, int origin) {
  LARGE_INTEGER distance, moved = {};
  distance.QuadPart = offset;
  if (!SetFilePointerEx(handle, distance, &moved, static_cast<DWORD>(origin))) return -1;
  return static_cast<std::int32_t>(moved.QuadPart);
}

std::int32_t FileHandleRead(HANDLE handle, void* buffer, std::int32_t count) {
  DWORD done = 0;
  if (!ReadFile(handle, buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
  return static_cast<std::int32_t>(done);
}

std::int32_t FileHandleWrite(HANDLE handle, const void* buffer, std::int32_t count) {
  DWORD done = 0;
  if (!WriteFile(handle, buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
  return static_cast<std::int32_t>(done);
}

bool PathExists(const std::string& pathOrPattern) {
  WIN32_FIND_DATAA data;
  return TScopedFind(FindFirstFileA(pathOrPattern.c_str(), &data)).Valid();
}

bool FolderExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string FullPathOf(const std::string& path) {
  char buffer[MAX_PATH];
  char* filePart = nullptr;
  DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, buffer, &filePart);
  // A path that does not fit reports the size it would need: treat it as none.
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buffer, n);
}

bool LocalDosDateTime(const FILETIME& utc, DosDateTime& value) {
  FILETIME local;
  SYSTEMTIME fields;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields) || fields.wYear < 1980 ||
      fields.wYear > 2107 || !FileTimeToDosDateTime(&local, &date, &time))
    return false;
  value = static_cast<DosDateTime>((static_cast<std::uint32_t>(date) << 16) | time);
  return true;
}

TFileStamp FileStamp(const std::string& path) {
  TFileStamp stamp;
  WIN32_FIND_DATAA data;
  if (!TScopedFind(FindFirstFileA(path.c_str(), &data))) return stamp;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return stamp;
  stamp.Size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  if (!LocalDosDateTime(data.ftLastWriteTime, stamp.Date)) stamp.Date = -1;
  return stamp;
}

DosDateTime FileDosDateTime(const std::string& path) { return FileStamp(path).Date; }

std::string ProgramPath() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, length < MAX_PATH ? length : MAX_PATH);
}

DWORD SetFileDosDateTime(const std::string& path, DosDateTime value) {
  const THandle file = FileHandleOpen(path, 1);
  if (!file) return GetLastError();
  const std::uint32_t packed = static_cast<std::uint32_t>(value);
  FILETIME local, utc;
  DWORD error = 0;
  if (value != 0 &&
      (!DosDateTimeToFileTime(static_cast<WORD>(packed >> 16), static_cast<WORD>(packed & 0xFFFF), &local) ||
       !LocalFileTimeToFileTime(&local, &utc) || !SetFileTime(file.Get(), nullptr, nullptr, &utc))) {
    error = GetLastError();
  }
  return error;
}

bool SelectDirectory(HWND owner, const std::string& title, std::string& path) {
  bool chosen = false;
  {
    const TComInit com;  // the shell's browser needs COM on this thread
    BROWSEINFOA info;
    std::memset(&info, 0, sizeof info);
    info.hwndOwner = owner;
    info.lpszTitle = title.c_str();
    const TScopedCoTaskMem list(SHBrowseForFolderA(&info));
    chosen = list.Valid();
    if (chosen) {
      char buffer[MAX_PATH + 1] = {};
      // A virtual folder has no file-system path: it gives an empty text.
      if (!SHGetPathFromIDListA(static_cast<LPCITEMIDLIST>(list.Get()), buffer)) buffer[0] = '\0';
      path = buffer;
    }
  }
  // The browser's message loop may have run a handler that failed.
  RaisePendingException();
  return chosen;
}

std::string ReadIniValue(const std::string& iniPath, const std::string& section, const std::string& key,
                         const std::string& fallback) {
  char buffer[2048] = {};
  DWORD count = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer, sizeof buffer,
                                         iniPath.c_str());
  if (count > sizeof buffer - 1) count = sizeof buffer - 1;
  return std::string(buffer, count);
}

}  // namespace formkit
