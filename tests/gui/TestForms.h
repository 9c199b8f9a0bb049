// Form classes of the GUI tests; their layouts are the .txt form files.
#pragma once

#include <functional>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace fktest {

class TTestForm : public formkit::TForm {
  FK_CLASS()
 public:
  void FormCreate(formkit::TObject* sender);
  void FormShow(formkit::TObject* sender);
  void OkBtnClick(formkit::TObject* sender);
  void CancelBtnClick(formkit::TObject* sender);

  formkit::TImage* Logo = nullptr;
  formkit::TLabel* TitleLabel = nullptr;
  formkit::TLabel* StatusLabel = nullptr;
  formkit::TEdit* PathEdit = nullptr;
  formkit::TEdit* ProxyEdit = nullptr;
  formkit::TCheckBox* Option = nullptr;
  formkit::TButton* OkBtn = nullptr;
  formkit::TButton* CancelBtn = nullptr;

  int CreateCalls = 0;
  int ShowCalls = 0;
  int OkClicks = 0;
  formkit::TObject* LastSender = nullptr;
  std::function<void()> OnOk;  // extra work of the next clicks
};

class TCloseForm : public formkit::TForm {
  FK_CLASS()
 public:
  void CloseBtnClick(formkit::TObject* sender);
  void FormDestroy(formkit::TObject* sender);

  formkit::TButton* CloseBtn = nullptr;
  static int Destroyed;
};

class TDefaultForm : public formkit::TForm {
  FK_CLASS()
};

class TBadForm : public formkit::TForm {
  FK_CLASS()
};

// StartSysUtils .. Initialize, in program order.
void StartToolkit();
void FinishToolkit();

}  // namespace fktest
