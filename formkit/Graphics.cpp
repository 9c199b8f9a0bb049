#include "Graphics.h"

#include <cstring>

namespace formkit {

namespace {

constexpr std::uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr std::uint32_t kBiRgb = 0, kBiBitfields = 3;
constexpr std::uint32_t kMaskBytes = 12;  // red, green and blue masks of BI_BITFIELDS

std::uint32_t LoadU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
std::uint16_t LoadU16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

TBitmapLayout ExaminePictureBlock(const std::uint8_t* data, std::int32_t size) {
  TBitmapLayout layout;
  if (data == nullptr || size < 14) return layout;
  static const std::uint8_t kClassName[] = {7, 'T', 'B', 'i', 't', 'm', 'a', 'p'};
  if (data[0] != kClassName[0] || std::memcmp(data, kClassName, sizeof kClassName) != 0) return layout;
  if (LoadU16(data + 12) != 0x4D42) return layout;

  // Nothing below may point outside the block: header, colour table and rows
  // are all checked against its size before GDI sees them.
  const std::uint64_t blockSize = static_cast<std::uint64_t>(size);
  const std::size_t fileStart = 12, infoStart = 26;
  if (infoStart + kInfoHeaderSize > blockSize) return layout;
  const std::uint8_t* info = data + infoStart;
  const std::uint32_t headerSize = LoadU32(info);
  const std::int32_t width = static_cast<std::int32_t>(LoadU32(info + 4));
  const std::int32_t height = static_cast<std::int32_t>(LoadU32(info + 8));
  const std::uint16_t planes = LoadU16(info + 12);
  const std::uint16_t bitCount = LoadU16(info + 14);
  const std::uint32_t compression = LoadU32(info + 16);
  const std::uint32_t colorsUsed = LoadU32(info + 32);
  if (headerSize < kInfoHeaderSize || infoStart + static_cast<std::uint64_t>(headerSize) > blockSize) return layout;
  if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN) return layout;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return layout;
  // Compressed rows have no fixed size that could be checked.
  std::uint64_t infoBytes = headerSize, tableBytes = 0;
  if (compression == kBiRgb && bitCount <= 8) {
    std::uint64_t entries = colorsUsed != 0 ? colorsUsed : (1u << bitCount);
    if (entries > 256) entries = 256;
    tableBytes = entries * 4;
  } else if (compression == kBiRgb || (compression == kBiBitfields && (bitCount == 16 || bitCount == 32))) {
    if (colorsUsed > 256) return layout;  // an optional table; keep it bounded
    tableBytes = static_cast<std::uint64_t>(colorsUsed) * 4;
  } else {
    return layout;
  }
  if (compression == kBiBitfields) {
    // GDI reads the three masks at offset 40: after a plain header, inside a
    // larger one. A header that ends among them leaves no room for them.
    if (headerSize == kInfoHeaderSize) {
      infoBytes += kMaskBytes;
    } else if (headerSize < kInfoHeaderSize + kMaskBytes) {
      return layout;
    }
  }
  if (infoStart + infoBytes + tableBytes > blockSize) return layout;

  const std::uint64_t scanLines = height < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(height))
                                             : static_cast<std::uint64_t>(height);
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
  const std::uint64_t bitsStart = fileStart + static_cast<std::uint64_t>(LoadU32(data + 22));
  if (bitsStart > blockSize || stride * scanLines > blockSize - bitsStart) return layout;

  layout.Valid = true;
  layout.Width = width;
  layout.Height = height;
  layout.ScanLines = static_cast<std::uint32_t>(scanLines);
  layout.InfoOffset = infoStart;
  layout.BitsOffset = static_cast<std::size_t>(bitsStart);
  return layout;
}

}  // namespace formkit
