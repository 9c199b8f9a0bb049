#include "Forms.h"

#include <windows.h>

namespace formkit {

TApplication* Application = nullptr;

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      Terminated = true;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    RaisePendingException();
  }
}

void StartForms() { Application = new TApplication(); }

void FinishForms() {
  delete Application;
  Application = nullptr;
}

}  // namespace formkit
