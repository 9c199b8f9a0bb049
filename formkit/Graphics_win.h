// Toolkit module Graphics, its Win32 part: the GDI wrappers the toolkit draws
// with (font, brush, canvas) and the bitmap holder of the image control.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "ScopedWin.h"

namespace formkit {

// Font style bits, in the order of the stream's set names; a font's Style
// holds a set of them.
enum class TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using enum TFontStyle;
constexpr TFontStyle operator|(TFontStyle a, TFontStyle b) {
  return static_cast<TFontStyle>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
constexpr bool HasStyle(TFontStyle set, TFontStyle style) {
  return (static_cast<std::uint8_t>(set) & static_cast<std::uint8_t>(style)) != 0;
}

enum class TBrushStyle : std::uint8_t { bsSolidBrush, bsClearBrush };
using enum TBrushStyle;

class TFont : public TPersistent {
 public:
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  // Created on demand; 0 again after CopyFrom.
  HFONT GetHandle();
  // Copies the fields and always drops the handle.
  void CopyFrom(const TFont& source);

  TScopedFont Handle;
  std::string Charset;  // stored only; fonts are always created with DEFAULT_CHARSET
  std::int32_t Color = 0;
  std::int32_t Height = 0;
  std::string Name;
  TFontStyle Style = {};
};

class TBrush : public TObject {
 public:
  // Created on demand for a solid brush; a clear brush has none.
  HBRUSH GetHandle();
  // Takes handle over; the one held before is deleted.
  void SetHandle(HBRUSH handle);
  // An unchanged colour keeps the handle.
  void SetColor(std::int32_t color);

  std::int32_t Color = 0;
  TBrushStyle Style = bsSolidBrush;
  TScopedBrush Handle;
};

// Draws into a borrowed drawing context, offset by its origin.
class TCanvas : public TObject {
 public:
  TBrush* GetBrush();
  TFont* GetFont();
  void SetOrigin(std::int32_t x, std::int32_t y);
  void FillRect(const TRect& rect);
  void TextOut(std::int32_t x, std::int32_t y, const std::string& text);

  HDC Handle = nullptr;
  std::unique_ptr<TBrush> Brush;
  std::unique_ptr<TFont> Font;
  std::int32_t OriginX = 0;
  std::int32_t OriginY = 0;
};

// While Windows runs a high-contrast theme the toolkit paints backgrounds and
// label texts in the system's window colours instead of the form's own, which
// were chosen for a normal theme and may vanish in that one.
extern bool HighContrastColors;
// Reads the theme's state into HighContrastColors.
void ReadHighContrast();
// The colour to paint a background, or a text, that the form gives as color.
std::int32_t BackgroundColor(std::int32_t color);
std::int32_t TextColor(std::int32_t color);

// A stream block "TBitmap" + length + BMP file, kept as read and examined at
// every draw.
class TPicture : public TPersistent {
 public:
  void ReadNamedProperty(const std::string& name, TReader& reader) override;
  // Draws at the rectangle's top-left corner at the bitmap's own size times
  // ScaleNum / ScaleDen, smoothed (HALFTONE) when that is not 1; a block that
  // is not a complete, uncompressed bitmap draws nothing.
  void Draw(const TRect& rect, TCanvas& canvas);
  // Multiplies the drawing scale by num / den (a change of DPI).
  void Scale(std::int32_t num, std::int32_t den);

  std::int32_t ScaleNum = 1, ScaleDen = 1;
  std::int32_t DataSize = 0;
  std::unique_ptr<std::uint8_t[]> Data;
};

}  // namespace formkit
