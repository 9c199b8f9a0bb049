// libFuzzer entry: the form-stream decoder on arbitrary bytes.
#include "test_components.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size <= (1u << 20)) readertest::ReadUntrustedStream(data, size);
  return 0;
}
