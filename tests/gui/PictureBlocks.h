// Picture blocks for the tests: "TBitmap", a length, then an 8-bit 4x3 BMP
// with 256 palette entries; stored row i holds palette index i + 1
// (1 red, 2 green, 3 blue).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "Graphics.h"

namespace fktest {

inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }
inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }

constexpr std::size_t kBlockBitsOffset = 12 + 14 + 40 + 256 * 4;

inline std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Reads every byte that GDI reads to draw a block of this layout: the header,
// the three masks of BI_BITFIELDS (at offset 40, whatever the header's size),
// the colour table and the rows. Under the sanitizers a byte outside the
// block stops the program.
inline unsigned TouchDrawnBytes(const std::uint8_t* data, const formkit::TBitmapLayout& l) {
  const std::uint8_t* info = data + l.InfoOffset;
  const std::uint32_t headerSize = U32(info);
  const unsigned bitCount = info[14] | (info[15] << 8);
  const std::uint32_t compression = U32(info + 16), used = U32(info + 32);
  std::size_t colors = used > 256 ? 256 : used;
  if (colors == 0 && bitCount <= 8) colors = std::size_t{1} << bitCount;
  const std::size_t header = compression == 3 && headerSize < 40 + 12 ? 40 + 12 : headerSize;
  unsigned sum = 0;
  for (std::size_t i = 0; i < header + 4 * colors; ++i) sum += info[i];
  const std::size_t stride = (static_cast<std::size_t>(l.Width) * bitCount + 31) / 32 * 4;
  for (std::size_t i = 0; i < stride * l.ScanLines; ++i) sum += data[l.BitsOffset + i];
  return sum;
}

inline std::vector<std::uint8_t> MakeBlock(std::int32_t height = 3) {
  const int w = 4, rows = 3, stride = 4, table = 256 * 4;
  const std::size_t bmpSize = 14 + 40 + table + stride * rows;
  std::vector<std::uint8_t> b(12 + bmpSize, 0);
  std::memcpy(&b[0], "\x07TBitmap", 8);
  Put32(b, 8, static_cast<std::uint32_t>(bmpSize));
  b[12] = 'B';
  b[13] = 'M';
  Put32(b, 14, static_cast<std::uint32_t>(bmpSize));
  Put32(b, 22, 14 + 40 + table);
  Put32(b, 26, 40);
  Put32(b, 30, w);
  Put32(b, 34, static_cast<std::uint32_t>(height));
  Put16(b, 38, 1);
  Put16(b, 40, 8);
  const std::size_t pal = 26 + 40;
  const std::uint8_t bgr[4][3] = {{0, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
  for (int i = 1; i <= 3; ++i) std::memcpy(&b[pal + i * 4], bgr[i], 3);
  for (int r = 0; r < rows; ++r) std::memset(&b[kBlockBitsOffset + r * stride], r + 1, w);
  return b;
}

}  // namespace fktest
