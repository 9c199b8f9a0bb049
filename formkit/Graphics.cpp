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

#if defined(_WIN32)

namespace formkit {

namespace {

const char* const kFontProperties[] = {"Charset", "Color", "Height", "Name", "Style"};
const char* const kFontStyles[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
const char* const kPictureProperties[] = {"Data"};

}  // namespace

// ---------------------------------------------------------------- TFont

TFont::~TFont() {
  if (Handle != nullptr) DeleteObject(Handle);
}

void TFont::ReadNamedProperty(const std::string& name, TReader& reader) {
  switch (IndexOfName(name, kFontProperties)) {
    case 0: Charset = reader.ReadString(); break;
    case 1: Color = reader.ReadColor(); break;
    case 2: Height = reader.ReadInteger(); break;
    case 3: Name = reader.ReadString(); break;
    case 4: Style = static_cast<std::uint8_t>(reader.ReadSet(kFontStyles)); break;
    default: TPersistent::ReadNamedProperty(name, reader); break;
  }
}

HFONT TFont::GetHandle() {
  if (Handle == nullptr) {
    LOGFONTA lf;
    std::memset(&lf, 0, sizeof lf);
    lf.lfHeight = Height;
    lf.lfWeight = (Style & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (Style & fsItalic) ? 1 : 0;
    lf.lfUnderline = (Style & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (Style & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = DEFAULT_CHARSET;
    // Longer face names are cut; the zero fill keeps the terminator.
    std::memcpy(lf.lfFaceName, Name.data(), Name.size() < LF_FACESIZE ? Name.size() : LF_FACESIZE - 1);
    Handle = CreateFontIndirectA(&lf);
  }
  return Handle;
}

void TFont::CopyFrom(const TFont& source) {
  Charset = source.Charset;
  Color = source.Color;
  Height = source.Height;
  Name = source.Name;
  Style = source.Style;
  if (Handle != nullptr) DeleteObject(Handle);
  Handle = nullptr;
}

// ---------------------------------------------------------------- TBrush

TBrush::~TBrush() { SetHandle(nullptr); }

HBRUSH TBrush::GetHandle() {
  if (Handle == nullptr && Style == bsSolidBrush) Handle = CreateSolidBrush(static_cast<COLORREF>(Color));
  return Handle;
}

void TBrush::SetHandle(HBRUSH handle) {
  if (handle == Handle) return;
  if (Handle != nullptr) DeleteObject(Handle);
  Handle = handle;
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
  SetTextColor(Handle, static_cast<COLORREF>(GetFont()->Color));
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
  SetDIBitsToDevice(canvas.Handle, rect.Left, rect.Top, static_cast<DWORD>(layout.Width), layout.ScanLines, 0, 0, 0,
                    layout.ScanLines, Data.get() + layout.BitsOffset,
                    reinterpret_cast<const BITMAPINFO*>(Data.get() + layout.InfoOffset), DIB_RGB_COLORS);
}

}  // namespace formkit
#endif
