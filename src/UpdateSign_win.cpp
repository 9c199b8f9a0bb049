// Signed update sets: hashing and signature checks with Windows' own bcrypt.
// bcrypt.dll is loaded at run time from the system folder (never by bare
// name: the run makes the Download folder current), so a program that never
// verifies neither imports nor loads it.
#include "UpdateSign_win.h"

#include <bcrypt.h>

#include <memory>

#include "ScopedWin.h"

namespace {

using TOpenAlgorithm = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using TCloseAlgorithm = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using TCreateHash = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
using THashData = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using TFinishHash = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using TDestroyHash = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
using TImportKeyPair = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE*, PUCHAR,
                                         ULONG, ULONG);
using TVerifySignature = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
using TDestroyKey = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE);

constexpr NTSTATUS kSuccess = 0;
constexpr DWORD kReadBlock = 65536;

struct TBcrypt {
  bool Loaded = false;
  TOpenAlgorithm OpenAlgorithm = nullptr;
  TCloseAlgorithm CloseAlgorithm = nullptr;
  TCreateHash CreateHash = nullptr;
  THashData HashData = nullptr;
  TFinishHash FinishHash = nullptr;
  TDestroyHash DestroyHash = nullptr;
  TImportKeyPair ImportKeyPair = nullptr;
  TVerifySignature VerifySignature = nullptr;
  TDestroyKey DestroyKey = nullptr;
};

template <class F>
bool Resolve(HMODULE module, const char* name, F& f) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return f != nullptr;
}

// Loaded once and kept for the life of the process (the UI thread's).
TBcrypt gBcrypt;
bool gBcryptTried = false;

const TBcrypt* Bcrypt() {
  TBcrypt& api = gBcrypt;
  if (gBcryptTried) return api.Loaded ? &api : nullptr;
  gBcryptTried = true;
  char system[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  HMODULE module = LoadLibraryA((std::string(system, n) + "\\bcrypt.dll").c_str());
  if (module == nullptr) return nullptr;
  api.Loaded = Resolve(module, "BCryptOpenAlgorithmProvider", api.OpenAlgorithm) &&
               Resolve(module, "BCryptCloseAlgorithmProvider", api.CloseAlgorithm) &&
               Resolve(module, "BCryptCreateHash", api.CreateHash) && Resolve(module, "BCryptHashData", api.HashData) &&
               Resolve(module, "BCryptFinishHash", api.FinishHash) &&
               Resolve(module, "BCryptDestroyHash", api.DestroyHash) &&
               Resolve(module, "BCryptImportKeyPair", api.ImportKeyPair) &&
               Resolve(module, "BCryptVerifySignature", api.VerifySignature) &&
               Resolve(module, "BCryptDestroyKey", api.DestroyKey);
  return api.Loaded ? &api : nullptr;
}

class TAlgorithm {
 public:
  TAlgorithm(const TBcrypt& api, LPCWSTR name) : api_(api) {
    if (api_.OpenAlgorithm(&handle_, name, nullptr, 0) != kSuccess) handle_ = nullptr;
  }
  ~TAlgorithm() {
    if (handle_) api_.CloseAlgorithm(handle_, 0);
  }
  TAlgorithm(const TAlgorithm&) = delete;
  TAlgorithm& operator=(const TAlgorithm&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return handle_; }

 private:
  const TBcrypt& api_;
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// A running SHA-256; the hash object's memory is left to bcrypt.
class TSha256 {
 public:
  explicit TSha256(const TBcrypt& api) : api_(api), algorithm_(api, BCRYPT_SHA256_ALGORITHM) {
    if (algorithm_.Get() && api_.CreateHash(algorithm_.Get(), &hash_, nullptr, 0, nullptr, 0, 0) != kSuccess)
      hash_ = nullptr;
  }
  ~TSha256() {
    if (hash_) api_.DestroyHash(hash_);
  }
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;
  bool Add(const void* data, ULONG size) {
    return hash_ && api_.HashData(hash_, static_cast<PUCHAR>(const_cast<void*>(data)), size, 0) == kSuccess;
  }
  bool Finish(std::string& digest) {
    unsigned char out[kSha256Bytes];
    if (!hash_ || api_.FinishHash(hash_, out, sizeof out, 0) != kSuccess) return false;
    digest.assign(reinterpret_cast<char*>(out), sizeof out);
    return true;
  }

 private:
  const TBcrypt& api_;
  TAlgorithm algorithm_;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

class TPublicKey {
 public:
  TPublicKey(const TBcrypt& api, BCRYPT_ALG_HANDLE algorithm, std::string& blob) : api_(api) {
    if (api_.ImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key_, reinterpret_cast<PUCHAR>(&blob[0]),
                           static_cast<ULONG>(blob.size()), 0) != kSuccess)
      key_ = nullptr;
  }
  ~TPublicKey() {
    if (key_) api_.DestroyKey(key_);
  }
  TPublicKey(const TPublicKey&) = delete;
  TPublicKey& operator=(const TPublicKey&) = delete;
  BCRYPT_KEY_HANDLE Get() const { return key_; }

 private:
  const TBcrypt& api_;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

}  // namespace

bool Sha256OfBytes(const std::string& data, std::string& digest) {
  const TBcrypt* api = Bcrypt();
  if (api == nullptr || data.size() > static_cast<std::size_t>(MAXLONG)) return false;
  TSha256 hash(*api);
  return hash.Add(data.data(), static_cast<ULONG>(data.size())) && hash.Finish(digest);
}

bool Sha256OfHandle(HANDLE file, std::string& digest) {
  const TBcrypt* api = Bcrypt();
  if (api == nullptr) return false;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  TSha256 hash(*api);
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
  const TBcrypt* api = Bcrypt();
  if (api == nullptr || rawSignature.size() != 2 * kP256FieldBytes) return false;
  std::string digest;
  if (!Sha256OfBytes(data, digest)) return false;
  TAlgorithm ecdsa(*api, BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa.Get()) return false;
  std::string blob = keyBlob;  // bcrypt takes non-const buffers
  std::string signature = rawSignature;
  TPublicKey key(*api, ecdsa.Get(), blob);
  return key.Get() != nullptr &&
         api->VerifySignature(key.Get(), nullptr, reinterpret_cast<PUCHAR>(&digest[0]),
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
