// One timed download for bench/download/run:
//   DownloadBench URL FOLDER          through the download client
//   DownloadBench --bare URL FOLDER   through a bare WinInet loop: the same
//                                     session and request flags, 1 MiB reads,
//                                     no message processing, the file flushed
//                                     as the client does (the ceiling)
// The proxy setting "127.0.0.1:PORT" comes from FK_SERVER_PORT, as in the tests.
// Prints: bytes, seconds, the working set before the download and the peak
// working set of the process after it (bytes).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "SysUtils.h"
#include "UpdateModules.h"
#include "WinInetEasy_win.h"

namespace {

int PrintBox(void*, const char* text, const char*, unsigned) {
  std::fprintf(stderr, "box: %s\n", text ? text : "");
  return IDOK;
}

// What the download client asks of WinInet (kRequestFlags in WinInetNet_win.cpp).
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr DWORD kBareReadSize = 1 << 20;

struct TInternetCloser {
  void operator()(void* h) const { InternetCloseHandle(static_cast<HINTERNET>(h)); }
};
using TInternet = std::unique_ptr<void, TInternetCloser>;
struct TFileCloser {
  void operator()(void* h) const { CloseHandle(h); }
};
using TFile = std::unique_ptr<void, TFileCloser>;

// The loop a caller would write with no toolkit: bytes received, -1 on failure.
long long BareDownload(std::string proxySetting, const std::string& url, const std::string& folder) {
  std::string proxyName;
  std::int32_t httpPort = 80;
  bool withProxy = ApplyProxyPortRule(proxySetting, httpPort, proxyName);
  TInternet session(InternetOpenA("DownloadBench", INTERNET_OPEN_TYPE_PRECONFIG,
                                  withProxy ? proxyName.c_str() : nullptr, nullptr, 0));
  if (!session) return -1;
  TUrlParts parts = SplitUrl(url);
  TInternet connection(InternetConnectA(session.get(), parts.Host.c_str(), static_cast<INTERNET_PORT>(httpPort),
                                        nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return -1;
  TInternet request(HttpOpenRequestA(connection.get(), "GET", parts.ObjectPath.c_str(), "HTTP/1.0", nullptr,
                                     nullptr, kRequestFlags, 0));
  if (!request || !HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return -1;
  std::string target = FolderWithBackslash(folder) + parts.RemoteName;
  TFile file(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return -1;
  }
  std::unique_ptr<char[]> buffer(new char[kBareReadSize]);
  long long total = 0;
  DWORD count = 0;
  while (InternetReadFile(request.get(), buffer.get(), kBareReadSize, &count) && count > 0) {
    DWORD written = 0;
    if (!WriteFile(file.get(), buffer.get(), count, &written, nullptr) || written != count) return -1;
    total += count;
  }
  // As the client does before its copy replaces the target.
  return FlushFileBuffers(file.get()) ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
  bool bare = argc == 4 && std::strcmp(argv[1], "--bare") == 0;
  if (argc != 3 && !bare) {
    std::fprintf(stderr, "usage: DownloadBench [--bare] URL FOLDER\n");
    return 2;
  }
  const char* url = argv[bare ? 2 : 1];
  const char* folder = argv[bare ? 3 : 2];
  StartModules();
  formkit::SetMessageBoxFunc(PrintBox);
  const char* port = std::getenv("FK_SERVER_PORT");
  TDownloadClient client;
  client.Agent = AgentNameOf(formkit::ProgramPath());
  if (port) client.ProxySetting = std::string("127.0.0.1:") + port;

  PROCESS_MEMORY_COUNTERS idle{};
  GetProcessMemoryInfo(GetCurrentProcess(), &idle, sizeof idle);
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  long long size = -1;
  TDownload got;
  if (bare) {
    size = BareDownload(client.ProxySetting, url, folder);
  } else {
    got = client.Fetch(url, folder, UINT64_MAX);
    if (got.Ok()) size = got.Size;
  }
  QueryPerformanceCounter(&t1);
  PROCESS_MEMORY_COUNTERS after{};
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
  int rc = size < 0 ? 1 : 0;
  if (rc) std::fprintf(stderr, "failed: %s\n", bare ? "bare loop" : got.ErrorText.c_str());
  std::printf("%lld %.6f %lu %lu\n", size, seconds, static_cast<unsigned long>(idle.WorkingSetSize),
              static_cast<unsigned long>(after.PeakWorkingSetSize));

  FinishModules();
  return rc;
}
