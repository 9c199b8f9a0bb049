#include "fuzz_harness.h"

#include <vector>

#include "test_components.h"

namespace readertest {

namespace {
int SilentBox(void*, const char*, const char*, unsigned) { return 1; }
std::int32_t SilentSysColor(int index) { return index; }
}  // namespace

bool ReadUntrustedStream(const std::uint8_t* data, std::size_t size, std::string* error) {
  SetMessageBoxFunc(&SilentBox);
  SetSysColorFunc(&SilentSysColor);
  RegisterTestClasses();
  // A copy of exactly the input, so any read past its end is seen by ASan.
  std::vector<std::uint8_t> copy(data, data + size);
  bool complete = false;
  {
    TTestForm form;
    form.Create(nullptr);
    try {
      TReader reader(copy.data(), static_cast<std::int32_t>(copy.size()));
      ReadForm(form, reader);
      complete = true;
    } catch (const EClassesError& e) {
      if (error != nullptr) *error = e.Message;
    }
    if (ExceptionPending()) {
      try {
        RaisePendingException();
      } catch (...) {
      }
    }
    FreeTestComponents();
  }
  UnregisterAllComponentClasses();
  EventLog().clear();
  return complete;
}

}  // namespace readertest
