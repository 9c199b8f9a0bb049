// Signed update sets: the pure part. Turns the publisher's signature and
// public key into the forms bcrypt takes, and reads update.ini from the very
// bytes that were verified. Free of Win32; builds natively and is fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Byte lengths of P-256 values.
constexpr std::size_t kP256FieldBytes = 32;
constexpr std::size_t kSha256Bytes = 32;
// update.ini is a few lines, its signature a DER value of at most 72 bytes:
// their downloads stop as soon as they pass these bounds, before anything
// larger is read or kept.
constexpr std::size_t kMaxDescriptionBytes = 64 << 10;
constexpr std::size_t kMaxSignatureBytes = 256;

// "0a1B" -> bytes; false for an odd length or a non-hex character.
bool HexToBytes(const std::string& hex, std::string& bytes);
// Lower-case hex.
std::string BytesToHex(const std::string& bytes);

// The DER form of an ECDSA signature (SEQUENCE of the INTEGERs r and s, as
// "openssl dgst -sign" writes it) as r||s, each left-padded to 32 bytes, which
// is what BCryptVerifySignature takes. False for anything not strict DER or
// with a value that does not fit 32 bytes. A high s (n - s of a valid one) is
// left to verify as it does: it signs the same bytes, so nothing rests on
// the signature's exact form.
bool EcdsaDerToRaw(const std::string& der, std::string& raw);

// A P-256 public key as a BCRYPT_ECCPUBLIC_BLOB (magic "ECS1", key length 32,
// X, Y). Accepts a PEM "PUBLIC KEY" (SubjectPublicKeyInfo), its DER, or the
// raw point: 65 bytes 04||X||Y or 64 bytes X||Y, either as bytes or as hex
// text. Compressed points and other curves are refused.
bool P256PublicKeyBlob(const std::string& key, std::string& blob);

// update.ini read from memory the way the Windows profile reader reads it:
// sections and keys compared without regard to ASCII case, blanks around
// names and values dropped, ';' lines ignored, one pair of enclosing quotes
// removed from a value, values cut to 2047 characters, first match wins.
// tools/publish verify reads it by the same rules.
class TIniText {
 public:
  TIniText() = default;
  explicit TIniText(const std::string& text);
  // False when a line is none of blank, ';' comment, "[name]" or "key=value"
  // inside a section, or a section or a key in one section comes twice (in
  // any case): where a reader that takes the last match would see another
  // file, a signed description is refused.
  bool Valid() const { return valid_; }
  // False when the section has no such key.
  bool Find(const std::string& section, const std::string& key, std::string& value) const;
  std::string Get(const std::string& section, const std::string& key, const std::string& fallback) const;

 private:
  struct TEntry {
    std::string Section, Key, Value;
  };
  std::vector<TEntry> entries_;
  bool valid_ = true;
};

// Decimal digits only, 1 to maxDigits (at most 19) of them: no sign, blank or
// other base. The one reading of the numbers of a signed description.
bool PlainDecimal(const std::string& text, std::size_t maxDigits, std::uint64_t& value);

// [Release] Serial: decimal digits only, up to 2^32-1. A description without
// one has serial 0; a present but malformed one makes it invalid (false).
bool ReleaseSerial(const TIniText& ini, std::uint32_t& serial);

// [Release] Expires, the last day (UTC) the set is taken, "YYYY-MM-DD", as
// the number YYYYMMDD. A description without one has 0 (never expires); a
// present but malformed one makes it invalid (false).
bool ReleaseExpiry(const TIniText& ini, std::uint32_t& day);

// [FileSize] of a file name: plain decimal digits, up to kMaxFileSizeDigits;
// false when missing or written otherwise ("$1F4", "+500"). A signed set's
// file must have exactly this size.
constexpr std::size_t kMaxFileSizeDigits = 18;
bool StatedFileSize(const TIniText& ini, const std::string& name, std::uint64_t& size);

// A set is taken up to and on its Expires day and refused from the next one
// on; both days as YYYYMMDD (UTC), and an Expires of 0 never comes.
bool ReleaseExpired(std::uint32_t expires, std::uint32_t today);

// [Sha256] entry of a file name as 32 bytes; false when it is missing or not
// 64 hex digits.
bool ExpectedSha256(const TIniText& ini, const std::string& name, std::string& digest);
