// What the build sets: the update server's base address and the client code
// handed to the installer. The dialog's module (UpdateFrm) starts and
// finishes with them.
#pragma once

#include <string>

#include "SysUtils.h"

// The base address of the update server; the module's one text, released
// when it finishes.
extern std::string UpdateBaseUrl;
const formkit::ShortString& ClientCode();

void StartUpdateFrm();
void FinishUpdateFrm();
