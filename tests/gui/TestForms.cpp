#include "TestForms.h"

namespace fktest {

using formkit::TObject;

namespace {
const formkit::TPublishedField kTestFields[] = {
    FK_FIELD(TTestForm, Logo),     FK_FIELD(TTestForm, TitleLabel), FK_FIELD(TTestForm, StatusLabel),
    FK_FIELD(TTestForm, PathEdit), FK_FIELD(TTestForm, ProxyEdit),  FK_FIELD(TTestForm, Option),
    FK_FIELD(TTestForm, OkBtn),    FK_FIELD(TTestForm, CancelBtn),
};
const formkit::TPublishedMethod kTestMethods[] = {
    FK_METHOD(TTestForm, FormCreate),
    FK_METHOD(TTestForm, FormShow),
    FK_METHOD(TTestForm, OkBtnClick),
    FK_METHOD(TTestForm, CancelBtnClick),
};
const formkit::TPublishedField kCloseFields[] = {FK_FIELD(TCloseForm, CloseBtn)};
const formkit::TPublishedMethod kCloseMethods[] = {
    FK_METHOD(TCloseForm, CloseBtnClick),
    FK_METHOD(TCloseForm, FormDestroy),
};
}  // namespace

FK_IMPLEMENT_PUBLISHED_CLASS(TTestForm, formkit::TForm, kTestFields, kTestMethods);
FK_IMPLEMENT_PUBLISHED_CLASS(TCloseForm, formkit::TForm, kCloseFields, kCloseMethods);
FK_IMPLEMENT_CLASS(TDefaultForm, formkit::TForm);
FK_IMPLEMENT_CLASS(TBadForm, formkit::TForm);

int TCloseForm::Destroyed = 0;

void TTestForm::FormCreate(TObject*) { ++CreateCalls; }
void TTestForm::FormShow(TObject*) { ++ShowCalls; }
void TTestForm::OkBtnClick(TObject* sender) {
  ++OkClicks;
  LastSender = sender;
  if (OnOk) OnOk();
}
void TTestForm::CancelBtnClick(TObject*) {}

void TCloseForm::CloseBtnClick(TObject*) { Close(); }
void TCloseForm::FormDestroy(TObject*) { ++Destroyed; }

void StartToolkit() {
  formkit::StartSysUtils();
  formkit::StartStdCtrls();
  formkit::StartForms();
  formkit::StartExtCtrls();
  formkit::Application->Initialize();
}

void FinishToolkit() {
  formkit::FinishForms();
  formkit::FinishSysUtils();
}

}  // namespace fktest
