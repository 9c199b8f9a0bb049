// Whether a file's bytes are a Windows DLL for a given processor. Free of
// Win32: it builds natively for the sanitizer tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
// The processor this program is built for.
constexpr std::uint16_t kProgramMachine = sizeof(void*) == 8 ? kMachineAmd64 : kMachineI386;
// How much of a file LibraryImageFault needs at most.
constexpr std::size_t kLibraryHeadBytes = 65536;

// head: the first bytes of a file of fileSize bytes (up to kLibraryHeadBytes).
// Empty when it is a DLL for machine: MZ and PE headers, the DLL flag, the
// optional header of that processor, the section table in head and every
// section's data inside the file. Otherwise the reason it is not.
std::string LibraryImageFault(const std::string& head, std::uint64_t fileSize, std::uint16_t machine);
