#include "UpdateModules.h"

#include "Forms.h"
#include "BuildSettings.h"

void StartModules() {
  formkit::StartToolkit();
  StartUpdateFrm();
}

void FinishModules() {
  FinishUpdateFrm();
  formkit::FinishToolkit();
}
