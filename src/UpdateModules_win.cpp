#include "UpdateModules.h"

#include "Forms.h"
#include "UpdateFrm.h"

void StartModules() {
  formkit::StartToolkit();
  StartUpdateFrm();
}

void FinishModules() {
  FinishUpdateFrm();
  formkit::FinishToolkit();
}
