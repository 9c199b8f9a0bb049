// Reads one untrusted stream into a test form and frees what was built.
// Shared by the fuzz target and the regression test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace readertest {
// Returns true when the stream was read completely.
bool ReadUntrustedStream(const std::uint8_t* data, std::size_t size);
}
