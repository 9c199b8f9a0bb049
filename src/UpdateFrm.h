// The update dialog's portable part: the language table and the small text
// rules of the run, free of Win32 so they build natively for the sanitizer
// tests. UpdateFrm_win.h has the dialog itself.
#pragma once

#include <cstdint>
#include <string>

#include "SysUtils.h"

// ---------------------------------------------------------------- language table

constexpr int kLanguageCount = 53;
constexpr int kEnglishIndex = 15;

struct TLanguageEntry {
  std::uint8_t PrimaryLanguage;  // compared with the low 10 bits of a locale id
  const char* Texts;             // "field/field/.../" or nullptr
};

// 1-based; entry 0 is unused. Read only.
extern const TLanguageEntry LanguageTable[kLanguageCount + 1];

// The code of entry index (1..53) as a ShortString inside the table's own
// writable storage of consecutive 3-byte ShortStrings, so its address can be
// handed to the installer library. Index 0 (no language) gives "EN".
formkit::ShortString* LanguageCode(int index);
std::string LanguageCodeText(int index);

// 0 when the code is not exactly two characters of a table entry.
int LanguageFromCode(const formkit::ShortString& code);
int LanguageFromCode(const std::string& code);

// The entry for a thread locale: the last entry with the locale's primary
// language, texts or not; 0 when none has it.
int LanguageForLocale(std::uint32_t localeId);

// Returns the text up to the next '/' and moves position past it. Stops at the
// end of the record when the '/' is missing, so a damaged record cannot
// run past its terminator.
std::string NextTextField(const char*& position);

// The nine fields of a record; the English record has only the last six.
struct TDialogTexts {
  bool HasCaptions = false;
  std::string PathCaption, OkCaption, CancelCaption;
  std::string LoadingText, UpdateCaption, ConnectErrorText, ReadOnlyErrorText;
  std::string DiskErrorText;  // heads a failure on the local disk, which is no connection error
  std::string AdminRightsText;  // below the read-only text for a user without them
};
// False for index 0, > 53 or an entry without texts (texts untouched).
bool ReadLanguageTexts(int index, TDialogTexts& texts);

// ---------------------------------------------------------------- update-run rules

// Built-in settings of the program (set from the build).
extern std::string UpdateBaseUrl;
// The publisher's P-256 public keys (PEM or raw) from the build setting
// UPDATE_PUBLIC_KEY, one or two; empty past the last. Without any, update
// sets are not signed, nothing is verified and the verifying code is left
// out of the program.
std::string UpdatePublicKey(unsigned which);
const formkit::ShortString& ClientCode();

// Key of the Adresses section: the fourth character of the client code, "A"
// for a shorter code.
std::string AdressesKey(const std::string& clientCode);
// The address UPDATE.NFO comes from: the client's value, else "A"'s, else the
// base URL; always ends in '/'.
std::string ChooseDownloadAddress(const std::string& clientValue, const std::string& fallbackValue,
                                  const std::string& baseUrl);
// The name a download returned when it is the file the run asked for (name
// in downloadDir, or the local path itself), else empty: the run never takes
// a file of another name for the one it wanted.
std::string AskedFileOnly(const std::string& got, const std::string& url, const std::string& downloadDir,
                          const std::string& name);
// The final connection message: the last character of the text becomes ':'
// (the text is changed in place), then "\r\r " and the detail.
std::string ConnectFailureText(std::string& connectErrorText, const std::string& detail);
// The progress line of a download: the name, the bytes received and, when the
// total is known (not -1), the total and the percentage, in digits only.
std::string ProgressText(const std::string& name, std::uint64_t received, std::int64_t total);
// The marker of an installation folder.
constexpr const char* kMarkerFile = "varnowin.ini";
// The candidates of the drive scan for one drive letter, in order.
std::string DriveCandidate(char letter, int which);  // which: 0..2

void StartUpdateFrm();
void FinishUpdateFrm();
