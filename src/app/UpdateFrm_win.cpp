#include "UpdateFrm_win.h"

#include <exception>

#include "RunRules.h"
#include "UpdateDiscovery_win.h"
#include "UpdateRun_win.h"

namespace {

const char kFallbackFolder[] = "C:\\Program Files\\Varno3\\";

// The toolkit's window handle as a Win32 one.
template <class H>
HWND AsWindow(H handle) {
  return (HWND)(handle);
}

// Marks a handler of the dialog as running. When the outermost one ends and a
// close was asked for meanwhile, the close is posted to the loop.
class TBusyGuard {
 public:
  explicit TBusyGuard(TUpdateForm* form) : form_(form) { ++form_->BusyDepth; }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;
  ~TBusyGuard() {
    // Without a window there is nothing left to close; an error on its way
    // out ends the program instead.
    if (--form_->BusyDepth == 0 && form_->CloseRequested && form_->Handle != nullptr && !std::uncaught_exceptions())
      PostMessageA(AsWindow(form_->Handle), kDeferredCloseMessage, 0, 0);
  }

 private:
  TUpdateForm* form_;
};

// The dialog as the run sees it.
class TDialogView final : public TRunView {
 public:
  explicit TDialogView(TUpdateForm& form) : form_(form) {}
  void ShowRunning() override {
    form_.PathEdit->Hide();
    form_.PathBtn->Hide();
    form_.ProxyBtn->Hide();
    form_.ProxyEdit->Hide();
    form_.PathLabel->SetCaption(std::string());
    form_.OkBtn->Hide();
    form_.StatusLabel->SetCaption(form_.LoadingText);
    // The progress line takes the label's row up to the right edge.
    RECT area = {};
    GetClientRect(AsWindow(form_.Handle), &area);
    form_.PathLabel->Width = area.right - form_.PathLabel->Left;
    form_.Reshow();
    // Only Cancel is left: Enter and Space reach it too.
    if (!form_.Cancelled()) form_.CancelBtn->SetFocus();
  }

  void ShowProgress(const std::string& line) override { form_.PathLabel->SetCaption(line); }

  bool AcceptFolderWithoutMarker(const std::string& folder) override {
    const std::string question = form_.PathLabel->GetCaption() + "\r\r " + folder;
    return formkit::ShowMessageBox(AsWindow(form_.Handle), question, form_.Caption.c_str(),
                                   MB_YESNOCANCEL | MB_ICONQUESTION) == IDYES;
  }

  void HideForInstaller() override { form_.Hide(); }
  bool Cancelled() const override { return form_.Cancelled(); }

 private:
  TUpdateForm& form_;
};

}  // namespace

TUpdateForm* UpdateForm = nullptr;

// ---------------------------------------------------------------- the dialog

namespace {
const formkit::TPublishedField kUpdateFormFields[] = {
    FK_FIELD(TUpdateForm, PathEdit),    FK_FIELD(TUpdateForm, PathLabel), FK_FIELD(TUpdateForm, PathBtn),
    FK_FIELD(TUpdateForm, OkBtn),       FK_FIELD(TUpdateForm, CancelBtn), FK_FIELD(TUpdateForm, Image1),
    FK_FIELD(TUpdateForm, StatusLabel), FK_FIELD(TUpdateForm, Label1),    FK_FIELD(TUpdateForm, ProxyEdit),
    FK_FIELD(TUpdateForm, ProxyBtn),
};
const formkit::TPublishedMethod kUpdateFormMethods[] = {
    FK_METHOD(TUpdateForm, FormShow),   FK_METHOD(TUpdateForm, CancelBtnClick), FK_METHOD(TUpdateForm, PathBtnClick),
    FK_METHOD(TUpdateForm, OkBtnClick), FK_METHOD(TUpdateForm, ProxyBtnClick),
};
}  // namespace

FK_IMPLEMENT_PUBLISHED_CLASS(TUpdateForm, formkit::TForm, kUpdateFormFields, kUpdateFormMethods);

TUpdateForm::~TUpdateForm() {
  if (UpdateForm == this) UpdateForm = nullptr;
}

bool TUpdateForm::ApplyLanguage(int index) {
  TDialogTexts texts;
  if (!ReadLanguageTexts(index, texts)) return false;
  LanguageIndex = index;
  if (texts.HasCaptions) {
    PathLabel->SetCaption(texts.PathCaption);
    OkBtn->SetCaption(texts.OkCaption);
    CancelBtn->SetCaption(texts.CancelCaption);
  }
  TakeMessages(texts);
  return true;
}

void TUpdateForm::TakeMessages(const TDialogTexts& texts) {
  LoadingText = texts.LoadingText;
  UpdateCaption = texts.UpdateCaption;
  ConnectErrorText = texts.ConnectErrorText;
  ReadOnlyErrorText = texts.ReadOnlyErrorText;
  DiskErrorText = texts.DiskErrorText;
  AdminRightsText = texts.AdminRightsText;
}

// Without a language of its own the dialog still needs its messages and an
// Install caption: the English texts stand in, the stored captions stay.
void TUpdateForm::UseFallbackTexts() {
  TDialogTexts texts;
  ReadLanguageTexts(kEnglishIndex, texts);
  TakeMessages(texts);
}

void TUpdateForm::PrepareDialog() {
  StatusLabel->SetCaption(std::string());
  Label1->SetCaption(kDialogTitle);
  SetCaption(kDialogTitle);
  OkBtn->SetFocus();
  Reshow();
  formkit::Application->ProcessMessages();
}

void TUpdateForm::FormShow(formkit::TObject*) {
  TBusyGuard busy(this);
  StatusLabel->Live = true;  // a screen reader reads out what the run is doing
  ProgramFile = formkit::ProgramPath();
  TDocumentsFolder documents;
  const bool found = FindInstallFolder(ProgramFile, documents, InstallDir);

  LanguageIndex = LanguageForLocale(static_cast<std::uint32_t>(GetThreadLocale()));
  ProxySetting = SystemProxySetting();

  if (found) {
    const std::string settings = UserSettingsPath(InstallDir);
    std::string code = formkit::ReadIniValue(settings, "Prefs", "defLangue", std::string());
    if (code.size() > 255) code.resize(255);
    if (!ApplyLanguage(LanguageFromCode(code)) && !ApplyLanguage(LanguageIndex)) UseFallbackTexts();
    ProxySetting = formkit::ReadIniValue(settings, "Protect", "Proxy", ProxySetting);
    OkBtn->SetCaption(UpdateCaption);
  } else {
    // The fixed folder only where no documents folder is found (before Vista):
    // no test reaches it.
    InstallDir = documents.Get().empty() ? std::string(kFallbackFolder) : documents.Get();
    if (!ApplyLanguage(LanguageIndex)) UseFallbackTexts();
  }
  // Ahead of the redraw, which then shows them: set after it, they cost the
  // dialog a second repaint before it is ready.
  PathEdit->SetText(InstallDir);
  ProxyEdit->SetText(ProxySetting);
  ProxyEdit->Hide();
  PrepareDialog();
}

void TUpdateForm::PathBtnClick(formkit::TObject*) {
  TBusyGuard busy(this);
  std::string folder = formkit::TrimBlanks(PathEdit->GetText());
  if (!formkit::SelectDirectory(AsWindow(Handle), PathLabel->GetCaption(), folder)) return;
  if (!IsInstallFolder(folder)) return;
  InstallDir = folder;
  PathEdit->SetText(folder);
  PrepareDialog();
}

void TUpdateForm::ProxyBtnClick(formkit::TObject*) {
  ProxyBtn->Hide();
  StatusLabel->SetCaption("Proxy:         (adress:port)");
  ProxyEdit->Show();
}

bool TUpdateForm::Cancelled() const {
  if (CloseRequested) return true;
  if (formkit::Application != nullptr && formkit::Application->Terminated) return true;
  return Handle != 0 && !IsWindow(AsWindow(Handle));
}

void TUpdateForm::CancelBtnClick(formkit::TObject*) { RequestClose(); }

void TUpdateForm::RequestClose() {
  if (BusyDepth > 0) {
    CloseRequested = true;  // a running update stops at its next step
    return;
  }
  Close();
}

void TUpdateForm::Dispatch(formkit::TMessage& message) {
  // A handler that started after the close was posted ends with its own post.
  if (message.Msg == kDeferredCloseMessage) {
    if (BusyDepth == 0) Close();
    return;
  }
  formkit::TForm::Dispatch(message);
}

void TUpdateForm::OkBtnClick(formkit::TObject*) {
  if (Running) return;
  TBusyGuard busy(this);
  Running = true;
  TRunInputs inputs;
  inputs.InstallDir = formkit::FullPathOf(formkit::TrimBlanks(PathEdit->GetText()));
  inputs.ProxySetting = formkit::TrimBlanks(ProxyEdit->GetText());
  inputs.ProgramFile = ProgramFile;
  inputs.LanguageIndex = LanguageIndex;
  TRunEnd end;
  {
    // The run, its client and its log end here, an error on its way out too.
    TDialogView view(*this);
    TUpdateRun run(view, std::move(inputs));
    struct TRunning {
      bool& flag;
      ~TRunning() { flag = false; }
    } running{Running};
    end = run.Execute();
    InstallDir = run.InstallDir();
    ShowRunEnd(end, run.LogPath());
  }
  // The guard posts the close when this is the outermost handler.
  if (end.CloseDialog) CloseRequested = true;
}

void TUpdateForm::ShowRunEnd(const TRunEnd& end, const std::string& logPath) {
  using formkit::ErrorBox;
  // Every box names the log, so the user can send it to support.
  const std::string logLine = logPath.empty() ? std::string() : "\r\rLog: " + logPath;
  switch (end.Failure) {
    case TRunFailure::None:
    case TRunFailure::Cancelled:
      break;
    case TRunFailure::ReadOnly:
      ErrorBox(end.Detail, end.Attributes);
      ErrorBox(InstallDir + "\r\r" + ReadOnlyErrorText + (Elevated() ? "" : "\r\r" + AdminRightsText) + logLine, -1);
      break;
    case TRunFailure::NoDescription:  // an empty description has no reason to give
      ErrorBox((end.Detail.empty() ? ConnectErrorText : ConnectFailureText(ConnectErrorText, end.Detail)) + logLine,
               -1);
      break;
    case TRunFailure::Download:
      ErrorBox(ConnectFailureText(ConnectErrorText, end.Detail) + logLine, -1);
      break;
    case TRunFailure::Local:
      ErrorBox(ConnectFailureText(DiskErrorText, end.Detail) + logLine, -1);
      break;
    case TRunFailure::NoInstaller:
      ErrorBox("update2.dll" + logLine, -1);
      break;
  }
}
