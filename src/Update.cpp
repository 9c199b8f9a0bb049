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
#include "UpdateKey.h"
#include "WinInetEasy.h"

namespace {

void StartModules() {
  formkit::StartSysUtils();
  formkit::StartStdCtrls();
  formkit::StartForms();
  formkit::StartExtCtrls();
  StartWinInetEasy();
  StartUpdateFrm();
  UpdatePublicKey.assign(reinterpret_cast<const char*>(kUpdatePublicKeyBytes), kUpdatePublicKeySize);
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
  StartModules();
  try {
    RunProgram();
  } catch (...) {
    formkit::UncaughtException(std::current_exception(), FK_CODE_ADDRESS());
  }
  FinishModules();
  return 0;
}
