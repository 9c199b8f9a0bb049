// A stand-in installer library for tests and the demo: MakeUpdate writes its
// five arguments, the current folder and whether the updater's dialog is
// visible to a file, one "name=value" per line.
// The file is MAKEUPDATE_LOG when that is set, else makeupdate.txt in the
// current folder. InfoWritableAtLoad tells whether UPDATE.NFO could be
// written while the updater loaded this library (a signed run locks it).
// When the current folder holds plant-probe.dll, two more lines tell whether
// loading it by bare name succeeds (0 or 1): PlantLoaded while the updater
// loads this library, under the updater's own search order, and
// BareNameLoaded in MakeUpdate; and a last one, DllDirectoryAtExit, appended
// when the process ends, the DLL folder the updater left after MakeUpdate.
// Built with UPDATE2_IMPORTS_HELPER
// it imports update2_nomake.dll, to be found beside it, and writes
// ImportedHelper=42 from there.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "ScopedWin.h"

#ifdef UPDATE2_IMPORTS_HELPER
extern "C" __declspec(dllimport) int HelperValue();
#endif

namespace {

const char kProbe[] = "plant-probe.dll";
int plantLoaded = -1;  // -1: no probe
int infoWritableAtLoad = -1;
char record[MAX_PATH + 1] = "";  // the file MakeUpdate wrote

int Writable(const char* path) {
  return formkit::TScopedFile(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                          nullptr))
             ? 1
             : 0;
}

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
  GetFullPathNameA(target != nullptr && *target != '\0' ? target : "makeupdate.txt", sizeof record, record, nullptr);
  std::FILE* out = std::fopen(record, "wb");
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
  // An installer may rewrite or remove the files it was handed.
  std::fprintf(out, "InfoWritable=%d\nInfoWritableAtLoad=%d\n", Writable("UPDATE.NFO"), infoWritableAtLoad);
  if (plantLoaded != -1) {
    std::fprintf(out, "PlantLoaded=%d\n", plantLoaded);
    std::fprintf(out, "BareNameLoaded=%d\n", formkit::TScopedModule(LoadLibraryA(kProbe)) ? 1 : 0);
  }
#ifdef UPDATE2_IMPORTS_HELPER
  std::fprintf(out, "ImportedHelper=%d\n", HelperValue());
#endif
  std::fclose(out);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    infoWritableAtLoad = Writable("UPDATE.NFO");
    // Stays loaded: FreeLibrary inside DllMain is not safe.
    if (GetFileAttributesA(kProbe) != INVALID_FILE_ATTRIBUTES) plantLoaded = LoadLibraryA(kProbe) != nullptr ? 1 : 0;
  }
  if (reason == DLL_PROCESS_DETACH && plantLoaded != -1 && record[0] != '\0') {
    char folder[MAX_PATH + 1] = "", line[MAX_PATH + 32];
    GetDllDirectoryA(sizeof folder, folder);
    const int length = std::snprintf(line, sizeof line, "DllDirectoryAtExit=%s\n", folder);
    const formkit::TScopedFile out(
        CreateFileA(record, FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (out && length > 0) WriteFile(out.Get(), line, static_cast<DWORD>(length), &written, nullptr);
  }
  return TRUE;
}
