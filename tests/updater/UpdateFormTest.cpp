// The dialog as its form resource builds it: every control bound to its
// field, every event to its handler, the properties of the resource.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UpdateFrm.h"

namespace {

std::vector<std::string> gBoxes;
int CaptureBox(void*, const char* text, const char*, unsigned) {
  gBoxes.push_back(text != nullptr ? text : "");
  return IDOK;
}

class UpdateFormResource : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    formkit::SetMessageBoxFunc(&CaptureBox);
    formkit::StartSysUtils();
    formkit::StartStdCtrls();
    formkit::StartForms();
    formkit::StartExtCtrls();
    StartUpdateFrm();
    formkit::Application->Initialize();
    formkit::Application->CreateForm(UpdateForm);
  }
  static void TearDownTestSuite() {
    FinishUpdateFrm();
    formkit::FinishForms();
    formkit::UnregisterAllComponentClasses();
    formkit::FinishSysUtils();
  }
};

void ExpectBounds(const formkit::TCustomControl* c, int left, int top, int width, int height) {
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Left, left) << c->Name;
  EXPECT_EQ(c->Top, top) << c->Name;
  EXPECT_EQ(c->Width, width) << c->Name;
  EXPECT_EQ(c->Height, height) << c->Name;
}

void ExpectFont(formkit::TCustomControl* c, const char* name, int height, std::uint8_t style) {
  ASSERT_NE(c->Font, nullptr) << c->Name;
  EXPECT_EQ(c->Font->Name, name) << c->Name;
  EXPECT_EQ(c->Font->Height, height) << c->Name;
  EXPECT_EQ(static_cast<std::uint8_t>(c->Font->Style), style) << c->Name;
  EXPECT_FALSE(c->ParentFont) << c->Name;
}

TEST_F(UpdateFormResource, ReadsWithoutComplaint) {
  ASSERT_NE(UpdateForm, nullptr);
  EXPECT_TRUE(gBoxes.empty()) << gBoxes.front();
  EXPECT_EQ(UpdateForm->Name, "UpdateForm");
  EXPECT_EQ(formkit::Application->MainForm, UpdateForm);
}

TEST_F(UpdateFormResource, FormProperties) {
  TUpdateForm* f = UpdateForm;
  EXPECT_EQ(f->BorderStyle, formkit::bsDialog);
  EXPECT_EQ(f->Position, formkit::poScreenCenter);
  EXPECT_EQ(f->Color, 0x00FFFFFF);
  EXPECT_EQ(f->PixelsPerInch, 96);
  EXPECT_EQ(f->TextHeight, 16);
  EXPECT_FALSE(f->OldCreateOrder);
  const NONCLIENTMETRICSA& m = formkit::Application->NonClientMetrics;
  EXPECT_EQ(f->Width, 402 + 2 * m.iBorderWidth);
  EXPECT_EQ(f->Height, 229 + m.iCaptionHeight + 4 * m.iBorderWidth);
  ASSERT_NE(f->Font, nullptr);
  EXPECT_EQ(f->Font->Name, "MS Sans Serif");
  EXPECT_EQ(f->Font->Height, -13);
  EXPECT_TRUE(f->OnShow.IsSet());
  // The language fields start empty.
  EXPECT_EQ(f->LanguageIndex, 0);
  EXPECT_TRUE(f->LoadingText.empty() && f->UpdateCaption.empty() && f->ConnectErrorText.empty() &&
              f->ReadOnlyErrorText.empty() && f->InstallDir.empty());
}

TEST_F(UpdateFormResource, ControlsInCreationOrderWithTheirProperties) {
  TUpdateForm* f = UpdateForm;
  ExpectBounds(f->PathLabel, 120, 64, 112, 15);
  ExpectBounds(f->Image1, 32, 24, 48, 49);
  ExpectBounds(f->StatusLabel, 120, 120, 92, 15);
  ExpectBounds(f->Label1, 112, 24, 190, 19);
  ExpectBounds(f->PathEdit, 120, 80, 225, 23);
  ExpectBounds(f->PathBtn, 351, 80, 24, 24);
  ExpectBounds(f->OkBtn, 160, 178, 99, 25);
  ExpectBounds(f->CancelBtn, 272, 178, 75, 25);
  ExpectBounds(f->ProxyEdit, 120, 136, 145, 22);
  ExpectBounds(f->ProxyBtn, 16, 176, 49, 25);

  // Windowless children in creation order, then the windowed ones.
  ASSERT_EQ(f->GraphicChildren.Count, 4);
  EXPECT_EQ(f->GraphicChildren.Get(0), f->PathLabel);
  EXPECT_EQ(f->GraphicChildren.Get(1), f->Image1);
  EXPECT_EQ(f->GraphicChildren.Get(2), f->StatusLabel);
  EXPECT_EQ(f->GraphicChildren.Get(3), f->Label1);
  ASSERT_EQ(f->WindowedChildren.Count, 6);
  formkit::TWinControl* windowed[] = {f->PathEdit, f->PathBtn, f->OkBtn, f->CancelBtn, f->ProxyEdit, f->ProxyBtn};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(f->WindowedChildren.Get(i), windowed[i]) << i;

  EXPECT_EQ(f->PathLabel->Caption, "Installation directory:");
  EXPECT_EQ(f->StatusLabel->Caption, "");
  EXPECT_EQ(f->Label1->Caption, "Installation from Internet");
  EXPECT_EQ(f->PathBtn->Caption, "...");
  EXPECT_EQ(f->OkBtn->Caption, "Install");
  EXPECT_EQ(f->CancelBtn->Caption, "Cancel");
  EXPECT_EQ(f->ProxyBtn->Caption, "Proxy...");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(windowed[i]->TabOrder, i);

  const std::uint8_t bold = 1, italic = 2;
  ExpectFont(f->PathLabel, "Arial", -12, 0);
  ExpectFont(f->StatusLabel, "Arial", -12, 0);
  ExpectFont(f->Label1, "Arial", -17, bold | italic);
  EXPECT_EQ(f->Label1->Font->Color, 0x00800000);  // navy
  ExpectFont(f->PathEdit, "Arial", -12, 0);
  ExpectFont(f->PathBtn, "Arial", -12, bold);
  ExpectFont(f->OkBtn, "Arial", -12, 0);
  ExpectFont(f->CancelBtn, "Arial", -12, 0);
  ExpectFont(f->ProxyEdit, "Arial", -11, 0);
  ExpectFont(f->ProxyBtn, "Arial", -11, 0);
}

TEST_F(UpdateFormResource, LogoAndEvents) {
  TUpdateForm* f = UpdateForm;
  ASSERT_NE(f->Image1->Picture, nullptr);
  ASSERT_EQ(f->Image1->Picture->DataSize, 3442);
  const std::uint8_t* block = f->Image1->Picture->Data.get();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), 8), std::string("\x07TBitmap"));
  auto u32 = [&](int at) { return block[at] | block[at + 1] << 8 | block[at + 2] << 16 | block[at + 3] << 24; };
  auto u16 = [&](int at) { return block[at] | block[at + 1] << 8; };
  EXPECT_EQ(u16(12), 0x4D42);
  EXPECT_EQ(u32(14), 3430);
  EXPECT_EQ(u32(22), 1078);
  EXPECT_EQ(u32(30), 48);
  EXPECT_EQ(u32(34), 49);
  EXPECT_EQ(u16(40), 8);      // bits per pixel
  EXPECT_EQ(u32(42), 0);      // no compression
  EXPECT_EQ(u32(58), 256);    // colours used

  EXPECT_TRUE(f->PathBtn->OnClick.IsSet());
  EXPECT_TRUE(f->OkBtn->OnClick.IsSet());
  EXPECT_TRUE(f->CancelBtn->OnClick.IsSet());
  EXPECT_TRUE(f->ProxyBtn->OnClick.IsSet());
  EXPECT_EQ(f->PathBtn->OnClick.Data, f);
  EXPECT_FALSE(f->PathEdit->OnClick.IsSet());
  EXPECT_NE(f->PathBtn->OnClick.Code, f->OkBtn->OnClick.Code);
}

}  // namespace
