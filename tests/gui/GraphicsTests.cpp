#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Graphics.h"
#include "GuiHelpers.h"
#include "PictureBlocks.h"

using namespace formkit;
using fktest::MakeBlock;
using fktest::Put32;
using fktest::Surface;

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);

void Fill(TPicture& p, const std::vector<std::uint8_t>& block) {
  p.DataSize = static_cast<std::int32_t>(block.size());
  p.Data.reset(new std::uint8_t[block.size() + 1]);
  if (!block.empty()) std::memcpy(p.Data.get(), block.data(), block.size());
}

int DrawnPixels(const std::vector<std::uint8_t>& block) {
  Surface s(20, 20, kWhite);
  TCanvas canvas;
  canvas.Handle = s.dc();
  TPicture p;
  Fill(p, block);
  p.Draw(BoundsToRect(5, 6, 1, 1), canvas);
  return s.CountOther(kWhite);
}

LOGFONTA FontRecord(TFont& f) {
  LOGFONTA lf = {};
  GetObjectA(f.GetHandle(), sizeof lf, &lf);
  return lf;
}

}  // namespace

TEST(Picture, DrawsWholeBitmapAtRectangleTopLeftBottomUp) {
  Surface s(20, 20, kWhite);
  TCanvas canvas;
  canvas.Handle = s.dc();
  canvas.SetOrigin(50, 50);  // not applied to pictures
  TPicture p;
  Fill(p, MakeBlock());
  // A rectangle smaller than the bitmap neither scales nor clips it.
  p.Draw(BoundsToRect(5, 6, 1, 1), canvas);
  EXPECT_EQ(s.At(5, 6), kBlue);  // the last stored row is the top one
  EXPECT_EQ(s.At(8, 7), kGreen);
  EXPECT_EQ(s.At(5, 8), kRed);
  EXPECT_EQ(s.At(4, 6), kWhite);
  EXPECT_EQ(s.At(9, 6), kWhite);
  EXPECT_EQ(s.At(5, 9), kWhite);
  EXPECT_EQ(s.CountOther(kWhite), 12);
}

TEST(Picture, TopDownRowsAreDrawnTopFirst) {
  Surface s(20, 20, kWhite);
  TCanvas canvas;
  canvas.Handle = s.dc();
  TPicture p;
  Fill(p, MakeBlock(-3));
  p.Draw(BoundsToRect(5, 6, 4, 3), canvas);
  EXPECT_EQ(s.At(5, 6), kRed);
  EXPECT_EQ(s.At(5, 8), kBlue);
  EXPECT_EQ(s.CountOther(kWhite), 12);
}

TEST(Picture, LengthFieldsAreNotExamined) {
  auto b = MakeBlock();
  Put32(b, 8, 7);           // length of the BMP file
  Put32(b, 14, 0xFFFFFFF0); // BMP file size
  EXPECT_EQ(DrawnPixels(b), 12);
}

TEST(Picture, BlocksThatDoNotMatchDrawNothing) {
  auto good = MakeBlock();
  EXPECT_EQ(DrawnPixels(std::vector<std::uint8_t>(good.begin(), good.begin() + 13)), 0);
  auto b = good;
  b[7] = 'q';  // "TBitmaq"
  EXPECT_EQ(DrawnPixels(b), 0);
  b = good;
  b[0] = 6;  // the counted string "TBitma"
  EXPECT_EQ(DrawnPixels(b), 0);
  b = good;
  b[13] = 'N';
  EXPECT_EQ(DrawnPixels(b), 0);
  EXPECT_EQ(DrawnPixels({}), 0);
}

// Headers whose values lead outside the block are refused, never read past.
TEST(Picture, HeadersPointingOutsideTheBlockDrawNothing) {
  auto good = MakeBlock();
  auto b = good;
  Put32(b, 22, 0x7FFFFFF0);  // pixel rows far behind the block
  EXPECT_EQ(DrawnPixels(b), 0);
  b = good;
  Put32(b, 22, static_cast<std::uint32_t>(good.size() - 12 - 8));  // rows start 8 bytes before the end
  EXPECT_EQ(DrawnPixels(b), 0);
  b = good;
  Put32(b, 34, 4000);  // more rows than the block holds
  EXPECT_EQ(DrawnPixels(b), 0);
  b = good;
  Put32(b, 30, 0x40000000);  // width overflowing a 32-bit stride
  EXPECT_EQ(DrawnPixels(b), 0);
  b = good;
  Put32(b, 26, 0x10000);  // header size beyond the block
  EXPECT_EQ(DrawnPixels(b), 0);
  b = good;
  Put32(b, 42, 1);  // RLE8: no size to check the rows against
  EXPECT_EQ(DrawnPixels(b), 0);
  // Cut inside the colour table and inside the header.
  EXPECT_EQ(DrawnPixels(std::vector<std::uint8_t>(good.begin(), good.begin() + 26 + 40 + 100)), 0);
  EXPECT_EQ(DrawnPixels(std::vector<std::uint8_t>(good.begin(), good.begin() + 40)), 0);
  // A colour-table count above 256 is only as large as 8 bits allow.
  b = good;
  Put32(b, 26 + 32, 100000);
  EXPECT_EQ(DrawnPixels(b), 12);
}

TEST(Font, HandleFollowsTheFieldsWithDefaultCharset) {
  TFont f;
  f.Style = fsBold | fsItalic;
  f.Height = -17;
  f.Charset = "ANSI_CHARSET";
  f.Name = "Tahoma";
  LOGFONTA lf = FontRecord(f);
  EXPECT_EQ(lf.lfWeight, 700);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_EQ(lf.lfUnderline, 0);
  EXPECT_EQ(lf.lfStrikeOut, 0);
  EXPECT_EQ(lf.lfHeight, -17);
  EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  EXPECT_STREQ(lf.lfFaceName, "Tahoma");

  TFont plain;
  plain.Style = fsUnderline | fsStrikeOut;
  lf = FontRecord(plain);
  EXPECT_EQ(lf.lfWeight, 400);
  EXPECT_EQ(lf.lfItalic, 0);
  EXPECT_EQ(lf.lfUnderline, 1);
  EXPECT_EQ(lf.lfStrikeOut, 1);
}

TEST(Font, LongFaceNamesAreCut) {
  TFont f;
  f.Name = std::string(31, 'A') + "BCDEFGHIJKLMNOPQ";
  LOGFONTA lf = FontRecord(f);
  EXPECT_EQ(std::string(lf.lfFaceName), std::string(31, 'A'));
}

TEST(Font, CopyFromAlwaysDropsTheHandle) {
  TFont a, b;
  a.Height = b.Height = -12;
  HFONT old = b.GetHandle();
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(b.GetHandle(), old);  // kept while nothing changes
  b.CopyFrom(a);
  EXPECT_EQ(b.Handle, nullptr);
  EXPECT_EQ(GetObjectType(old), 0u);  // deleted
  EXPECT_NE(b.GetHandle(), nullptr);

  a.Name = "Arial";
  a.Color = 0x123456;
  a.Style = fsItalic;
  a.Charset = "X";
  b.CopyFrom(a);
  EXPECT_EQ(b.Name, "Arial");
  EXPECT_EQ(b.Color, 0x123456);
  EXPECT_EQ(b.Style, fsItalic);
  EXPECT_EQ(b.Charset, "X");
  EXPECT_EQ(b.Height, -12);
}

TEST(Brush, SetColorKeepsOrReplacesTheHandle) {
  TBrush br;
  br.SetColor(0x00FF00);
  HBRUSH h = br.GetHandle();
  ASSERT_NE(h, nullptr);
  br.SetColor(0x00FF00);
  EXPECT_EQ(br.Handle, h);
  br.SetColor(0x0000FF);
  EXPECT_EQ(br.Handle, nullptr);
  EXPECT_EQ(GetObjectType(h), 0u);
  LOGBRUSH lb = {};
  GetObjectA(br.GetHandle(), sizeof lb, &lb);
  EXPECT_EQ(lb.lbColor, 0x0000FFu);

  TBrush clear;
  clear.Style = bsClearBrush;
  EXPECT_EQ(clear.GetHandle(), nullptr);
}

TEST(Canvas, FillRectAddsTheOrigin) {
  Surface s(40, 40, kWhite);
  TCanvas c;
  c.Handle = s.dc();
  c.SetOrigin(10, 20);
  c.GetBrush()->SetColor(kRed);
  c.FillRect(BoundsToRect(0, 0, 5, 4));
  EXPECT_EQ(s.CountOther(10, 20, 15, 24, kRed), 0);
  EXPECT_EQ(s.CountOther(kWhite), 20);

  c.GetBrush()->Style = bsClearBrush;
  c.GetBrush()->SetHandle(nullptr);
  c.FillRect(BoundsToRect(0, 0, 20, 20));
  EXPECT_EQ(s.CountOther(kWhite), 20);
}

TEST(Canvas, TextOutDrawsAtTheOriginWithTheBrushBackground) {
  Surface s(200, 120, kWhite);
  TCanvas c;
  c.Handle = s.dc();
  c.SetOrigin(120, 64);
  c.GetFont()->Height = -16;
  c.GetFont()->Color = kBlue;
  HGDIOBJ before = GetCurrentObject(s.dc(), OBJ_FONT);
  c.TextOut(0, 0, "");
  EXPECT_EQ(GetCurrentObject(s.dc(), OBJ_FONT), before);
  EXPECT_EQ(s.CountOther(kWhite), 0);

  c.GetBrush()->SetColor(kGreen);
  c.TextOut(0, 0, "WM");
  EXPECT_EQ(GetCurrentObject(s.dc(), OBJ_FONT), c.GetFont()->Handle);
  EXPECT_EQ(GetBkColor(s.dc()), kGreen);
  EXPECT_EQ(GetTextColor(s.dc()), kBlue);
  EXPECT_EQ(s.CountOther(0, 0, 200, 64, kWhite), 0);
  EXPECT_EQ(s.CountOther(0, 0, 120, 120, kWhite), 0);
  EXPECT_GT(s.CountOther(120, 64, 150, 84, kWhite), 0);
  EXPECT_GT(s.CountOther(120, 64, 150, 84, kGreen), 0);  // text pixels as well as the background

  Surface t(200, 120, kWhite);
  c.Handle = t.dc();
  c.GetBrush()->Style = bsClearBrush;
  c.TextOut(0, 0, "WM");
  EXPECT_EQ(GetBkMode(t.dc()), TRANSPARENT);
  int blue = 0, green = 0;
  for (int y = 64; y < 90; ++y)
    for (int x = 120; x < 160; ++x) {
      COLORREF p = t.At(x, y);
      if (p == kBlue) ++blue;
      if (p == kGreen) ++green;
    }
  EXPECT_GT(blue, 0);
  EXPECT_EQ(green, 0);  // no background behind the text
  EXPECT_EQ(t.CountOther(0, 0, 200, 64, kWhite), 0);
}
