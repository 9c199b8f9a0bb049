#include "UpdateLog.h"

#include <cstring>

namespace {

void PutDigits(std::string& out, int value, int width) {
  char digits[8];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

// "YYYY-MM-DD hh:mm:ss.mmm " before every line's text.
constexpr std::size_t kTimeWidth = 24;

bool StartsRun(const std::string& log, std::size_t lineStart) {
  const std::size_t markLength = std::strlen(kLogRunMark);
  return log.size() >= lineStart + kTimeWidth + markLength &&
         log.compare(lineStart + kTimeWidth, markLength, kLogRunMark) == 0;
}

}  // namespace

std::string LogLine(const TLogTime& utc, const std::string& text) {
  const int fields[] = {utc.Year, utc.Month, utc.Day, utc.Hour, utc.Minute, utc.Second, utc.Millisecond};
  constexpr int kWidths[] = {4, 2, 2, 2, 2, 2, 3};
  constexpr char kAfter[] = "-- ::. ";  // what follows each field
  std::string line;
  line.reserve(kTimeWidth + text.size() + 2);
  for (int i = 0; i < 7; ++i) {
    PutDigits(line, fields[i], kWidths[i]);
    line += kAfter[i];
  }
  for (char c : text) line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return line + "\r\n";
}

std::string KeptRuns(const std::string& log, std::size_t room, std::size_t limit) {
  if (room > limit) return std::string();
  const std::size_t allowed = limit - room;
  if (log.size() <= allowed) return log;
  // The oldest run start from which the rest fits.
  for (std::size_t start = 0; start < log.size();) {
    if (StartsRun(log, start) && log.size() - start <= allowed) return log.substr(start);
    const std::size_t end = log.find('\n', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::string();
}
