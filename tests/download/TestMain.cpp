// Test entry: the modules start in the program's order, and message boxes are
// captured so that nothing waits for a click.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SysUtils.h"
#include "TestBoxes.h"
#include "WinInetEasy.h"
#if defined(_WIN32)
#include "Forms.h"
#endif

std::vector<std::string> CapturedBoxes;

namespace {
int CaptureBox(void*, const char* text, const char*, unsigned) {
  CapturedBoxes.emplace_back(text ? text : "");
  return 1;  // IDOK
}
}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  formkit::StartSysUtils();
  formkit::SetMessageBoxFunc(CaptureBox);
#if defined(_WIN32)
  formkit::StartForms();
#endif
  StartWinInetEasy();
  int rc = RUN_ALL_TESTS();
  FinishWinInetEasy();
#if defined(_WIN32)
  formkit::FinishForms();
#endif
  formkit::FinishSysUtils();
  return rc;
}
