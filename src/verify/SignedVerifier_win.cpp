// Signed update sets. Compiled only into a program built with a key.
#include "SysUtils.h"
#include "UpdateSign_win.h"
#include "Verifier_win.h"

namespace {

// The publisher's keys from the build, one or two; empty past the last.
std::string PublisherKey(unsigned which) {
  if (which >= kUpdatePublicKeyCount) return std::string();
  const unsigned start = which == 0 ? 0 : kUpdatePublicKeyEnds[which - 1];
  return std::string(reinterpret_cast<const char*>(kUpdatePublicKeyBytes) + start, kUpdatePublicKeyEnds[which] - start);
}

// The highest Serial a verified run has taken, kept beside the stored pair:
// once the key that signed that pair leaves the program, the pair no longer
// verifies, and this floor still holds. Only a verified run writes it, and
// no download can: the client names a file after the last part of its URL,
// and the run asks only for update.ini(.sig), update2.dll and UPDATE.NFO.
const char kFloorName[] = "release.floor";

std::uint32_t KeptFloor(const std::string& path) {
  std::string text;
  std::uint64_t value = 0;
  return ReadSmallFile(path, 10, text) && PlainDecimal(text, 10, value) && value <= UINT32_MAX
             ? static_cast<std::uint32_t>(value)
             : 0;
}

// Signed by any of the publisher's keys.
bool SignedByPublisher(const std::string& bytes, const std::string& signatureDer) {
  std::string signature, key;
  if (!EcdsaDerToRaw(signatureDer, signature)) return false;
  for (unsigned which = 0; which < kUpdatePublicKeyCount; ++which)
    if (P256PublicKeyBlob(PublisherKey(which), key) && VerifyP256Sha256(key, bytes, signature)) return true;
  return false;
}

// The description's signature, form and release, checked against the bytes
// it came in. Returns the refusal, or an empty text and its Serial.
std::string CheckDescription(const std::string& bytes, const std::string& signatureDer, std::uint32_t lastSerial,
                             const std::string& url, std::uint32_t& serial) {
  if (!SignedByPublisher(bytes, signatureDer)) return "Bad signature for " + url;
  const TIniText ini(bytes);
  if (!ini.Valid()) return "Unreadable lines in " + url;
  std::uint32_t expires = 0;
  if (!ReleaseSerial(ini, serial)) return "Bad Serial in " + url;
  if (!ReleaseExpiry(ini, expires)) return "Bad Expires in " + url;
  if (serial < lastSerial)
    return "Older release in " + url + " (Serial " + formkit::DecimalText(serial) + ", " +
           formkit::DecimalText(lastSerial) + " already here)";
  SYSTEMTIME now;
  GetSystemTime(&now);
  if (ReleaseExpired(expires, now.wYear * 10000u + now.wMonth * 100u + now.wDay))
    return "Expired release in " + url + " (Expires " + ini.Get("Release", "Expires", "") + ")";
  return std::string();
}

std::string HashOfFileIs(const std::string& path, const std::string& digest, const std::string& url) {
  std::string actual;
  return Sha256OfFile(path, actual) && actual == digest ? std::string() : "Bad checksum for " + url;
}

}  // namespace

TDownload TSignedVerifier::FetchDescription(TSetFiles& files, const std::string& url) {
  const std::string path = files.Dir() + "update.ini";
  // The release already here sets the floor only when its stored signature
  // verifies: an unsigned run may have left any Serial there.
  std::string stored, storedSignature;
  std::uint32_t lastSerial = 0;
  if (!ReadSmallFile(path, kMaxDescriptionBytes, stored) ||
      !ReadSmallFile(path + ".sig", kMaxSignatureBytes, storedSignature) ||
      !SignedByPublisher(stored, storedSignature) || !ReleaseSerial(TIniText(stored), lastSerial))
    lastSerial = 0;
  const std::string floorPath = files.Dir() + kFloorName;
  const std::uint32_t keptFloor = KeptFloor(floorPath);
  if (keptFloor > lastSerial) lastSerial = keptFloor;

  // Both are small and always fetched anew. The signature is held back until
  // the description it signs has been fetched and checked, so a pair that
  // fails never replaces the stored one.
  std::string verified, refusal;
  bool signatureFetched = false;
  const auto signatureCheck = [&](const std::string& signaturePath, std::uint64_t) {
    signatureFetched = true;
    std::string signature;
    ReadSmallFile(signaturePath, kMaxSignatureBytes, signature);
    const auto descriptionCheck = [&](const std::string& tempPath, std::uint64_t) {
      std::string fetched;
      ReadSmallFile(tempPath, kMaxDescriptionBytes, fetched);
      std::uint32_t serial = 0;
      refusal = CheckDescription(fetched, signature, lastSerial, url, serial);
      // The floor goes up before the pair is replaced.
      if (refusal.empty() && serial > keptFloor && !WriteSmallFile(floorPath, formkit::DecimalText(serial)))
        refusal = "Cannot write " + floorPath;
      if (refusal.empty()) verified = fetched;
      return refusal;
    };
    const TDownload got = files.Fetch(url, "update.ini", kMaxDescriptionBytes, descriptionCheck, true);
    if (!got.Ok() && refusal.empty()) refusal = got.ErrorText.empty() ? url : got.ErrorText;
    return refusal;
  };
  TDownload got = files.Fetch(url + ".sig", "update.ini.sig", kMaxSignatureBytes, signatureCheck, true);
  if (!signatureFetched) got.ErrorText = "Bad signature for " + url + " (no update.ini.sig: " + got.ErrorText + ")";
  if (!got.Ok()) return got;
  text_ = TIniText(verified);
  return DownloadSuccess(path, static_cast<std::int64_t>(verified.size()));
}

TDownload TSignedVerifier::AcceptFile(TSetFiles& files, const std::string& url, const std::string& name) {
  // Its size and its hash come from the signed description; both must hold.
  std::string digest;
  if (!ExpectedSha256(text_, name, digest))
    return DownloadFailure(TDownloadError::CheckRefused, "Bad checksum for " + url + " (no Sha256 entry)");
  std::uint64_t statedSize = 0;
  if (!StatedFileSize(text_, name, statedSize))
    return DownloadFailure(TDownloadError::CheckRefused, "Bad size for " + url + " (no FileSize in plain digits)");
  const auto asStated = [&](const std::string& copy, std::uint64_t size) {
    return size == statedSize ? HashOfFileIs(copy, digest, url) : "Bad size for " + url;
  };
  const std::string path = files.Dir() + name;
  // Same hash, same file: no request, whatever the date says. Otherwise
  // fetched anew, whatever the date says: a copy changed in place keeps it.
  const std::int64_t held = formkit::FileStamp(path).Size;
  if (held >= 0 && asStated(path, static_cast<std::uint64_t>(held)).empty()) return DownloadSuccess(path, held);
  return files.Fetch(url, name, statedSize, asStated, true);
}

std::string TSignedVerifier::CheckBeforeLoading(const std::string& library, const std::string& info,
                                                formkit::TScopedFile (&locks)[2]) const {
  const std::string hashedAgain[][2] = {{library, "update2.dll"}, {info, "UPDATE.NFO"}};
  for (int i = 0; i < 2; ++i) {
    const std::string& path = hashedAgain[i][0];
    locks[i].Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string digest, actual;
    if (!locks[i] || !ExpectedSha256(text_, hashedAgain[i][1], digest) || !Sha256OfHandle(locks[i].Get(), actual) ||
        actual != digest)
      return "Bad checksum for " + path;
  }
  return std::string();
}
