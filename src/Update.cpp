// Program entry of update.exe: starts the modules (UpdateModules.h), refuses
// a second copy, and runs the update dialog.
#include <windows.h>

#include <exception>

#include "Forms.h"
#include "ScopedWin.h"
#include "SysUtils.h"
#include "InstallerLibrary_win.h"
#include "UpdateFrm_win.h"
#include "UpdateModules.h"

namespace {

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
