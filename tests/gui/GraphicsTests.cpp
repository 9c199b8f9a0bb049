// Pictures, fonts, brushes and the canvas, drawn on memory surfaces.
#include <gtest/gtest.h>

#include "GuiHelpers.h"
#include "PictureBlocks.h"

using namespace formkit;
using fktest::MakeBlock;
using fktest::Surface;

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);

void Draw(const std::vector<std::uint8_t>& block, Surface& s, const TRect& r) {
  TCanvas canvas;
  canvas.Handle = s.dc();
  canvas.SetOrigin(50, 50);  // not applied to pictures
  TPicture p;
  p.DataSize = static_cast<std::int32_t>(block.size());
  p.Data.reset(new std::uint8_t[block.size() + 1]);
  std::memcpy(p.Data.get(), block.data(), block.size());
  p.Draw(r, canvas);
}

LOGFONTA FontRecord(TFont& f) {
  LOGFONTA lf = {};
  GetObjectA(f.GetHandle(), sizeof lf, &lf);
  return lf;
}

}  // namespace

// The whole bitmap at the rectangle's top left, neither scaled nor clipped.
TEST(Picture, DrawsTheWholeBitmapAtTheRectangle) {
  Surface s(20, 20, kWhite);
  Draw(MakeBlock(), s, BoundsToRect(5, 6, 1, 1));
  EXPECT_EQ(s.At(5, 6), kBlue);  // the last stored row is the top one
  EXPECT_EQ(s.At(8, 7), kGreen);
  EXPECT_EQ(s.At(5, 8), kRed);
  EXPECT_EQ(s.CountOther(kWhite), 12);
  Surface t(20, 20, kWhite);
  Draw(MakeBlock(-3), t, BoundsToRect(5, 6, 4, 3));
  EXPECT_EQ(t.At(5, 6), kRed);  // top-down rows
  auto damaged = MakeBlock();
  fktest::Put32(damaged, 34, 4000);
  Surface u(20, 20, kWhite);
  Draw(damaged, u, BoundsToRect(5, 6, 1, 1));
  EXPECT_EQ(u.CountOther(kWhite), 0);
}

TEST(Font, HandleFollowsTheFields) {
  TFont f;
  f.Style = fsBold | fsItalic;
  f.Height = -17;
  f.Charset = "ANSI_CHARSET";
  f.Name = std::string(31, 'A') + "BCDEF";  // cut to what the record holds
  LOGFONTA lf = FontRecord(f);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(std::string(lf.lfFaceName), std::string(31, 'A'));
  TFont other;
  HFONT old = other.GetHandle();
  other.CopyFrom(f);  // always drops the handle
  EXPECT_EQ(GetObjectType(old), 0u);
  EXPECT_EQ(FontRecord(other).lfHeight, -17);
}

TEST(Canvas, FillRectAddsTheOriginAndAClearBrushFillsNothing) {
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
  TCanvas c;
  c.SetOrigin(120, 64);
  c.GetFont()->Height = -16;
  c.GetFont()->Color = kBlue;
  c.GetBrush()->SetColor(kGreen);
  for (bool clear : {false, true}) {
    Surface s(200, 120, kWhite);
    c.Handle = s.dc();
    if (clear) c.GetBrush()->Style = bsClearBrush;
    c.TextOut(0, 0, "WM");
    EXPECT_EQ(GetCurrentObject(s.dc(), OBJ_FONT), c.GetFont()->Handle);
    EXPECT_EQ(s.CountOther(0, 0, 200, 64, kWhite) + s.CountOther(0, 0, 120, 120, kWhite), 0);
    EXPECT_GT(s.CountOther(120, 64, 150, 84, kWhite), 0);
    EXPECT_EQ(s.CountOther(120, 64, 150, 84, kGreen) < 30 * 20, !clear);  // text on the background
    EXPECT_EQ(s.CountOther(120, 64, 160, 90, kGreen) == 40 * 26, clear);  // no background at all
  }
}
