// Start-up time of windowed programs: StartupProbe PROGRAM...
// Starts each program in turn and measures the time from CreateProcess until
// one of its top-level windows is visible and the program waits for input;
// then closes it (WM_CLOSE, killed after 10 s) before the next one starts.
// Prints one line per program: milliseconds until visible and idle, until
// visible, then the program. Exit code 1
// when a program shows no window within 30 s.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct TSearch {
  DWORD ProcessId;
  HWND Found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->ProcessId || !IsWindowVisible(window)) return TRUE;
  search->Found = window;
  return FALSE;
}

HWND VisibleWindowOf(DWORD processId) {
  TSearch search{processId, nullptr};
  EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

class THandle {
 public:
  explicit THandle(HANDLE h) : h_(h) {}
  ~THandle() {
    if (h_) CloseHandle(h_);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

constexpr DWORD kShowTimeoutMs = 30000;
constexpr DWORD kCloseTimeoutMs = 10000;

// Milliseconds until the program's window is visible and idle (until visible
// in visibleMs); negative on failure.
double TimeStartup(const std::string& program, double& visibleMs) {
  std::string commandLine = "\"" + program + "\"";
  std::string folder = program.substr(0, program.find_last_of("\\/") + 1);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  LARGE_INTEGER freq, t0, visible, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", program.c_str(), GetLastError());
    return -1;
  }
  THandle process(info.hProcess), thread(info.hThread);
  HWND window = nullptr;
  DWORD waited = 0;
  // Visible first: a program may wait for input before it shows anything.
  while (!(window = VisibleWindowOf(info.dwProcessId)) && waited < kShowTimeoutMs) {
    if (WaitForSingleObject(process.Get(), 1) == WAIT_OBJECT_0) break;
    ++waited;
  }
  QueryPerformanceCounter(&visible);
  if (window) WaitForInputIdle(process.Get(), kShowTimeoutMs);
  QueryPerformanceCounter(&t1);
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.Get(), kCloseTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), kCloseTimeoutMs);
  }
  if (!window) {
    std::fprintf(stderr, "%s showed no window\n", program.c_str());
    return -1;
  }
  visibleMs = 1000.0 * double(visible.QuadPart - t0.QuadPart) / double(freq.QuadPart);
  return 1000.0 * double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: StartupProbe PROGRAM...\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    double visibleMs = 0;
    double ms = TimeStartup(argv[i], visibleMs);
    if (ms < 0) return 1;
    std::printf("%.2f %.2f %s\n", ms, visibleMs, argv[i]);
    std::fflush(stdout);
  }
  return 0;
}
