// The order in which update.exe's modules start and finish: the toolkit,
// then the dialog; finishing goes backwards. The download client keeps no
// module state: its object belongs to the update run. The
// program and the tests that run its parts start them here.
#pragma once

void StartModules();
void FinishModules();
