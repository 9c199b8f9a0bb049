// Signed update sets: hashing and signature checks with Windows' own bcrypt.
// bcrypt.dll is loaded at run time from the system folder (never by bare
// name: the run makes the Download folder current), so a program that never
// verifies neither imports nor loads it.
#include "UpdateSign_win.h"

#include <memory>

#include "ScopedWin.h"

namespace {

namespace dyn = formkit::dyn;

constexpr NTSTATUS kSuccess = 0;
constexpr DWORD kReadBlock = 65536;

// bcrypt is usable when every function the checks need was found.
bool HaveBcrypt() {
  return dyn::BCryptOpenAlgorithmProvider() && dyn::BCryptCloseAlgorithmProvider() && dyn::BCryptCreateHash() &&
         dyn::BCryptHashData() && dyn::BCryptFinishHash() && dyn::BCryptDestroyHash() &&
         dyn::BCryptImportKeyPair() && dyn::BCryptVerifySignature() && dyn::BCryptDestroyKey();
}

formkit::TScopedBcryptAlgorithm OpenAlgorithm(LPCWSTR name) {
  formkit::TScopedBcryptAlgorithm algorithm;
  if (dyn::BCryptOpenAlgorithmProvider()(algorithm.Out(), name, nullptr, 0) != kSuccess) algorithm.Detach();
  return algorithm;
}

// A running SHA-256.
class TSha256 {
 public:
  TSha256() : algorithm_(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
    if (algorithm_ && dyn::BCryptCreateHash()(algorithm_.Get(), hash_.Out(), nullptr, 0, nullptr, 0, 0) != kSuccess)
      hash_.Detach();
  }
  bool Add(const void* data, ULONG size) {
    return hash_ && dyn::BCryptHashData()(hash_.Get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0) == kSuccess;
  }
  bool Finish(std::string& digest) {
    unsigned char out[kSha256Bytes];
    if (!hash_ || dyn::BCryptFinishHash()(hash_.Get(), out, sizeof out, 0) != kSuccess) return false;
    digest.assign(reinterpret_cast<char*>(out), sizeof out);
    return true;
  }

 private:
  formkit::TScopedBcryptAlgorithm algorithm_;  // outlives the hash
  formkit::TScopedBcryptHash hash_;
};

}  // namespace

bool Sha256OfBytes(const std::string& data, std::string& digest) {
  if (!HaveBcrypt() || data.size() > static_cast<std::size_t>(MAXLONG)) return false;
  TSha256 hash;
  return hash.Add(data.data(), static_cast<ULONG>(data.size())) && hash.Finish(digest);
}

bool Sha256OfHandle(HANDLE file, std::string& digest) {
  if (!HaveBcrypt()) return false;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  TSha256 hash;
  std::unique_ptr<char[]> buffer(new char[kReadBlock]);
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(file, buffer.get(), kReadBlock, &count, nullptr)) return false;
    if (count == 0) break;
    if (!hash.Add(buffer.get(), count)) return false;
  }
  return hash.Finish(digest);
}

bool Sha256OfFile(const std::string& path, std::string& digest) {
  formkit::TScopedFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return file && Sha256OfHandle(file.Get(), digest);
}

bool VerifyP256Sha256(const std::string& keyBlob, const std::string& data, const std::string& rawSignature) {
  if (!HaveBcrypt() || rawSignature.size() != 2 * kP256FieldBytes) return false;
  std::string digest;
  if (!Sha256OfBytes(data, digest)) return false;
  const formkit::TScopedBcryptAlgorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa) return false;
  std::string blob = keyBlob;  // bcrypt takes non-const buffers
  std::string signature = rawSignature;
  formkit::TScopedBcryptKey key;
  if (dyn::BCryptImportKeyPair()(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Out(),
                                 reinterpret_cast<PUCHAR>(&blob[0]), static_cast<ULONG>(blob.size()), 0) != kSuccess)
    key.Detach();
  return key &&
         dyn::BCryptVerifySignature()(key.Get(), nullptr, reinterpret_cast<PUCHAR>(&digest[0]),
                              static_cast<ULONG>(digest.size()), reinterpret_cast<PUCHAR>(&signature[0]),
                              static_cast<ULONG>(signature.size()), 0) == kSuccess;
}

bool ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& data) {
  data.clear();
  formkit::TScopedFile file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > maxBytes)
    return false;
  data.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD count = 0;
    if (!ReadFile(file.Get(), &data[done], static_cast<DWORD>(data.size() - done), &count, nullptr) || count == 0)
      return false;
    done += count;
  }
  return true;
}

bool WriteSmallFile(const std::string& path, const std::string& data) {
  const std::string temp = path + "~";
  {
    formkit::TScopedFile file(
        CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD count = 0;
    if (!file || !WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &count, nullptr) ||
        count != data.size())
      return false;
  }
  return MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
