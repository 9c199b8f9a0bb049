// The toolkit is started once, in program order, for every GUI test.
#include <gtest/gtest.h>

#include "TestForms.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  fktest::StartToolkit();
  int result = RUN_ALL_TESTS();
  fktest::FinishToolkit();
  return result;
}
