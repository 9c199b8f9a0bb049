// Picture blocks ("TBitmap", a length, then a BMP file) for the tests of the
// picture check and its fuzz target.
#pragma once

#include <cstring>
#include <vector>

#include "Graphics.h"

namespace fktest {

inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }

inline std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Examines a copy of exactly size bytes; when accepted, reads every byte GDI
// reads to draw it: the header, the three masks of BI_BITFIELDS (at offset
// 40, whatever the header's size), the colour table and the rows. Under the
// sanitizers a byte outside the block stops the program.
inline bool ExamineAndTouch(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> copy(data, data + size);
  const formkit::TBitmapLayout l = formkit::ExaminePictureBlock(copy.data(), static_cast<std::int32_t>(size));
  if (!l.Valid) return false;
  const std::uint8_t* info = copy.data() + l.InfoOffset;
  const unsigned bitCount = info[14] | (info[15] << 8);
  const std::uint32_t used = U32(info + 32);
  std::size_t colors = used > 256 ? 256 : used;
  if (colors == 0 && bitCount <= 8) colors = std::size_t{1} << bitCount;
  const std::size_t header = U32(info + 16) == 3 && U32(info) < 40 + 12 ? 40 + 12 : U32(info);
  static volatile unsigned sum = 0;
  for (std::size_t i = 0; i < header + 4 * colors; ++i) sum = sum + info[i];
  const std::size_t stride = (static_cast<std::size_t>(l.Width) * bitCount + 31) / 32 * 4;
  for (std::size_t i = 0; i < stride * l.ScanLines; ++i) sum = sum + copy[l.BitsOffset + i];
  return true;
}

// A block with the given header fields: 26 bytes of prefix and file header,
// the info header, optional masks and the colour table, then rows of pixels.
inline std::vector<std::uint8_t> Block(std::uint32_t headerSize, std::int32_t width, std::int32_t height,
                                       unsigned bitCount, std::uint32_t compression, std::size_t tableBytes,
                                       std::size_t pixelBytes) {
  std::vector<std::uint8_t> b(26 + headerSize + tableBytes + pixelBytes, 0);
  std::memcpy(&b[0], "\x07TBitmap", 8);
  Put32(b, 8, static_cast<std::uint32_t>(b.size() - 12));
  b[12] = 'B';
  b[13] = 'M';
  Put32(b, 22, static_cast<std::uint32_t>(14 + headerSize + tableBytes));
  Put32(b, 26, headerSize);
  Put32(b, 30, static_cast<std::uint32_t>(width));
  Put32(b, 34, static_cast<std::uint32_t>(height));
  b[38] = 1;
  b[40] = static_cast<std::uint8_t>(bitCount);
  Put32(b, 42, compression);
  return b;
}

}  // namespace fktest
