// libFuzzer entry: the picture-block check on arbitrary bytes. Every byte
// that drawing an accepted block would read is touched, so the sanitizers
// stop at a block that would lead GDI outside it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "PictureBlocks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<std::uint8_t> copy(data, data + size);  // exactly the input
  const formkit::TBitmapLayout layout = formkit::ExaminePictureBlock(copy.data(), static_cast<std::int32_t>(size));
  static volatile unsigned sink = 0;
  if (layout.Valid) sink = sink + fktest::TouchDrawnBytes(copy.data(), layout);
  return 0;
}
