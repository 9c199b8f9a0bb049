// The order in which update.exe's modules start and finish: the toolkit,
// then the download client, then the dialog; finishing goes backwards. The
// program and the tests that run its parts start them here.
#pragma once

void StartModules();
void FinishModules();
