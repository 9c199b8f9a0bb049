// Plain words for the Windows and WinInet errors a download meets, so a
// failure names its real cause. Free of Win32: the codes are plain numbers.
#pragma once

#include <cstdint>
#include <string>

enum class TCauseSide : std::uint8_t {
  Network,  // the server or the way to it
  Local,    // the local disk or another program on this machine
};

struct TFailureCause {
  const char* Words;  // "Connection refused"; nullptr for a code without words of its own
  TCauseSide Side;
};

// The cause of error; Words is nullptr for a code this table does not know.
TFailureCause FailureCause(std::uint32_t error);

// "<Words> (<code>) <what>", or "Error <code> <what>" for an unknown code.
std::string FailureText(std::uint32_t error, const std::string& what);
