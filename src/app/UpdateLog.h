// The support log's rules: the form of a line and what of the old log a run
// keeps. Free of Win32; UpdateLog_win.h writes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The log never grows past this; a run that would pass it stops writing.
constexpr std::size_t kLogMaxBytes = 256 * 1024;
// Room a run makes for itself when it drops the oldest runs.
constexpr std::size_t kLogRunRoom = 32 * 1024;
// The text of every run's first line starts with this, after the time.
constexpr char kLogRunMark[] = "=== ";

struct TLogTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// "2026-12-07 19:10:42.123 text" and CRLF; the time is UTC. Line breaks and
// other control characters inside text become blanks, so one call is one line.
std::string LogLine(const TLogTime& utc, const std::string& text);

// The newest whole runs of log that leave room more bytes under limit; the
// whole log when it already does; empty when not even the newest run fits.
// Text before the first run's mark is dropped with the oldest run.
std::string KeptRuns(const std::string& log, std::size_t room, std::size_t limit);
