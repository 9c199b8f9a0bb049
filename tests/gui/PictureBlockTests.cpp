// The picture-block check, run natively under the sanitizers as well: GDI
// must never be handed a header, colour table or row outside the block.
#include <gtest/gtest.h>

#include <memory>

#include "Graphics.h"
#include "PictureBlocks.h"

using formkit::ExaminePictureBlock;
using formkit::TBitmapLayout;
using fktest::MakeBlock;

namespace {

std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Reads every byte that drawing a block of this layout reads; beyond the
// exact-size copy the sanitizer stops the test.
unsigned TouchDrawnBytes(const std::uint8_t* data, const TBitmapLayout& l) {
  const std::uint8_t* info = data + l.InfoOffset;
  const std::uint32_t headerSize = U32(info);
  const unsigned bitCount = info[14] | (info[15] << 8);
  const std::uint32_t compression = U32(info + 16), used = U32(info + 32);
  std::size_t table = 0;
  if (bitCount <= 8) table = 4 * (used != 0 && used < (1u << bitCount) ? used : (1u << bitCount));
  else if (compression == 3 && headerSize == 40) table = 12;
  else table = 4 * used;
  unsigned sum = 0;
  for (std::size_t i = 0; i < headerSize + table; ++i) sum += info[i];
  const std::size_t stride = (static_cast<std::size_t>(l.Width) * bitCount + 31) / 32 * 4;
  for (std::size_t i = 0; i < stride * l.ScanLines; ++i) sum += data[l.BitsOffset + i];
  return sum;
}

TBitmapLayout ExamineCopy(const std::vector<std::uint8_t>& block, std::size_t length, unsigned* sum = nullptr) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length == 0 ? 1 : length]);
  std::memcpy(copy.get(), block.data(), length);
  TBitmapLayout l = ExaminePictureBlock(copy.get(), static_cast<std::int32_t>(length));
  if (l.Valid && sum != nullptr) *sum = TouchDrawnBytes(copy.get(), l);
  return l;
}

}  // namespace

TEST(PictureBlock, LayoutOfAGoodBlock) {
  auto b = MakeBlock();
  TBitmapLayout l = ExaminePictureBlock(b.data(), static_cast<std::int32_t>(b.size()));
  ASSERT_TRUE(l.Valid);
  EXPECT_EQ(l.Width, 4);
  EXPECT_EQ(l.Height, 3);
  EXPECT_EQ(l.ScanLines, 3u);
  EXPECT_EQ(l.InfoOffset, 26u);
  EXPECT_EQ(l.BitsOffset, fktest::kBlockBitsOffset);
  auto t = MakeBlock(-3);
  l = ExaminePictureBlock(t.data(), static_cast<std::int32_t>(t.size()));
  ASSERT_TRUE(l.Valid);
  EXPECT_EQ(l.Height, -3);
  EXPECT_EQ(l.ScanLines, 3u);
}

TEST(PictureBlock, EveryShortenedBlockIsRefused) {
  auto b = MakeBlock();
  for (std::size_t n = 0; n < b.size(); ++n) EXPECT_FALSE(ExamineCopy(b, n).Valid) << n;
  EXPECT_TRUE(ExamineCopy(b, b.size()).Valid);
}

TEST(PictureBlock, DamagedHeadersNeverLeadOutsideTheBlock) {
  const auto good = MakeBlock();
  const std::uint8_t values[] = {0x00, 0x01, 0x03, 0x10, 0x7F, 0x80, 0xFE, 0xFF};
  int accepted = 0;
  for (std::size_t at = 8; at < 26 + 40 + 8; ++at) {
    for (std::uint8_t v : values) {
      auto b = good;
      b[at] = v;
      unsigned sum = 0;
      if (ExamineCopy(b, b.size(), &sum).Valid) ++accepted;
    }
  }
  EXPECT_GT(accepted, 0);  // harmless changes (lengths, resolution) still draw
}
