// A stand-in installer library for tests and the demo: MakeUpdate writes its
// five arguments, the current folder and whether the updater's dialog is
// visible to a file, one "name=value" per line.
// The file is MAKEUPDATE_LOG when that is set, else makeupdate.txt in the
// current folder. When the current folder holds plant-probe.dll, one more
// line tells whether loading it by bare name succeeds (PlantLoaded=0 or 1).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct ShortString {
  unsigned char Length;
  char Chars[255];
};

void WriteLine(std::FILE* out, const char* name, const ShortString* text) {
  std::fprintf(out, "%s=", name);
  if (text != nullptr) std::fwrite(text->Chars, 1, text->Length, out);
  std::fputc('\n', out);
}

}  // namespace

extern "C" __declspec(dllexport) void __stdcall MakeUpdate(ShortString* installDir, ShortString* clientCode,
                                                           ShortString* downloadAddress, ShortString* languageCode,
                                                           ShortString* proxy) {
  char folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(MAX_PATH, folder);
  const char* target = std::getenv("MAKEUPDATE_LOG");
  std::FILE* out = std::fopen(target != nullptr && *target != '\0' ? target : "makeupdate.txt", "wb");
  if (out == nullptr) return;
  WriteLine(out, "InstallDir", installDir);
  WriteLine(out, "ClientCode", clientCode);
  WriteLine(out, "DownloadAddress", downloadAddress);
  WriteLine(out, "LanguageCode", languageCode);
  WriteLine(out, "ProxySetting", proxy);
  std::fprintf(out, "CurrentFolder=%s\n", folder);
  // The updater's dialog must be hidden while the installer works.
  HWND dialog = FindWindowA(nullptr, " QUILLON - Internet");
  std::fprintf(out, "DialogVisible=%s\n", dialog == nullptr ? "none" : IsWindowVisible(dialog) ? "1" : "0");
  if (GetFileAttributesA("plant-probe.dll") != INVALID_FILE_ATTRIBUTES)
    std::fprintf(out, "PlantLoaded=%d\n", LoadLibraryA("plant-probe.dll") != nullptr ? 1 : 0);
  std::fclose(out);
}
