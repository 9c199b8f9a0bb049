// Toolkit module Graphics, its Win32-free part: the check of a picture block
// before GDI is handed it. The GDI wrappers are in Graphics_win.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace formkit {

// Where the parts of a picture block lie; Valid is false for a block that
// must not be drawn.
struct TBitmapLayout {
  bool Valid = false;
  std::int32_t Width = 0;
  std::int32_t Height = 0;      // as stored: negative for top-down rows
  std::uint32_t ScanLines = 0;  // |Height|
  std::size_t InfoOffset = 0;   // BITMAPINFO within the block
  std::size_t BitsOffset = 0;   // pixel rows within the block
};
TBitmapLayout ExaminePictureBlock(const std::uint8_t* data, std::int32_t size);

}  // namespace formkit
