// Program entry of update.exe: starts the modules (UpdateModules.h), refuses
// a second copy, and runs the update dialog.
#include <windows.h>

#include <exception>

#include "Forms.h"
#include "ScopedWin.h"
#include "SysUtils.h"
#include "UpdateFrm_win.h"
#include "UpdateModules.h"

namespace {

// The copy update.exe runs from Download, beside downloaded files: libraries
// that the program or Windows load by bare name come from the system folder
// only. Looked up at run time, so a Windows without it still starts;
// update2.dll is loaded by its full path.
void RestrictDllSearch() {
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");  // and the current folder leaves the classic search order
}

void RunProgram() {
  formkit::Application->Initialize();
  // Marks a running copy while the dialog runs.
  formkit::TScopedHandle guard(CreateSemaphoreA(nullptr, 0, 1, "webupdatevarno.exe"));
  if (guard && GetLastError() == ERROR_ALREADY_EXISTS) {
    // The running copy's dialog comes to the front instead.
    if (HWND dialog = FindWindowA(formkit::kFormClassName, kDialogTitle)) {
      if (IsIconic(dialog)) ShowWindow(dialog, SW_RESTORE);
      SetForegroundWindow(dialog);
    }
    return;
  }
  formkit::Application->CreateForm(UpdateForm);
  formkit::Application->Run();
  // The loop can end with a deferred close still queued (or after the system
  // took the window down): the dialog goes before its modules finish.
  if (UpdateForm != nullptr) UpdateForm->Close();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  StartModules();
  try {
    RunProgram();
  } catch (...) {
    formkit::UncaughtException(std::current_exception(), FK_CODE_ADDRESS());
  }
  FinishModules();
  return 0;
}
