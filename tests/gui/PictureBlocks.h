// Picture blocks for the tests: "TBitmap", a length, then an 8-bit 4x3 BMP
// with 256 palette entries; stored row i holds palette index i + 1
// (1 red, 2 green, 3 blue).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace fktest {

inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }
inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }

constexpr std::size_t kBlockBitsOffset = 12 + 14 + 40 + 256 * 4;

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
