// Native stand-ins for the platform defaults of the support library, so the
// Win32-free code and its tests build and run without Windows.
#include <cstdio>
#include <cstdlib>

#include "SysUtils.h"

namespace formkit {

// There is no system palette; a recognisable stand-in keeps the resolution
// path testable.
std::int32_t DefaultSysColor(int index) { return 0x00010101 * index; }

int DefaultMessageBox(void*, const char* text, const char* caption, unsigned style) {
  std::fprintf(stderr, "[box %s, style %#x] %s\n", caption != nullptr ? caption : "Error", style, text);
  return 1;  // IDOK
}

void DefaultExit(int exitCode) { std::exit(exitCode); }

std::uint32_t CodeAddress(const void* address) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
}

}  // namespace formkit
