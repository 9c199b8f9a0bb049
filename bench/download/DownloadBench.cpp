// Times one DownloadFile call: DownloadBench URL FOLDER
// The proxy setting "127.0.0.1:PORT" comes from FK_SERVER_PORT, as in the tests.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Forms.h"
#include "SysUtils.h"
#include "WinInetEasy.h"

namespace {
int PrintBox(void*, const char* text, const char*, unsigned) {
  std::fprintf(stderr, "box: %s\n", text ? text : "");
  return IDOK;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: DownloadBench URL FOLDER\n");
    return 2;
  }
  formkit::StartSysUtils();
  formkit::SetMessageBoxFunc(PrintBox);
  formkit::StartForms();
  StartWinInetEasy();
  const char* port = std::getenv("FK_SERVER_PORT");
  if (port) ProxySetting = std::string("127.0.0.1:") + port;

  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  std::int32_t size = 0;
  std::string name = DownloadFile(argv[1], argv[2], size);
  QueryPerformanceCounter(&t1);
  double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
  int rc = name.empty() ? 1 : 0;
  if (rc) std::fprintf(stderr, "failed: %s\n", LastDownloadError.c_str());
  // bytes and seconds, for the bench script
  std::printf("%ld %.6f\n", static_cast<long>(size), seconds);

  FinishWinInetEasy();
  formkit::FinishForms();
  formkit::FinishSysUtils();
  return rc;
}
