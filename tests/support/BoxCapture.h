// Records every message box instead of showing it, and answers it.
#pragma once

#include <string>
#include <vector>

#include "SysUtils.h"

namespace fktest {

struct Box {
  void* Owner;
  std::string Text;
  std::string Caption;  // "<null>" for a null caption
  unsigned Style;
};

class BoxCapture {
 public:
  BoxCapture() : previous_(formkit::SetMessageBoxFunc(&Record)) { Boxes().clear(); }
  ~BoxCapture() { formkit::SetMessageBoxFunc(previous_); }
  BoxCapture(const BoxCapture&) = delete;
  BoxCapture& operator=(const BoxCapture&) = delete;
  static std::vector<Box>& Boxes() {
    static std::vector<Box> boxes;
    return boxes;
  }

 private:
  static int Record(void* owner, const char* text, const char* caption, unsigned style) {
    Boxes().push_back({owner, text, caption != nullptr ? caption : "<null>", style});
    return 1;
  }
  formkit::MessageBoxFunc previous_;
};

}  // namespace fktest
