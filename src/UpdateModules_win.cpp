#include "UpdateModules.h"

#include "Forms.h"
#include "UpdateFrm.h"
#include "WinInetEasy_win.h"

void StartModules() {
  formkit::StartToolkit();
  StartWinInetEasy();
  StartUpdateFrm();
}

void FinishModules() {
  FinishUpdateFrm();
  FinishWinInetEasy();
  formkit::FinishToolkit();
}
