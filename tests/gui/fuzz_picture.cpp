// libFuzzer entry: the picture-block check on arbitrary bytes; the sanitizers
// stop at an accepted block that would lead GDI outside it.
#include "PictureBlocks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size <= (1u << 20)) fktest::ExamineAndTouch(data, size);
  return 0;
}
