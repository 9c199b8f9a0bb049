#include "LibraryImage.h"

namespace {

constexpr std::uint16_t kFileDll = 0x2000;
constexpr std::uint16_t kMagicPe32 = 0x10B, kMagicPe32Plus = 0x20B;
constexpr std::size_t kFileHeaderBytes = 20, kSectionBytes = 40;

// Little-endian reads; the caller keeps them inside the text.
std::uint32_t Le(const std::string& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

std::string LibraryImageFault(const std::string& head, std::uint64_t fileSize, std::uint16_t machine) {
  if (fileSize == 0) return "empty file";
  if (head.size() < 64 || head.compare(0, 2, "MZ") != 0) return "no MZ header";
  const std::uint64_t pe = Le(head, 0x3C, 4);
  if (pe + 4 + kFileHeaderBytes > head.size() || head.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
    return "no PE header";
  const std::size_t file = static_cast<std::size_t>(pe) + 4;
  if (Le(head, file, 2) != machine) return "built for another processor";
  if ((Le(head, file + 18, 2) & kFileDll) == 0) return "not a DLL";
  const std::size_t optional = file + kFileHeaderBytes, optionalSize = Le(head, file + 16, 2);
  if (optionalSize < 2 || optional + 2 > head.size() ||
      Le(head, optional, 2) != (machine == kMachineAmd64 ? kMagicPe32Plus : kMagicPe32))
    return "no optional header for its processor";
  const std::size_t sections = optional + optionalSize, count = Le(head, file + 2, 2);
  if (count == 0 || sections + count * kSectionBytes > head.size()) return "no section table";
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t section = sections + i * kSectionBytes;
    const std::uint64_t rawSize = Le(head, section + 16, 4), rawStart = Le(head, section + 20, 4);
    if (rawSize != 0 && rawStart + rawSize > fileSize) return "truncated";
  }
  return std::string();
}
