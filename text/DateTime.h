#pragma once

// Date-time text: a date and time of day rendered through the pictures of four styles, whole or
// in parts, on the user's 12- or 24-hour clock.
//
// Test seam: "now" and the clock preference come from a DateTimeEnvironment. A test fixes them
// for the calls made on its own thread while a ScopedDateTimeEnvironment lives, e.g.
//
//     ScopedDateTimeEnvironment fixed({.now = [] { return DateTimeFromCalendar(2016, 3, 18,
//                                                                               22, 39, 10); },
//                                      .uses24HourClock = [] { return true; }});
//     FormatDateTimeText();  // "2016年03月18日 22时39分10秒" in code page 936
//
// The installation is thread-local: it reaches calls on the installing thread only (a save
// handler runs on the window thread, which is the test's thread under Qt Test). A member left
// empty falls back to the machine's answer.

#include <functional>
#include <optional>
#include <string_view>

#include "text/Text.h"

namespace qubrelo {

// A local date and time as an automation date: days since 1899-12-30 00:00, the time of day
// being the fractional part. Before that day the integer part counts back and the fraction
// still counts forward (-1.25 is 1899-12-29 06:00).
using DateTimeValue = double;

struct DateTimeEnvironment {
    std::function<DateTimeValue()> now;     // the local date and time, to the whole second
    std::function<bool()> uses24HourClock;  // the user's clock preference
};

// The machine's answers: the local clock, and the time format of the user's LC_TIME locale.
DateTimeEnvironment SystemDateTimeEnvironment();

// Installs an environment for the calls on the current thread while it lives; nests.
class ScopedDateTimeEnvironment {
  public:
    explicit ScopedDateTimeEnvironment(DateTimeEnvironment environment);
    ~ScopedDateTimeEnvironment();
    ScopedDateTimeEnvironment(const ScopedDateTimeEnvironment&) = delete;
    ScopedDateTimeEnvironment& operator=(const ScopedDateTimeEnvironment&) = delete;

  private:
    DateTimeEnvironment environment_;
    const DateTimeEnvironment* previous_;
};

// The automation date of a calendar date and time (proleptic Gregorian).
DateTimeValue DateTimeFromCalendar(int year, int month, int day, int hour, int minute, int second);

// The date picture, then the time picture, of `style` (0 to 3; anything else is 0), cut to
// `part` (1 date, 2 month and day, 3 time, 4 hour and minute, 5 minute and second, anything else
// the whole), filled in for `timeValue` (now when omitted). On a 24-hour clock "hh" becomes "HH".
// A value outside the years 100 to 9999 gives the empty text.
Text FormatDateTimeText(std::optional<DateTimeValue> timeValue = {}, std::optional<int> style = {},
                        std::optional<int> part = {});

// Whether the user's locale writes times on a 24-hour clock.
bool Uses24HourClock();

// Whether a strftime time format shows a 24-hour clock: it uses %H, %k, %T or %R.
bool TimeFormatIs24Hour(std::string_view format);

// The value rendered through the two pictures, the date's output first. The date picture knows
// yyyy, MM and dd; the time picture hh (12-hour: 0 and 12 show as 12), HH, mm and ss; every other
// character is copied, a two-byte character whole. A picture shorter than 3 bytes gives nothing.
// A value outside the years 100 to 9999 (or not a number) gives the empty text.
Text FormatDateTimePictures(DateTimeValue timeValue, std::string_view datePicture,
                            std::string_view timePicture);

}  // namespace qubrelo
