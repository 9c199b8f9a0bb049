#include "InstallerLibrary_win.h"

#include "DynCalls_win.h"

using formkit::dyn::SetDefaultDllDirectories;

HMODULE LoadInstallerLibrary(const std::string& path) {
  const DWORD flags = SetDefaultDllDirectories() != nullptr
                          ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                          : LOAD_WITH_ALTERED_SEARCH_PATH;
  return LoadLibraryExA(path.c_str(), nullptr, flags);
}

void InstallerDllSearch(const std::string& downloadDir) {
  if (auto setDefault = SetDefaultDllDirectories()) setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  SetDllDirectoryA(downloadDir.c_str());
}

void RestrictDllSearch() {
  if (auto setDefault = SetDefaultDllDirectories()) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");  // and the current folder leaves the classic search order
}

TMakeUpdate MakeUpdateOf(HMODULE library) {
  return library != nullptr
             ? reinterpret_cast<TMakeUpdate>(reinterpret_cast<void*>(GetProcAddress(library, "MakeUpdate")))
             : nullptr;
}
