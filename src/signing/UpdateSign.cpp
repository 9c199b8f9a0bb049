#include "UpdateSign.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsIniBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimIni(const std::string& s) {
  std::size_t first = 0, last = s.size();
  while (first < last && IsIniBlank(s[first])) ++first;
  while (last > first && IsIniBlank(s[last - 1])) --last;
  return s.substr(first, last - first);
}

bool SameAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// One DER element: tag, then a definite length (short form, or long form of
// one or two bytes with no leading zero), then the content.
// The high bit of a DER length byte marks the long form, whose low bits count
// the length bytes that follow; of a first content byte, a negative INTEGER.
constexpr unsigned char kDerHighBit = 0x80;
constexpr unsigned char kDerLengthCountMask = 0x7F;

struct TDerReader {
  const std::string& data;
  std::size_t pos;
  std::size_t end;

  bool Next(unsigned char tag, std::size_t& contentStart, std::size_t& contentLength) {
    if (pos + 2 > end || static_cast<unsigned char>(data[pos]) != tag) return false;
    std::size_t length = static_cast<unsigned char>(data[pos + 1]);
    std::size_t at = pos + 2;
    if (length & kDerHighBit) {
      const std::size_t count = length & kDerLengthCountMask;
      if (count == 0 || count > 2 || at + count > end || data[at] == 0) return false;
      length = 0;
      for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(data[at + i]);
      if (length < kDerHighBit) return false;  // not the shortest form
      at += count;
    }
    if (length > end - at) return false;
    contentStart = at;
    contentLength = length;
    pos = at + length;
    return true;
  }
};

constexpr unsigned char kDerSequence = 0x30;
constexpr unsigned char kDerInteger = 0x02;
constexpr unsigned char kDerBitString = 0x03;
constexpr unsigned char kDerOid = 0x06;
constexpr unsigned char kUncompressedPoint = 0x04;

// 1.2.840.10045.2.1 (id-ecPublicKey) and 1.2.840.10045.3.1.7 (prime256v1).
const char kOidEcPublicKey[] = "\x2A\x86\x48\xCE\x3D\x02\x01";
const char kOidP256[] = "\x2A\x86\x48\xCE\x3D\x03\x01\x07";

// A positive INTEGER in its shortest form, left-padded to 32 bytes.
bool ReadScalar(TDerReader& reader, std::string& out) {
  std::size_t start = 0, length = 0;
  if (!reader.Next(kDerInteger, start, length) || length == 0) return false;
  const std::string& d = reader.data;
  if (static_cast<unsigned char>(d[start]) & kDerHighBit) return false;  // negative
  if (d[start] == 0 && length > 1) {
    if (!(static_cast<unsigned char>(d[start + 1]) & kDerHighBit)) return false;  // needless leading zero
    ++start;
    --length;
  }
  if (length > kP256FieldBytes) return false;
  out.append(kP256FieldBytes - length, '\0');
  out.append(d, start, length);
  return true;
}

bool Base64Decode(const std::string& text, std::string& out) {
  out.clear();
  std::uint32_t bits = 0;
  int count = 0;
  std::size_t padding = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=') { ++padding; continue; }
    else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    else return false;
    if (padding != 0) return false;  // data after '='
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return false;
  if (count == 2) out += static_cast<char>(bits >> 4);
  if (count == 3) {
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  return true;
}

// The 65-byte point of a DER SubjectPublicKeyInfo for P-256.
bool PointFromSpki(const std::string& der, std::string& point) {
  TDerReader outer{der, 0, der.size()};
  std::size_t start = 0, length = 0;
  if (!outer.Next(kDerSequence, start, length) || outer.pos != der.size()) return false;
  TDerReader spki{der, start, start + length};
  std::size_t algStart = 0, algLength = 0;
  if (!spki.Next(kDerSequence, algStart, algLength)) return false;
  TDerReader alg{der, algStart, algStart + algLength};
  std::size_t s = 0, n = 0;
  if (!alg.Next(kDerOid, s, n) || der.compare(s, n, kOidEcPublicKey, sizeof kOidEcPublicKey - 1) != 0) return false;
  if (!alg.Next(kDerOid, s, n) || der.compare(s, n, kOidP256, sizeof kOidP256 - 1) != 0) return false;
  if (alg.pos != alg.end) return false;
  if (!spki.Next(kDerBitString, s, n) || spki.pos != spki.end) return false;
  if (n != 1 + 1 + 2 * kP256FieldBytes || der[s] != 0) return false;  // no unused bits
  point = der.substr(s + 1, n - 1);
  return true;
}

}  // namespace

bool HexToBytes(const std::string& hex, std::string& bytes) {
  bytes.clear();
  if (hex.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

std::string BytesToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

bool EcdsaDerToRaw(const std::string& der, std::string& raw) {
  raw.clear();
  if (der.size() > kMaxSignatureBytes) return false;
  TDerReader outer{der, 0, der.size()};
  std::size_t start = 0, length = 0;
  if (!outer.Next(kDerSequence, start, length) || outer.pos != der.size()) return false;
  TDerReader inner{der, start, start + length};
  if (!ReadScalar(inner, raw) || !ReadScalar(inner, raw) || inner.pos != inner.end) {
    raw.clear();
    return false;
  }
  return true;
}

bool P256PublicKeyBlob(const std::string& key, std::string& blob) {
  blob.clear();
  std::string point;
  static const char kBegin[] = "-----BEGIN PUBLIC KEY-----";
  static const char kEnd[] = "-----END PUBLIC KEY-----";
  const std::size_t begin = key.find(kBegin);
  std::string der, hexBytes;
  if (begin != std::string::npos) {
    const std::size_t body = begin + sizeof kBegin - 1;
    const std::size_t end = key.find(kEnd, body);
    if (end == std::string::npos || !Base64Decode(key.substr(body, end - body), der)) return false;
    if (!PointFromSpki(der, point)) return false;
  } else if (PointFromSpki(key, point)) {
  } else if (key.size() == 2 * kP256FieldBytes + 1 || key.size() == 2 * kP256FieldBytes) {
    point = key;
  } else if (HexToBytes(TrimIni(key.substr(0, key.find_last_not_of("\r\n") + 1)), hexBytes) &&
             (hexBytes.size() == 2 * kP256FieldBytes + 1 || hexBytes.size() == 2 * kP256FieldBytes)) {
    point = hexBytes;
  } else {
    return false;
  }
  if (point.size() == 2 * kP256FieldBytes + 1) {
    if (static_cast<unsigned char>(point[0]) != kUncompressedPoint) return false;
    point.erase(0, 1);
  }
  // BCRYPT_ECCPUBLIC_BLOB: ULONG magic BCRYPT_ECDSA_PUBLIC_P256_MAGIC, ULONG cbKey, then X and Y.
  static const char kHeader[] = {'E', 'C', 'S', '1', static_cast<char>(kP256FieldBytes), 0, 0, 0};
  blob.assign(kHeader, sizeof kHeader);
  blob += point;
  return true;
}

TIniText::TIniText(const std::string& text) {
  std::size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  std::string section;
  std::vector<std::string> sections;
  bool inSection = false;
  std::size_t sectionStart = 0;  // its first entry
  while (pos < text.size()) {
    std::size_t eol = text.find_first_of("\r\n", pos);
    if (eol == std::string::npos) eol = text.size();
    const std::string line = TrimIni(text.substr(pos, eol - pos));
    pos = eol + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      section = TrimIni(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      if (close != line.size() - 1 || section.empty()) valid_ = false;
      for (const std::string& seen : sections)
        if (SameAscii(seen, section)) valid_ = false;
      sections.push_back(section);
      sectionStart = entries_.size();
      inSection = true;
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? std::string() : TrimIni(line.substr(0, eq));
    if (!inSection || key.empty()) {
      valid_ = false;
      continue;
    }
    for (std::size_t i = sectionStart; i < entries_.size(); ++i)
      if (SameAscii(entries_[i].Key, key)) valid_ = false;
    std::string value = TrimIni(line.substr(eq + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
    if (value.size() > 2047) value.resize(2047);
    entries_.push_back({section, key, value});
  }
}

bool TIniText::Find(const std::string& section, const std::string& key, std::string& value) const {
  for (const TEntry& e : entries_) {
    if (SameAscii(e.Section, section) && SameAscii(e.Key, key)) {
      value = e.Value;
      return true;
    }
  }
  return false;
}

std::string TIniText::Get(const std::string& section, const std::string& key, const std::string& fallback) const {
  std::string value;
  return Find(section, key, value) ? value : fallback;
}

bool PlainDecimal(const std::string& text, std::size_t maxDigits, std::uint64_t& value) {
  value = 0;
  if (text.empty() || text.size() > maxDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

bool ReleaseSerial(const TIniText& ini, std::uint32_t& serial) {
  serial = 0;
  std::string text;
  if (!ini.Find("Release", "Serial", text)) return true;
  std::uint64_t value = 0;
  if (!PlainDecimal(text, 10, value) || value > UINT32_MAX) return false;
  serial = static_cast<std::uint32_t>(value);
  return true;
}

bool StatedFileSize(const TIniText& ini, const std::string& name, std::uint64_t& size) {
  std::string text;
  return ini.Find("FileSize", name, text) && PlainDecimal(text, kMaxFileSizeDigits, size);
}

bool ReleaseExpiry(const TIniText& ini, std::uint32_t& day) {
  day = 0;
  std::string text;
  if (!ini.Find("Release", "Expires", text)) return true;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  std::uint32_t value = 0;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  const std::uint32_t month = value / 100 % 100, dayOfMonth = value % 100;
  if (month < 1 || month > 12 || dayOfMonth < 1 || dayOfMonth > 31) return false;
  day = value;
  return true;
}

bool ReleaseExpired(std::uint32_t expires, std::uint32_t today) { return expires != 0 && today > expires; }

bool ExpectedSha256(const TIniText& ini, const std::string& name, std::string& digest) {
  std::string hex;
  return ini.Find("Sha256", name, hex) && hex.size() == 2 * kSha256Bytes && HexToBytes(hex, digest);
}
