// How a run takes an update set: the description, the files it names, and a
// last check before the installer loads. The choice between plain and signed
// sets is made once, when the program is compiled (TVerifier), so the run
// reads the same for both and a build without a key has none of the
// verifying code.
#pragma once

#include <string>
#include <type_traits>

#include "ScopedWin.h"
#include "UpdateKey.h"
#include "UpdateSign.h"
#include "WinInetEasy_win.h"

// Where a set's files come from and go to: the run hands its own to the
// verifier. A file of another name than the one asked for counts as none.
class TSetFiles {
 public:
  virtual const std::string& Dir() const = 0;
  virtual TDownload Fetch(const std::string& url, const std::string& name, std::uint64_t maxBytes,
                          const TCopyCheck& check, bool fetchAnew) = 0;

 protected:
  ~TSetFiles() = default;
};

// The size update.ini states for a file bounds its download; without one
// nothing may arrive.
inline std::uint64_t SizeBound(std::int64_t statedSize) {
  return statedSize > 0 ? static_cast<std::uint64_t>(statedSize) : 0;
}

// Unsigned sets: update.ini through the profile reader; the library is
// current by the date and size it gives.
class TPlainVerifier {
 public:
  static constexpr bool kSigned = false;
  static constexpr const char* kKind = "unsigned set";
  TDownload FetchDescription(TSetFiles& files, const std::string& url);
  std::string Setting(const std::string& section, const std::string& key, const std::string& fallback) const;
  // A copy of another size, or no DLL for this processor, never replaces the
  // one in place.
  TDownload AcceptLibrary(TSetFiles& files, const std::string& url, const std::string& name);
  TDownload AcceptFile(TSetFiles& files, const std::string& url, const std::string& name);
  // Nothing is checked again; no file is locked. Empty: no refusal.
  std::string CheckBeforeLoading(const std::string&, const std::string&, formkit::TScopedFile (&)[2]) const {
    return std::string();
  }

 private:
  std::string path_;
};

// Signed sets: update.ini.sig and update.ini are checked together; every
// file is taken by the SHA-256 the verified description gives.
class TSignedVerifier {
 public:
  // Every file is checked once more before the installer loads.
  static constexpr bool kSigned = true;
  static constexpr const char* kKind = "signed set, signature checked";
  TDownload FetchDescription(TSetFiles& files, const std::string& url);
  // From the very bytes whose signature was checked.
  std::string Setting(const std::string& section, const std::string& key, const std::string& fallback) const {
    return text_.Get(section, key, fallback);
  }
  TDownload AcceptLibrary(TSetFiles& files, const std::string& url, const std::string& name) {
    return AcceptFile(files, url, name);
  }
  // A local copy with the stated hash is kept without a request.
  TDownload AcceptFile(TSetFiles& files, const std::string& url, const std::string& name);
  // The library and UPDATE.NFO hashed once more through handles that keep
  // writers out until the owner releases them. Returns the refusal.
  std::string CheckBeforeLoading(const std::string& library, const std::string& info,
                                 formkit::TScopedFile (&locks)[2]) const;

 private:
  TIniText text_;
};

using TVerifier = std::conditional_t<kUpdatePublicKeySize != 0, TSignedVerifier, TPlainVerifier>;
