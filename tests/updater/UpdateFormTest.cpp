// The dialog as its form resource builds it: every control bound to its
// field, every event to its handler, the properties of the resource.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BoxCapture.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UpdateFrm_win.h"
#include "UpdateModules.h"

namespace {

TEST(UpdateFormResource, ReadsTheDialogWithItsControlsAndEvents) {
  fktest::BoxCapture boxes;
  StartModules();
  formkit::Application->Initialize();
  formkit::Application->CreateForm(UpdateForm);
  TUpdateForm* f = UpdateForm;
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(boxes.Boxes().empty()) << boxes.Boxes().front().Text;
  EXPECT_EQ(formkit::Application->MainForm, f);
  EXPECT_EQ(f->BorderStyle, formkit::bsDialog);
  EXPECT_EQ(f->Position, formkit::poScreenCenter);
  const NONCLIENTMETRICSA& m = formkit::Application->NonClientMetrics;
  EXPECT_EQ(f->Width, 402 + 2 * m.iBorderWidth);
  EXPECT_EQ(f->Height, 229 + m.iCaptionHeight + 4 * m.iBorderWidth);
  EXPECT_TRUE(f->OnShow.IsSet());

  const struct {
    formkit::TCustomControl* control;
    int left, top, width, height;
    const char* caption;  // nullptr: an edit
    int fontHeight;
    std::uint8_t style;
    bool clickable;
  } rows[] = {
      // Windowless children in creation order, then the windowed ones.
      {f->PathLabel, 120, 64, 112, 15, "Installation directory:", -12, 0, false},
      {f->Image1, 32, 24, 48, 49, nullptr, 0, 0, false},
      {f->StatusLabel, 120, 120, 92, 15, "", -12, 0, false},
      {f->Label1, 112, 24, 190, 19, "Installation from Internet", -17, 3, false},  // bold italic
      {f->PathEdit, 120, 80, 225, 23, nullptr, -12, 0, false},
      {f->PathBtn, 351, 80, 24, 24, "...", -12, 1, true},  // bold
      {f->OkBtn, 160, 178, 99, 25, "Install", -12, 0, true},
      {f->CancelBtn, 272, 178, 75, 25, "Cancel", -12, 0, true},
      {f->ProxyEdit, 120, 136, 145, 22, nullptr, -11, 0, false},
      {f->ProxyBtn, 16, 176, 49, 25, "Proxy...", -11, 0, true},
  };
  ASSERT_EQ(f->GraphicChildren.Count, 4);
  ASSERT_EQ(f->WindowedChildren.Count, 6);
  for (int i = 0; i < 10; ++i) {
    const auto& r = rows[i];
    ASSERT_NE(r.control, nullptr) << i;
    SCOPED_TRACE(r.control->Name);
    EXPECT_EQ((i < 4 ? f->GraphicChildren.Get(i) : f->WindowedChildren.Get(i - 4)), r.control);
    EXPECT_EQ((std::vector<int>{r.control->Left, r.control->Top, r.control->Width, r.control->Height}),
              (std::vector<int>{r.left, r.top, r.width, r.height}));
    if (i >= 4) {
      EXPECT_EQ(static_cast<formkit::TWinControl*>(r.control)->TabOrder, i - 4);
    }
    if (r.caption != nullptr) {
      EXPECT_EQ(r.control->Caption, r.caption);
    }
    if (r.clickable) {
      EXPECT_EQ(static_cast<formkit::TButton*>(r.control)->OnClick.Data, f);
    }
    if (r.fontHeight == 0) continue;
    ASSERT_NE(r.control->Font, nullptr);
    EXPECT_EQ(r.control->Font->Name, "Arial");
    EXPECT_EQ(r.control->Font->Height, r.fontHeight);
    EXPECT_EQ(static_cast<std::uint8_t>(r.control->Font->Style), r.style);
    EXPECT_FALSE(r.control->ParentFont);
  }
  EXPECT_EQ(f->Label1->Font->Color, 0x00800000);  // navy
  EXPECT_NE(f->PathBtn->OnClick.Code, f->OkBtn->OnClick.Code);
  EXPECT_FALSE(f->PathEdit->OnClick.IsSet());
  ASSERT_NE(f->Image1->Picture, nullptr);
  ASSERT_EQ(f->Image1->Picture->DataSize, 3442);
  const std::string block(reinterpret_cast<const char*>(f->Image1->Picture->Data.get()), 14);
  EXPECT_EQ(block.substr(0, 8), "\x07TBitmap");
  EXPECT_EQ(block.substr(12), "BM");

  FinishModules();
}

}  // namespace
