// The picture-block check, run natively under the sanitizers as well: GDI
// must never be handed a header, colour table or row outside the block.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "PictureBlocks.h"

using fktest::Block;
using fktest::Put32;

namespace {

bool Accepted(const std::vector<std::uint8_t>& b, std::size_t n) { return fktest::ExamineAndTouch(b.data(), n); }
bool Accepted(const std::vector<std::uint8_t>& b) { return Accepted(b, b.size()); }

}  // namespace

TEST(PictureBlock, DamagedBlocksAreRefused) {
  const auto good = Block(40, 4, 3, 8, 0, 256 * 4, 3 * 4);  // 8 bits, 4x3, a full colour table
  EXPECT_TRUE(Accepted(good));
  EXPECT_TRUE(Accepted(Block(40, 4, -3, 8, 0, 256 * 4, 3 * 4)));  // top-down rows
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(Accepted(good, n)) << n;
  const struct {
    std::size_t at;
    std::uint32_t value;
    bool valid;
  } cases[] = {
      {8, 7, true}, {14, 0xFFFFFFF0, true},  // lengths are not examined
      {0, 6, false}, {4, 0x716D7469, false}, {12, 0, false},  // "TBitmap", "BM"
      {22, 0x7FFFFFF0, false},                // pixel rows far behind the block
      {22, static_cast<std::uint32_t>(good.size() - 12 - 8), false},  // rows start 8 bytes before the end
      {34, 4000, false},                      // more rows than the block holds
      {30, 0x40000000, false},                // width overflowing a 32-bit stride
      {26, 0x10000, false},                   // header size beyond the block
      {42, 1, false},                         // RLE8: no size to check the rows against
      {58, 100000, true},                     // a table only as large as 8 bits allow
  };
  for (const auto& c : cases) {
    auto b = good;
    Put32(b, c.at, c.value);
    EXPECT_EQ(Accepted(b), c.valid) << c.at;
  }
}

// GDI reads the masks at header offset 40: a header of 41 to 51 bytes ends
// among them. The 1x1 32-bit block ends right after its masks and colour
// table; its pixel is the first four bytes of the BMP file.
TEST(PictureBlock, BitfieldsMasksAndTableLieInTheBlock) {
  const struct {
    std::uint32_t HeaderSize, ColorsUsed;
    bool Valid;
  } cases[] = {{40, 0, true},  {41, 0, false}, {44, 0, false}, {51, 0, false},  {52, 0, true},   {56, 0, true},
               {108, 0, true}, {124, 0, true}, {40, 2, true},  {124, 256, true}, {40, 257, false}};
  for (const auto& c : cases) {
    auto b = Block(c.HeaderSize, 1, 1, 32, 3, (c.HeaderSize == 40 ? 12 : 0) + 4 * c.ColorsUsed, 0);
    Put32(b, 22, 0);
    Put32(b, 58, c.ColorsUsed);
    EXPECT_EQ(Accepted(b), c.Valid) << c.HeaderSize << " " << c.ColorsUsed;
    EXPECT_FALSE(Accepted(b, b.size() - 1)) << c.HeaderSize << " " << c.ColorsUsed;
  }
}

#if !defined(_WIN32)
// Every input the fuzzer once stopped on is examined again under the sanitizers.
TEST(PictureBlock, SavedFuzzInputsAreHandled) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FK_PICTURE_REGRESSIONS_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    Accepted(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    ++count;
  }
  EXPECT_GT(count, 0);
}
#endif
