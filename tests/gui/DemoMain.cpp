// Shows the test form for the given number of seconds (default 10), then ends.
#include <windows.h>

#include <cstdlib>

#include "TestForms.h"

int main(int argc, char** argv) {
  const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 10;
  formkit::StartToolkit();
  formkit::Application->Initialize();
  fktest::TTestForm* form = nullptr;
  formkit::Application->CreateForm(form);
  formkit::Application->MainForm->Show();
  const DWORD start = GetTickCount();
  while (!formkit::Application->Terminated && GetTickCount() - start < seconds * 1000) {
    formkit::Application->ProcessMessages();
    Sleep(20);
  }
  formkit::FinishToolkit();
  return 0;
}
