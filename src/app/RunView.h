// Between the update run and its dialog: how a run ends, and all the run
// may touch of the dialog.
#pragma once

#include <cstdint>
#include <string>

// How a run ends short of the installer; the dialog shows it in one place
// (TUpdateForm::ShowRunEnd).
enum class TRunFailure : std::uint8_t {
  None,           // handed over, or the dialog stays for another try
  Cancelled,      // the dialog gave up: nothing to show
  ReadOnly,       // a folder cannot take files
  NoDescription,  // update.ini of an unsigned set did not come
  Download,       // a file did not come or was refused, for the reason in Detail
  Local,          // a file or folder could not be made on the local disk, for the reason in Detail
  NoInstaller,    // update2.dll cannot be loaded or has no MakeUpdate
};

struct TRunEnd {
  TRunFailure Failure = TRunFailure::None;
  std::string Detail;            // the reason; ReadOnly: the folder
  std::int32_t Attributes = -1;  // ReadOnly: the folder's attributes
  bool CloseDialog = true;
};

class TRunView {
 public:
  // The folder and proxy fields give way to the status and progress lines;
  // only Cancel is left.
  virtual void ShowRunning() = 0;
  // The progress line: a file starting on its way, then how far it got.
  virtual void ShowProgress(const std::string& line) = 0;
  // The folder has no marker file: true when the user wants it anyway.
  virtual bool AcceptFolderWithoutMarker(const std::string& folder) = 0;
  // Cancel was pressed, or the window or the message loop is gone.
  virtual bool Cancelled() const = 0;
  // Out of sight before the installer takes over.
  virtual void HideForInstaller() = 0;

 protected:
  ~TRunView() = default;
};
