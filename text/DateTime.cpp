#include "text/DateTime.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <type_traits>

#include "text/CodePage.h"
#include "text/Primitives.h"

namespace qubrelo {
namespace {

// The environment a test installed on this thread, if any.
thread_local const DateTimeEnvironment* installedEnvironment = nullptr;

constexpr std::chrono::sys_days kEpoch = std::chrono::year{1899} / 12 / 30;

struct Calendar {
    int year, month, day, hour, minute, second;
};

// The calendar record of an automation date, rounded to the second, or nothing outside the years
// 100 to 9999.
std::optional<Calendar> ToCalendar(DateTimeValue value) {
    if (!std::isfinite(value) || value < -700000.0 || value > 3000000.0) return std::nullopt;
    const double whole = std::trunc(value);
    auto days = static_cast<long long>(whole);
    auto seconds = std::llround(std::fabs(value - whole) * 86400.0);
    if (seconds >= 86400) {  // rounded up to the next midnight
        seconds -= 86400;
        ++days;
    }
    const std::chrono::year_month_day date{kEpoch + std::chrono::days{days}};
    const int year = static_cast<int>(date.year());
    if (year < 100 || year > 9999) return std::nullopt;
    return Calendar{year,
                    static_cast<int>(static_cast<unsigned>(date.month())),
                    static_cast<int>(static_cast<unsigned>(date.day())),
                    static_cast<int>(seconds / 3600),
                    static_cast<int>(seconds / 60 % 60),
                    static_cast<int>(seconds % 60)};
}

void AppendNumber(Text& out, int value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
    out += buffer;
}

enum class PictureKind { kDate, kTime };

Text FillPicture(std::string_view picture, PictureKind kind, const Calendar& when) {
    Text out;
    for (std::size_t at = 0; at < picture.size();) {
        if (static_cast<unsigned char>(picture[at]) >= 0x80) {
            out += picture.substr(at, 2);
            at += 2;
            continue;
        }
        const auto element = [&](std::string_view name) {
            if (picture.substr(at, name.size()) != name) return false;
            at += name.size();
            return true;
        };
        if (kind == PictureKind::kDate && element("yyyy")) {
            AppendNumber(out, when.year, 4);
        } else if (kind == PictureKind::kDate && element("MM")) {
            AppendNumber(out, when.month, 2);
        } else if (kind == PictureKind::kDate && element("dd")) {
            AppendNumber(out, when.day, 2);
        } else if (kind == PictureKind::kTime && element("hh")) {
            AppendNumber(out, when.hour % 12 == 0 ? 12 : when.hour % 12, 2);
        } else if (kind == PictureKind::kTime && element("HH")) {
            AppendNumber(out, when.hour, 2);
        } else if (kind == PictureKind::kTime && element("mm")) {
            AppendNumber(out, when.minute, 2);
        } else if (kind == PictureKind::kTime && element("ss")) {
            AppendNumber(out, when.second, 2);
        } else {
            out += picture[at++];
        }
    }
    return out;
}

struct StylePictures {
    Text date, time, monthDay, hourMinute, minuteSecond;
};

const std::array<StylePictures, 4>& Pictures() {
    static const std::array<StylePictures, 4> pictures{{
        {Utf8ToText("yyyy年MM月dd日 "), Utf8ToText("hh时mm分ss秒"), Utf8ToText("MM月dd日"),
         Utf8ToText("hh时mm分"), Utf8ToText("mm分ss秒")},
        {"yyyy-MM-dd ", "hh:mm:ss", "MM-dd", "hh:mm", "mm:ss"},
        {"yyyy/MM/dd ", "hh/mm/ss", "MM/dd", "hh/mm", "mm/ss"},
        {"yyyyMMdd", "hhmmss", "MMdd", "hhmm", "mmss"},
    }};
    return pictures;
}

DateTimeValue SystemNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return 0;
    return DateTimeFromCalendar(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min, std::min(local.tm_sec, 59));
}

bool SystemUses24HourClock() {
    using LocaleHandle = std::unique_ptr<std::remove_pointer_t<locale_t>, decltype(&freelocale)>;
    const LocaleHandle locale(newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr)),
                              &freelocale);
    if (!locale) return false;  // an unusable locale setting: the 12-hour pictures stay
    return TimeFormatIs24Hour(nl_langinfo_l(T_FMT, locale.get()));
}

DateTimeValue Now() {
    const DateTimeEnvironment* installed = installedEnvironment;
    return installed != nullptr && installed->now ? installed->now() : SystemNow();
}

}  // namespace

ScopedDateTimeEnvironment::ScopedDateTimeEnvironment(DateTimeEnvironment environment)
    : environment_(std::move(environment)), previous_(installedEnvironment) {
    installedEnvironment = &environment_;
}

ScopedDateTimeEnvironment::~ScopedDateTimeEnvironment() { installedEnvironment = previous_; }

DateTimeEnvironment SystemDateTimeEnvironment() { return {&SystemNow, &SystemUses24HourClock}; }

DateTimeValue DateTimeFromCalendar(int year, int month, int day, int hour, int minute, int second) {
    const std::chrono::sys_days date = std::chrono::year{year} / month / day;
    const double days = static_cast<double>((date - kEpoch).count());
    const double fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
    return days >= 0 ? days + fraction : days - fraction;
}

Text FormatDateTimeText(std::optional<DateTimeValue> timeValue, std::optional<int> style,
                        std::optional<int> part) {
    const DateTimeValue value = timeValue ? *timeValue : Now();
    int index = style.value_or(0);
    if (index < 0 || index > 3) index = 0;
    const int cut = part.value_or(0);
    const StylePictures& pictures = Pictures()[static_cast<std::size_t>(index)];

    Text date = (cut >= 3 && cut <= 5) ? Text() : pictures.date;
    Text time = (cut == 1 || cut == 2) ? Text() : pictures.time;
    if (cut == 1) date = TextTrim(date);
    if (cut == 2) date = pictures.monthDay;
    if (cut == 4) time = pictures.hourMinute;
    if (cut == 5) time = pictures.minuteSecond;
    if (Uses24HourClock()) time = TextReplace(time, "hh", "HH", std::nullopt, std::nullopt, true);
    return FormatDateTimePictures(value, date, time);
}

bool Uses24HourClock() {
    const DateTimeEnvironment* installed = installedEnvironment;
    return installed != nullptr && installed->uses24HourClock ? installed->uses24HourClock()
                                                              : SystemUses24HourClock();
}

bool TimeFormatIs24Hour(std::string_view format) {
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%') continue;
        ++at;
        // Flags, a width and the E or O modifier may stand between "%" and the conversion.
        while (at < format.size() &&
               std::string_view("_-0^#EO123456789").find(format[at]) != std::string_view::npos) {
            ++at;
        }
        if (at < format.size() &&
            std::string_view("HkTR").find(format[at]) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

Text FormatDateTimePictures(DateTimeValue timeValue, std::string_view datePicture,
                            std::string_view timePicture) {
    const std::optional<Calendar> when = ToCalendar(timeValue);
    if (!when) return {};
    Text text;
    if (datePicture.size() >= 3) text += FillPicture(datePicture, PictureKind::kDate, *when);
    if (timePicture.size() >= 3) text += FillPicture(timePicture, PictureKind::kTime, *when);
    return text;
}

}  // namespace qubrelo
