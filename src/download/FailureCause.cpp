#include "FailureCause.h"

#include "SysUtils.h"

namespace {

struct TCauseRow {
  std::uint32_t Error;
  TFailureCause Cause;
};

// Windows' and WinInet's numbers, as their headers give them.
constexpr TCauseRow kCauses[] = {
    {3, {"Folder not found", TCauseSide::Local}},              // ERROR_PATH_NOT_FOUND
    {5, {"Access denied", TCauseSide::Local}},                 // ERROR_ACCESS_DENIED
    {32, {"In use by another program", TCauseSide::Local}},   // ERROR_SHARING_VIOLATION
    {33, {"In use by another program", TCauseSide::Local}},   // ERROR_LOCK_VIOLATION
    {39, {"Not enough disk space", TCauseSide::Local}},       // ERROR_HANDLE_DISK_FULL
    {112, {"Not enough disk space", TCauseSide::Local}},      // ERROR_DISK_FULL
    {12002, {"Timed out", TCauseSide::Network}},              // ERROR_INTERNET_TIMEOUT
    {12007, {"Server not found", TCauseSide::Network}},       // ERROR_INTERNET_NAME_NOT_RESOLVED
    {12029, {"Connection refused", TCauseSide::Network}},     // ERROR_INTERNET_CANNOT_CONNECT
    {12030, {"Connection dropped", TCauseSide::Network}},     // ERROR_INTERNET_CONNECTION_ABORTED
    {12031, {"Connection dropped", TCauseSide::Network}},     // ERROR_INTERNET_CONNECTION_RESET
    {12152, {"Unreadable answer from the server", TCauseSide::Network}},  // ERROR_HTTP_INVALID_SERVER_RESPONSE
};

}  // namespace

TFailureCause FailureCause(std::uint32_t error) {
  for (const TCauseRow& row : kCauses)
    if (row.Error == error) return row.Cause;
  // WinInet's own range, else Windows'.
  return {nullptr, error >= 12000 && error < 13000 ? TCauseSide::Network : TCauseSide::Local};
}

std::string FailureText(std::uint32_t error, const std::string& what) {
  const TFailureCause cause = FailureCause(error);
  const std::string code = formkit::DecimalText(error);
  return cause.Words != nullptr ? std::string(cause.Words) + " (" + code + ") " + what : "Error " + code + " " + what;
}
