// Native stand-ins for the Win32 part of the component library: no
// resources, and a Windows-1252 decoder in place of the system's code page.
#include "Classes.h"

namespace formkit {

// Native builds have no resources; only memory streams are read there.
TReader::TReader(const std::string& resourceName) {
  throw EClassesError("Form resource " + resourceName + " not found");
}

namespace {

// Windows-1252 bytes 80..9F; 0 marks the bytes the code page leaves unassigned.
const std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char CodePointToCp1252(std::uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string TReader::Utf8ToAnsi(const char* text, std::int32_t length) {
  std::string out;
  const auto* p = reinterpret_cast<const std::uint8_t*>(text);
  std::int32_t i = 0;
  while (i < length) {
    std::uint8_t lead = p[i];
    int extra;
    std::uint32_t cp;
    if (lead < 0x80) {
      extra = 0;
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07u;
    } else {
      out += '?';
      ++i;
      continue;
    }
    int taken = 1;
    bool valid = true;
    for (; taken <= extra; ++taken) {
      if (i + taken >= length || (p[i + taken] & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (p[i + taken] & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if (valid && ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                  (cp >= 0xD800 && cp <= 0xDFFF)))
      valid = false;
    out += valid ? CodePointToCp1252(cp) : '?';
    i += valid ? extra + 1 : taken;
  }
  return out;
}

}  // namespace formkit
