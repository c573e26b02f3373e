// Time as the program sees it: local date and time as days since 1899-12-30 00:00,
// with the time of day as the fraction. Injectable so tests can set the moment.
#pragma once

#include <cstdint>
#include <string>

namespace caspira {

using DateTime = double;

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time.
  virtual DateTime Now() = 0;
};

// The host's wall clock in the local time zone.
class SystemClock final : public Clock {
 public:
  DateTime Now() override;
};

// Runs `speed` times faster than the clock it wraps, counted from the moment of creation.
// The simulated demo uses it so that its world and the program's timestamps agree.
class ScaledClock final : public Clock {
 public:
  ScaledClock(Clock& base, double speed);
  DateTime Now() override;

 private:
  Clock& base_;
  double speed_;
  DateTime origin_;
};

struct CivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

CivilTime DecodeDateTime(DateTime value);
DateTime EncodeDateTime(const CivilTime& civil);

// Format "c": the locale's short date, then a blank and the locale's long time; the
// time is left out when hours, minutes and seconds are all zero.
std::string FormatDateTimeC(DateTime value);
// Format "yymmdd": two-digit year, month and day.
std::string FormatYymmdd(DateTime value);
// Elapsed time as "<whole days>-hh:nn:ss"; negative spans count as zero.
std::string FormatElapsed(DateTime elapsed);

}  // namespace caspira
