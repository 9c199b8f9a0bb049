#include "UpdateModules.h"

#include "Forms.h"
#include "UpdateFrm.h"
#include "WinInetEasy.h"

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
