#include "platform/clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace caspira {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t kEpochOffsetDays = -25569;

std::int64_t ToMilliseconds(DateTime value) {
  return std::llround(value * static_cast<double>(kMsPerDay));
}

std::tm ToTm(const CivilTime& c) {
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_wday = static_cast<int>(
      ((DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) % 7) + 11) % 7);
  tm.tm_isdst = -1;
  return tm;
}

std::string Strftime(const char* format, const std::tm& tm) {
  char buffer[128];
  const std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, n);
}

}  // namespace

DateTime SystemClock::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  CivilTime c{local.tm_year + 1900,
              local.tm_mon + 1,
              local.tm_mday,
              local.tm_hour,
              local.tm_min,
              local.tm_sec,
              static_cast<int>(ms < 0 ? ms + 1000 : ms)};
  return EncodeDateTime(c);
}

ScaledClock::ScaledClock(Clock& base, double speed) : base_(base), speed_(speed), origin_(base.Now()) {}

DateTime ScaledClock::Now() {
  return origin_ + (base_.Now() - origin_) * speed_;
}

CivilTime DecodeDateTime(DateTime value) {
  const std::int64_t total = ToMilliseconds(value);
  std::int64_t days = total / kMsPerDay;
  std::int64_t rest = total % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  CivilTime c;
  CivilFromDays(days + kEpochOffsetDays, c.year, c.month, c.day);
  c.hour = static_cast<int>(rest / 3'600'000);
  c.minute = static_cast<int>(rest / 60'000 % 60);
  c.second = static_cast<int>(rest / 1000 % 60);
  c.millisecond = static_cast<int>(rest % 1000);
  return c;
}

DateTime EncodeDateTime(const CivilTime& c) {
  const std::int64_t days =
      DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) - kEpochOffsetDays;
  const std::int64_t ms =
      ((static_cast<std::int64_t>(c.hour) * 60 + c.minute) * 60 + c.second) * 1000 + c.millisecond;
  return static_cast<double>(days) + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

std::string FormatDateTimeC(DateTime value) {
  const CivilTime c = DecodeDateTime(value);
  const std::tm tm = ToTm(c);
  std::string text = Strftime("%x", tm);
  if (c.hour != 0 || c.minute != 0 || c.second != 0) text += " " + Strftime("%X", tm);
  return text;
}

std::string FormatYymmdd(DateTime value) {
  const CivilTime c = DecodeDateTime(value);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d%02d%02d", ((c.year % 100) + 100) % 100, c.month, c.day);
  return buffer;
}

std::string FormatElapsed(DateTime elapsed) {
  std::int64_t ms = ToMilliseconds(elapsed);
  if (ms < 0) ms = 0;
  const std::int64_t days = ms / kMsPerDay;
  const std::int64_t rest = ms % kMsPerDay / 1000;
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%lld-%02lld:%02lld:%02lld", static_cast<long long>(days),
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return buffer;
}

}  // namespace caspira
