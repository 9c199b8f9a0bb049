// The installer library: where its DLLs are searched, how it is loaded and
// called.
#pragma once

#include <windows.h>

#include <string>

#include "SysUtils.h"

// The copy update.exe runs from Download, beside downloaded files: libraries
// that the program or Windows load by bare name come from the system folder
// only. Called at start, and again when MakeUpdate returns.
void RestrictDllSearch();
// update2.dll by its full path; its own imports come from its folder first.
HMODULE LoadInstallerLibrary(const std::string& path);
// The installer finds libraries by bare name as it did when Download was the
// program's folder: the program's folder, Download, the system folders.
void InstallerDllSearch(const std::string& downloadDir);

// The installer's entry: the installation folder, the client code, the
// download address, the language code and the proxy setting.
using TMakeUpdate = void(__stdcall*)(formkit::ShortString*, formkit::ShortString*, formkit::ShortString*,
                                     formkit::ShortString*, formkit::ShortString*);
// MakeUpdate of a loaded library; nullptr when it has none.
TMakeUpdate MakeUpdateOf(HMODULE library);
