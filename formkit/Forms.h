// Toolkit module Forms: forms, the application object and the message loop.
#pragma once

#include "Classes.h"

namespace formkit {

class TApplication : public TObject {
 public:
  // Dispatches every waiting message and returns when the queue is empty;
  // a quit message sets Terminated and is not dispatched.
  void ProcessMessages();

  bool Terminated = false;
};

// The single application object, alive between StartForms and FinishForms.
extern TApplication* Application;

void StartForms();
void FinishForms();

}  // namespace formkit
