// File times as the archive records carry them: a FILETIME, the count of
// 100-nanosecond intervals since 1601-01-01 00:00:00 UTC, and conversions to
// the platform's own times.
#ifndef MORVA_PLATFORM_FILE_TIMES_H_
#define MORVA_PLATFORM_FILE_TIMES_H_

#include <time.h>

#include <cstdint>
#include <ctime>

namespace morva {

struct FileTime {
  uint32_t low = 0;
  uint32_t high = 0;

  uint64_t value() const { return (uint64_t{high} << 32) | low; }
  static FileTime FromValue(uint64_t v) {
    return FileTime{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
  }
  bool operator==(const FileTime&) const = default;
};

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr int64_t kFileTimeTicksPerSecond = 10000000;

// (seconds + 11644473600) * 10^7. Seconds before 1601 give 0.
FileTime UnixSecondsToFileTime(int64_t seconds);

// Whole seconds since 1970 (before it, negative).
inline int64_t FileTimeToUnixSeconds(FileTime time) {
  return static_cast<int64_t>(time.value() / kFileTimeTicksPerSecond) -
         kSecondsFrom1601To1970;
}

// Seconds and nanoseconds since 1970, as the POSIX file calls take them.
using UnixTime = ::timespec;

UnixTime FileTimeToUnixTime(FileTime time);
// Times before 1601 give 0.
FileTime UnixTimeToFileTime(const UnixTime& time);

// The calendar date and time in UTC of a time (tm_year counts from 1900,
// tm_mon from 0). False for the zero time's year 1601 and before: nothing
// the system can show as a date.
bool FileTimeToUtc(FileTime time, std::tm* out);

// Converts a DOS date (high word of the ZIP date-time field) and DOS time
// (low word) as a calendar time taken to be UTC: no time-zone adjustment.
// Returns false, leaving *out alone, when they form no valid date and time
// (day 0, month 13, February 30, second 60, ...).
bool DosDateTimeToFileTime(uint16_t dos_date, uint16_t dos_time, FileTime* out);

}  // namespace morva

#endif  // MORVA_PLATFORM_FILE_TIMES_H_
