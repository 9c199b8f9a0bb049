// The dialog as its form resource builds it: no complaint while reading, every
// control bound to its field and every event to its handler. The x86_64 run has
// no end-to-end scenarios, so this is where its dialog is read.
#include <gtest/gtest.h>

#include <string>

#include "BoxCapture.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UpdateFrm_win.h"
#include "UpdateModules.h"

namespace {

TEST(UpdateFormResource, BindsEveryControlAndEvent) {
  fktest::BoxCapture boxes;
  StartModules();
  formkit::Application->Initialize();
  formkit::Application->CreateForm(UpdateForm);
  TUpdateForm* f = UpdateForm;
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(boxes.Boxes().empty()) << boxes.Boxes().front().Text;
  EXPECT_EQ(formkit::Application->MainForm, f);
  EXPECT_TRUE(f->OnShow.IsSet());
  // The scenarios find the windowed controls by class and creation order.
  const formkit::TCustomControl* windowed[] = {f->PathEdit, f->PathBtn, f->OkBtn, f->CancelBtn, f->ProxyEdit, f->ProxyBtn};
  const formkit::TCustomControl* graphic[] = {f->PathLabel, f->Image1, f->StatusLabel, f->Label1};
  ASSERT_EQ(f->WindowedChildren.Count, 6);
  ASSERT_EQ(f->GraphicChildren.Count, 4);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(f->WindowedChildren.Get(i), windowed[i]) << i;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(f->GraphicChildren.Get(i), graphic[i]) << i;
  for (formkit::TButton* button : {f->PathBtn, f->OkBtn, f->CancelBtn, f->ProxyBtn})
    EXPECT_EQ(button->OnClick.Data, f) << button->Name;
  EXPECT_NE(f->PathBtn->OnClick.Code, f->OkBtn->OnClick.Code);
  ASSERT_NE(f->Image1->Picture, nullptr);
  ASSERT_GE(f->Image1->Picture->DataSize, 14);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->Image1->Picture->Data.get()) + 12, 2), "BM");
  FinishModules();
}

}  // namespace
