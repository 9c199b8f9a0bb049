// The picture-block check, run natively under the sanitizers as well: GDI
// must never be handed a header, colour table or row outside the block.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#if !defined(_WIN32)
#include <filesystem>
#endif

#include "Graphics.h"
#include "PictureBlocks.h"

using formkit::ExaminePictureBlock;
using formkit::TBitmapLayout;
using fktest::MakeBlock;

namespace {

TBitmapLayout ExamineCopy(const std::vector<std::uint8_t>& block, std::size_t length, unsigned* sum = nullptr) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length == 0 ? 1 : length]);
  std::memcpy(copy.get(), block.data(), length);
  TBitmapLayout l = ExaminePictureBlock(copy.get(), static_cast<std::int32_t>(length));
  if (l.Valid && sum != nullptr) *sum = fktest::TouchDrawnBytes(copy.get(), l);
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

namespace {

// A 1x1 32-bit BI_BITFIELDS block that ends right after its header, the masks
// when the header is the plain one, and the colour table; its pixel is the
// first four bytes of the BMP file.
std::vector<std::uint8_t> BitfieldsBlock(std::uint32_t headerSize, std::uint32_t colorsUsed) {
  const std::size_t info = headerSize + (headerSize == 40 ? 12 : 0) + 4 * std::size_t{colorsUsed};
  std::vector<std::uint8_t> b(26 + info, 0);
  std::memcpy(&b[0], "\x07TBitmap", 8);
  b[12] = 'B';
  b[13] = 'M';
  fktest::Put32(b, 26, headerSize);
  fktest::Put32(b, 30, 1);
  fktest::Put32(b, 34, 1);
  fktest::Put16(b, 38, 1);
  fktest::Put16(b, 40, 32);
  fktest::Put32(b, 42, 3);
  fktest::Put32(b, 58, colorsUsed);
  return b;
}

}  // namespace

TEST(PictureBlock, BitfieldsMasksAndTableLieInTheBlock) {
  // GDI reads the masks at header offset 40: a header of 41 to 51 bytes ends
  // among them. Under the sanitizers an accepted block has all its bytes read.
  const struct {
    std::uint32_t HeaderSize, ColorsUsed;
    bool Valid;
  } cases[] = {{40, 0, true},   {41, 0, false}, {44, 0, false}, {51, 0, false}, {52, 0, true},
               {56, 0, true},   {108, 0, true}, {124, 0, true}, {40, 2, true},  {124, 256, true},
               {40, 257, false}};
  for (const auto& c : cases) {
    auto b = BitfieldsBlock(c.HeaderSize, c.ColorsUsed);
    unsigned sum = 0;
    EXPECT_EQ(ExamineCopy(b, b.size(), &sum).Valid, c.Valid) << c.HeaderSize << " " << c.ColorsUsed;
    // One byte less and the masks or the table reach past the block.
    b.pop_back();
    EXPECT_FALSE(ExamineCopy(b, b.size(), &sum).Valid) << c.HeaderSize << " " << c.ColorsUsed;
  }
}

#if !defined(_WIN32)
// Every input the fuzzer once stopped on is examined again under the sanitizers.
TEST(PictureBlock, SavedFuzzInputsAreHandled) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FK_PICTURE_REGRESSIONS_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unsigned sum = 0;
    ExamineCopy(b, b.size(), &sum);
    ++count;
  }
  EXPECT_GT(count, 0);
}
#endif
