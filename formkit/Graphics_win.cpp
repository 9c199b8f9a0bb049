// GDI wrappers and the picture drawing.
#include "Graphics_win.h"

#include <cstring>
#include <numeric>

namespace formkit {

namespace {

const char* const kFontProperties[] = {"Charset", "Color", "Height", "Name", "Style"};
const char* const kFontStyles[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
const char* const kPictureProperties[] = {"Data"};

}  // namespace

// ---------------------------------------------------------------- theme

bool HighContrastColors = false;

void ReadHighContrast() {
  HIGHCONTRASTA state = {};
  state.cbSize = sizeof state;
  HighContrastColors =
      SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof state, &state, 0) && (state.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

std::int32_t BackgroundColor(std::int32_t color) {
  return HighContrastColors ? static_cast<std::int32_t>(GetSysColor(COLOR_WINDOW)) : color;
}

std::int32_t TextColor(std::int32_t color) {
  return HighContrastColors ? static_cast<std::int32_t>(GetSysColor(COLOR_WINDOWTEXT)) : color;
}

// ---------------------------------------------------------------- TFont

void TFont::ReadNamedProperty(const std::string& name, TReader& reader) {
  switch (IndexOfName(name, kFontProperties)) {
    case 0: Charset = reader.ReadString(); break;
    case 1: Color = reader.ReadColor(); break;
    case 2: Height = reader.ReadInteger(); break;
    case 3: Name = reader.ReadString(); break;
    case 4: Style = static_cast<TFontStyle>(reader.ReadSet(kFontStyles)); break;
    default: TPersistent::ReadNamedProperty(name, reader); break;
  }
}

HFONT TFont::GetHandle() {
  if (!Handle) {
    LOGFONTA lf;
    std::memset(&lf, 0, sizeof lf);
    lf.lfHeight = Height;
    lf.lfWeight = HasStyle(Style, fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = HasStyle(Style, fsItalic);
    lf.lfUnderline = HasStyle(Style, fsUnderline);
    lf.lfStrikeOut = HasStyle(Style, fsStrikeOut);
    lf.lfCharSet = DEFAULT_CHARSET;
    // Longer face names are cut; the zero fill keeps the terminator.
    std::memcpy(lf.lfFaceName, Name.data(), Name.size() < LF_FACESIZE ? Name.size() : LF_FACESIZE - 1);
    Handle.Reset(CreateFontIndirectA(&lf));
  }
  return Handle.Get();
}

void TFont::CopyFrom(const TFont& source) {
  Charset = source.Charset;
  Color = source.Color;
  Height = source.Height;
  Name = source.Name;
  Style = source.Style;
  Handle.Reset();
}

// ---------------------------------------------------------------- TBrush

HBRUSH TBrush::GetHandle() {
  if (!Handle && Style == bsSolidBrush) Handle.Reset(CreateSolidBrush(static_cast<COLORREF>(Color)));
  return Handle.Get();
}

void TBrush::SetHandle(HBRUSH handle) {
  if (handle != Handle.Get()) Handle.Reset(handle);
}

void TBrush::SetColor(std::int32_t color) {
  if (color == Color) return;
  SetHandle(nullptr);
  Color = color;
}

// ---------------------------------------------------------------- TCanvas

TBrush* TCanvas::GetBrush() {
  if (!Brush) Brush.reset(new TBrush());
  return Brush.get();
}

TFont* TCanvas::GetFont() {
  if (!Font) Font.reset(new TFont());
  return Font.get();
}

void TCanvas::SetOrigin(std::int32_t x, std::int32_t y) {
  OriginX = x;
  OriginY = y;
}

void TCanvas::FillRect(const TRect& rect) {
  RECT r = {rect.Left + OriginX, rect.Top + OriginY, rect.Right + OriginX, rect.Bottom + OriginY};
  // A clear brush has no handle, and FillRect would take 0 for a system colour.
  HBRUSH brush = GetBrush()->GetHandle();
  if (brush != nullptr) ::FillRect(Handle, &r, brush);
}

void TCanvas::TextOut(std::int32_t x, std::int32_t y, const std::string& text) {
  if (text.empty()) return;
  SelectObject(Handle, GetFont()->GetHandle());
  TBrush* brush = GetBrush();
  if (brush->Style == bsClearBrush) {
    SetBkMode(Handle, TRANSPARENT);
  } else {
    SetBkColor(Handle, static_cast<COLORREF>(brush->Color));
  }
  SetTextColor(Handle, static_cast<COLORREF>(TextColor(GetFont()->Color)));
  ::TextOutA(Handle, x + OriginX, y + OriginY, text.data(), static_cast<int>(text.size()));
}

// ---------------------------------------------------------------- TPicture

void TPicture::ReadNamedProperty(const std::string& name, TReader& reader) {
  if (IndexOfName(name, kPictureProperties) == 0) {
    std::int32_t length = 0;
    Data = reader.ReadBinary(length);
    DataSize = length;
  } else {
    TPersistent::ReadNamedProperty(name, reader);
  }
}

void TPicture::Draw(const TRect& rect, TCanvas& canvas) {
  TBitmapLayout layout = ExaminePictureBlock(Data.get(), DataSize);
  if (!layout.Valid) return;
  // Top-down rows (negative height in the header) are drawn with the same
  // header; only the scan-line count must be positive.
  const void* bits = Data.get() + layout.BitsOffset;
  const auto* info = reinterpret_cast<const BITMAPINFO*>(Data.get() + layout.InfoOffset);
  const int rows = static_cast<int>(layout.ScanLines);
  if (ScaleNum == ScaleDen) {
    SetDIBitsToDevice(canvas.Handle, rect.Left, rect.Top, static_cast<DWORD>(layout.Width), layout.ScanLines, 0, 0, 0,
                      layout.ScanLines, bits, info, DIB_RGB_COLORS);
    return;
  }
  // Averaged, not repeated, pixels: a scaled logo stays smooth.
  SetStretchBltMode(canvas.Handle, HALFTONE);
  SetBrushOrgEx(canvas.Handle, 0, 0, nullptr);
  StretchDIBits(canvas.Handle, rect.Left, rect.Top, MulDiv(layout.Width, ScaleNum, ScaleDen),
                MulDiv(rows, ScaleNum, ScaleDen), 0, 0, layout.Width, rows, bits, info, DIB_RGB_COLORS, SRCCOPY);
}

void TPicture::Scale(std::int32_t num, std::int32_t den) {
  ScaleNum *= num;
  ScaleDen *= den;
  const std::int32_t common = std::gcd(ScaleNum, ScaleDen);
  ScaleNum /= common;
  ScaleDen /= common;
}

}  // namespace formkit
