#include "UpdateLog_win.h"

#include <windows.h>

#include "DynCalls_win.h"
#include "SysUtils.h"
#include "UpdateConfig.h"
#include "UpdateKey.h"

namespace {

TLogTime UtcNow() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

// An old log larger than this is not read; it is started anew.
constexpr DWORD kOldLogReadMax = 4 * kLogMaxBytes;

std::string ReadOld(HANDLE file) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > kOldLogReadMax) return std::string();
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD count = 0;
  if (!ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &count, nullptr)) return std::string();
  text.resize(count);
  return text;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD count = 0;
  return bytes.empty() ||
         (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) && count == bytes.size());
}

}  // namespace

void TSupportLog::Write(const std::string& text) {
  const std::string line = LogLine(UtcNow(), text);
  if (!file_) {
    if (held_.size() < kLogRunRoom) held_ += line;
    return;
  }
  Append(line);
}

void TSupportLog::Append(const std::string& line) {
  if (full_) return;
  if (size_ + line.size() > kLogMaxBytes) {
    full_ = true;  // the rest of this run is not logged
    return;
  }
  if (WriteAll(file_.Get(), line)) size_ += line.size();
}

bool TSupportLog::Open(const std::string& path) {
  if (file_) return true;
  // Readers (support, an editor) may look at the log while a run writes it.
  formkit::TScopedFile file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const std::string old = ReadOld(file.Get());
  const std::string kept = KeptRuns(old, kLogRunRoom, kLogMaxBytes);
  LARGE_INTEGER end = {};
  if (kept.size() != old.size() || old.empty()) {
    // Rewritten from its start: the oldest runs go.
    if (SetFilePointerEx(file.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) == FALSE || !SetEndOfFile(file.Get()) ||
        !WriteAll(file.Get(), kept))
      return false;
    size_ = kept.size();
  } else {
    if (SetFilePointerEx(file.Get(), LARGE_INTEGER{}, &end, FILE_END) == FALSE) return false;
    size_ = static_cast<std::size_t>(end.QuadPart);
  }
  file_ = std::move(file);
  path_ = path;
  // Within the room KeptRuns left: the held lines always fit.
  Append(held_);
  held_.clear();
  return true;
}

std::string ProgramLogText() {
#if defined(_M_X64) || defined(__x86_64__)
  const char* processor = "x86_64";
#else
  const char* processor = "i686";
#endif
  return std::string("update.exe ") + UPDATE_VERSION_TEXT + " (" + processor + ", " +
         (kUpdatePublicKeySize != 0 ? "signed sets" : "unsigned sets") + ")";
}

std::string WindowsLogText() {
  // GetVersionEx answers what the manifest declares; the kernel tells the truth.
  std::string text = "Windows";
  RTL_OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (auto get = formkit::dyn::RtlGetVersion(); get != nullptr && get(&version) == 0)
    text += " " + formkit::DecimalText(version.dwMajorVersion) + "." + formkit::DecimalText(version.dwMinorVersion) +
            "." + formkit::DecimalText(version.dwBuildNumber);
  if (auto wine = formkit::dyn::wine_get_version()) text += std::string(" (Wine ") + wine() + ")";
  return text;
}
