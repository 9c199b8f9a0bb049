// Reads one untrusted stream into a test form and frees what was built.
// Shared by the fuzz target and the regression test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace readertest {
// Returns true when the stream was read completely; otherwise error gets the
// message of the reader's error.
bool ReadUntrustedStream(const std::uint8_t* data, std::size_t size, std::string* error = nullptr);
}
