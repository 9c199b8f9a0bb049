// The update dialog: its published parts, the localised texts, and the
// handlers that start the update run (UpdateRun_win.cpp).
#include "UpdateFrm_win.h"

#include <exception>

#include "UpdateDiscovery_win.h"

namespace {

const char kFallbackFolder[] = "C:\\Program Files\\Varno3\\";

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

// The download client asks between blocks whether the dialog gave up.
bool DialogGaveUp() { return UpdateForm != nullptr && UpdateForm->Running && UpdateForm->Cancelled(); }

// The path label, emptied for the run, shows the file on its way; redrawn at
// most every kProgressMs, and always when a file is complete.
constexpr DWORD kProgressMs = 250;
std::string gProgressName;
DWORD gProgressShownAt = 0;

void ShowProgress(std::uint64_t received, std::int64_t total) {
  const DWORD now = GetTickCount();
  const bool complete = total >= 0 && received >= static_cast<std::uint64_t>(total);
  if (UpdateForm == nullptr || !UpdateForm->Running || (!complete && now - gProgressShownAt < kProgressMs)) return;
  gProgressShownAt = now;
  UpdateForm->PathLabel->SetCaption(ProgressText(gProgressName, received, total));
}

}  // namespace

void StartProgress(const std::string& name) {
  gProgressName = name;
  gProgressShownAt = GetTickCount() - kProgressMs;  // the first block shows at once
  if (UpdateForm != nullptr && UpdateForm->Running) UpdateForm->PathLabel->SetCaption(name);
}

TUpdateForm* UpdateForm = nullptr;

// ---------------------------------------------------------------- the dialog

namespace {
const formkit::TPublishedField kUpdateFormFields[] = {
    FK_FIELD(TUpdateForm, PathEdit),  FK_FIELD(TUpdateForm, PathLabel),   FK_FIELD(TUpdateForm, PathBtn),
    FK_FIELD(TUpdateForm, OkBtn),     FK_FIELD(TUpdateForm, CancelBtn),   FK_FIELD(TUpdateForm, Image1),
    FK_FIELD(TUpdateForm, StatusLabel), FK_FIELD(TUpdateForm, Label1),    FK_FIELD(TUpdateForm, ProxyEdit),
    FK_FIELD(TUpdateForm, ProxyBtn),
};
const formkit::TPublishedMethod kUpdateFormMethods[] = {
    FK_METHOD(TUpdateForm, FormShow),    FK_METHOD(TUpdateForm, CancelBtnClick), FK_METHOD(TUpdateForm, PathBtnClick),
    FK_METHOD(TUpdateForm, OkBtnClick),  FK_METHOD(TUpdateForm, ProxyBtnClick),
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
  Client.Agent = AgentNameOf(ProgramFile);
  TDocumentsFolder documents;
  const bool found = FindInstallFolder(ProgramFile, documents, InstallDir);

  LanguageIndex = LanguageForLocale(static_cast<std::uint32_t>(GetThreadLocale()));
  Client.ProxySetting = SystemProxySetting();

  if (found) {
    const std::string settings = UserSettingsPath(InstallDir);
    std::string code = ReadSetting(settings, "Prefs", "defLangue", std::string());
    if (code.size() > 255) code.resize(255);
    if (!ApplyLanguage(LanguageFromCode(code)) && !ApplyLanguage(LanguageIndex)) UseFallbackTexts();
    Client.ProxySetting = ReadSetting(settings, "Protect", "Proxy", Client.ProxySetting);
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
  ProxyEdit->SetText(Client.ProxySetting);
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
  // The run's flag and the client's hooks end with the run, however it ends.
  struct TRunning {
    TUpdateForm* form;
    ~TRunning() {
      form->Running = false;
      form->Client.Cancelled = nullptr;
      form->Client.Progress = nullptr;
      form->Client.Log = nullptr;  // the run's log ends with the run, an error on its way out too
    }
  } running{this};
  Running = true;
  Client.Cancelled = &DialogGaveUp;
  Client.Progress = &ShowProgress;
  // The guard posts the close when this is the outermost handler.
  if (RunUpdate()) CloseRequested = true;
}
