// libFuzzer entry: the signature, public-key and update.ini readers and the
// library check on arbitrary bytes, as they would come from a hostile server.
#include <cstddef>
#include <cstdint>
#include <string>

#include "LibraryImage.h"
#include "UpdateSign.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxDescriptionBytes) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string out;
  if (EcdsaDerToRaw(input, out) && out.size() != 2 * kP256FieldBytes) __builtin_trap();
  if (P256PublicKeyBlob(input, out) && out.size() != 8 + 2 * kP256FieldBytes) __builtin_trap();
  if (HexToBytes(input, out) && BytesToHex(out).size() != input.size()) __builtin_trap();
  const TIniText ini(input);
  std::uint32_t serial = 0;
  ReleaseSerial(ini, serial);
  if (ExpectedSha256(ini, "update2.dll", out) && out.size() != kSha256Bytes) __builtin_trap();
  ini.Get("Adresses", "1", "");
  LibraryImageFault(input, size, kProgramMachine);
  return 0;
}
