// Unsigned update sets.
#include "LibraryImage.h"
#include "SysUtils.h"
#include "Verifier_win.h"

namespace {

// UPDATE.NFO of an unsigned set has no stated size; this is far above any.
constexpr std::uint64_t kMaxUnsignedNfoBytes = 64 << 20;

// The first bytes of a file, up to maxBytes; empty when it cannot be read.
std::string FileHead(const std::string& path, std::size_t maxBytes) {
  formkit::TScopedFile file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string head(maxBytes, '\0');
  DWORD count = 0;
  if (!file || !ReadFile(file.Get(), &head[0], static_cast<DWORD>(maxBytes), &count, nullptr)) count = 0;
  head.resize(count);
  return head;
}

}  // namespace

TDownload TPlainVerifier::FetchDescription(TSetFiles& files, const std::string& url) {
  path_ = files.Dir() + "update.ini";
  TDownload got = files.Fetch(url, "update.ini", kMaxDescriptionBytes, {}, false);
  // An empty description is none; its box has no detail.
  if (got.Ok() && got.Size == 0) got = DownloadFailure(TDownloadError::NotFound, std::string());
  return got;
}

std::string TPlainVerifier::Setting(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
  return formkit::ReadIniValue(path_, section, key, fallback);
}

TDownload TPlainVerifier::AcceptLibrary(TSetFiles& files, const std::string& url, const std::string& name) {
  const std::string path = files.Dir() + name;
  const std::int32_t expectedDate = formkit::TextToIntDef(Setting("FileDate", name, "0"), 0);
  const std::int64_t expectedSize = formkit::TextToIntDef(Setting("FileSize", name, "0"), 0);
  const formkit::TFileStamp local = formkit::FileStamp(path);
  if (local.Date != -1 && local.Date == expectedDate && local.Size == expectedSize)
    return DownloadSuccess(path, local.Size);
  const std::string badSize = "Bad size for " + url;
  std::string notLibrary;
  const auto copyCheck = [&](const std::string& tempPath, std::uint64_t size) {
    if (static_cast<std::int64_t>(size) != expectedSize) return badSize;
    notLibrary = LibraryImageFault(FileHead(tempPath, kLibraryHeadBytes), size, kProgramMachine);
    return notLibrary.empty() ? std::string() : "Bad library for " + url + " (" + notLibrary + ")";
  };
  TDownload got = files.Fetch(url, name, SizeBound(expectedSize), copyCheck, false);
  // A link that kept dropping and a disk that failed say so themselves.
  if (got.Size == expectedSize || got.Error == TDownloadError::Dropped || got.Error == TDownloadError::Local)
    return got;
  return DownloadFailure(TDownloadError::CheckRefused, notLibrary.empty() ? badSize : got.ErrorText);
}

TDownload TPlainVerifier::AcceptFile(TSetFiles& files, const std::string& url, const std::string& name) {
  TDownload got = files.Fetch(url, name, kMaxUnsignedNfoBytes, {}, false);
  // The reason when there is one; a file that is not there is named by its address.
  if (!got.Ok() && got.Error != TDownloadError::NotFound && !got.ErrorText.empty()) return got;
  if (got.Size == 0 || !got.Ok()) return DownloadFailure(TDownloadError::NotFound, url);
  return got;
}
