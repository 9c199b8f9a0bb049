// Test helper: records every message box instead of showing it.
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
  explicit BoxCapture(int answer = 1) {
    Boxes().clear();
    Answer() = answer;
    previous_ = formkit::SetMessageBoxFunc(&Record);
  }
  ~BoxCapture() { formkit::SetMessageBoxFunc(previous_); }
  BoxCapture(const BoxCapture&) = delete;
  BoxCapture& operator=(const BoxCapture&) = delete;

  const std::vector<Box>& boxes() const { return Boxes(); }
  void clear() { Boxes().clear(); }

 private:
  static std::vector<Box>& Boxes() {
    static std::vector<Box> boxes;
    return boxes;
  }
  static int& Answer() {
    static int answer = 1;
    return answer;
  }
  static int Record(void* owner, const char* text, const char* caption, unsigned style) {
    Boxes().push_back({owner, text, caption != nullptr ? caption : "<null>", style});
    return Answer();
  }
  formkit::MessageBoxFunc previous_;
};

}  // namespace fktest
