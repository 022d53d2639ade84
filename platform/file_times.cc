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

UnixTime FileTimeToUnixTime(FileTime time) {
  const uint64_t v = time.value();
  UnixTime ts{};
  ts.tv_sec =
      static_cast<time_t>(static_cast<int64_t>(v / kFileTimeTicksPerSecond) -
                          kSecondsFrom1601To1970);
  ts.tv_nsec = static_cast<long>((v % kFileTimeTicksPerSecond) * 100);
  return ts;
}

FileTime UnixTimeToFileTime(const UnixTime& time) {
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

bool FileTimeToUtc(FileTime time, std::tm* out) {
  const uint64_t seconds = time.value() / kFileTimeTicksPerSecond;
  const int64_t days_since_1601 = static_cast<int64_t>(seconds / 86400);
  const int64_t second_of_day = static_cast<int64_t>(seconds % 86400);
  // Days since 0000-03-01 in the proleptic Gregorian calendar, then the
  // civil date of that day count.
  const int64_t days = days_since_1601 + 584694;
  const int64_t era = days / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 +
                               day_of_era / 36524 - day_of_era / 146096) /
                              365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;  // March is 0
  const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  if (time.value() == 0) return false;
  *out = std::tm{};
  out->tm_year = static_cast<int>(year - 1900);
  out->tm_mon = static_cast<int>(month - 1);
  out->tm_mday = static_cast<int>(day);
  out->tm_hour = static_cast<int>(second_of_day / 3600);
  out->tm_min = static_cast<int>(second_of_day / 60 % 60);
  out->tm_sec = static_cast<int>(second_of_day % 60);
  // 1601-01-01 was a Monday.
  out->tm_wday = static_cast<int>((days_since_1601 + 1) % 7);
  return true;
}

}  // namespace morva
