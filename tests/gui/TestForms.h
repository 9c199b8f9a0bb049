// Form classes of the GUI tests and the demo, whose layouts are the .txt form
// files. Each program includes this once.
#pragma once

#include <functional>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace fktest {

using formkit::TObject;

class TTestForm : public formkit::TForm {
  FK_CLASS()
 public:
  void OkBtnClick(TObject*) {
    ++OkClicks;
    if (OnOk) OnOk();
  }

  formkit::TImage* Logo = nullptr;
  formkit::TLabel *TitleLabel = nullptr, *StatusLabel = nullptr;
  formkit::TEdit *PathEdit = nullptr, *ProxyEdit = nullptr;
  formkit::TCheckBox* Option = nullptr;
  formkit::TButton *OkBtn = nullptr, *CancelBtn = nullptr;
  int OkClicks = 0;
  std::function<void()> OnOk;  // extra work of the next clicks
};
const formkit::TPublishedField kTestFields[] = {
    FK_FIELD(TTestForm, Logo),     FK_FIELD(TTestForm, TitleLabel), FK_FIELD(TTestForm, StatusLabel),
    FK_FIELD(TTestForm, PathEdit), FK_FIELD(TTestForm, ProxyEdit),  FK_FIELD(TTestForm, Option),
    FK_FIELD(TTestForm, OkBtn),    FK_FIELD(TTestForm, CancelBtn)};
const formkit::TPublishedMethod kTestMethods[] = {FK_METHOD(TTestForm, OkBtnClick)};
FK_IMPLEMENT_PUBLISHED_CLASS(TTestForm, formkit::TForm, kTestFields, kTestMethods);

class TDefaultForm : public formkit::TForm {
  FK_CLASS()
};
FK_IMPLEMENT_CLASS(TDefaultForm, formkit::TForm);

class TBadForm : public formkit::TForm {
  FK_CLASS()
};
FK_IMPLEMENT_CLASS(TBadForm, formkit::TForm);

}  // namespace fktest
