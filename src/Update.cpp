// Program entry of update.exe: starts the modules in a fixed order, refuses
// a second copy, and runs the update dialog.
#include <windows.h>

#include <exception>

#include "Classes.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "UpdateFrm.h"
#include "WinInetEasy.h"

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

void StartModules() {
  formkit::StartSysUtils();
  formkit::StartStdCtrls();
  formkit::StartForms();
  formkit::StartExtCtrls();
  StartWinInetEasy();
  StartUpdateFrm();
}

void FinishModules() {
  FinishUpdateFrm();
  FinishWinInetEasy();
  formkit::FinishForms();
  formkit::UnregisterAllComponentClasses();  // what StdCtrls and ExtCtrls registered
  formkit::FinishSysUtils();
}

void RunProgram() {
  formkit::Application->Initialize();
  // Marks a running copy; the handle stays open until the process ends.
  HANDLE guard = CreateSemaphoreA(nullptr, 0, 1, "webupdatevarno.exe");
  if (guard != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) return;
  formkit::Application->CreateForm(UpdateForm);
  formkit::Application->Run();
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
