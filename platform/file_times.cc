#include "platform/file_times.h"

namespace morva {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(unsigned year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

FileTime UnixSecondsToFileTime(int64_t seconds) {
  if (seconds < -kSecondsFrom1601To1970) return FileTime{};
  return FileTime::FromValue(
      static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) *
      kFileTimeTicksPerSecond);
}

timespec FileTimeToTimespec(FileTime time) {
  const uint64_t v = time.value();
  timespec ts{};
  ts.tv_sec =
      static_cast<time_t>(static_cast<int64_t>(v / kFileTimeTicksPerSecond) -
                          kSecondsFrom1601To1970);
  ts.tv_nsec = static_cast<long>((v % kFileTimeTicksPerSecond) * 100);
  return ts;
}

FileTime TimespecToFileTime(const timespec& time) {
  const int64_t seconds = static_cast<int64_t>(time.tv_sec);
  if (seconds < -kSecondsFrom1601To1970) return FileTime{};
  return FileTime::FromValue(
      static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) *
          kFileTimeTicksPerSecond +
      static_cast<uint64_t>(time.tv_nsec / 100));
}

bool DosDateTimeToFileTime(uint16_t dos_date, uint16_t dos_time,
                           FileTime* out) {
  const unsigned day = dos_date & 0x1F;
  const unsigned month = (dos_date >> 5) & 0x0F;
  const unsigned year = 1980 + (dos_date >> 9);
  const unsigned second = (dos_time & 0x1F) * 2;
  const unsigned minute = (dos_time >> 5) & 0x3F;
  const unsigned hour = dos_time >> 11;
  static constexpr unsigned kDaysInMonth[] = {31, 28, 31, 30, 31, 30,
                                              31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const unsigned month_days =
      kDaysInMonth[month - 1] + (month == 2 && IsLeap(year));
  if (day > month_days || hour > 23 || minute > 59 || second > 59) return false;
  const int64_t seconds = DaysFromCivil(year, month, day) * 86400 +
                          hour * 3600 + minute * 60 + second;
  *out = UnixSecondsToFileTime(seconds);
  return true;
}

}  // namespace morva
