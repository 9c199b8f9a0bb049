// The language table and the dialog's localised texts, free of Win32 so they
// build natively for the sanitizer tests.
#pragma once

#include <cstdint>
#include <string>

#include "SysUtils.h"

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
