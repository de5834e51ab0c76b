#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <random>
#include <string>
#include <thread>

#include "text/CodePage.h"
#include "text/DateTime.h"

namespace qubrelo {
namespace {

// Fixes now and the clock preference for the calls on this thread.
class FixedEnvironment {
  public:
    FixedEnvironment(DateTimeValue now, bool uses24Hour)
        : scope_({.now = [now] { return now; },
                  .uses24HourClock = [uses24Hour] { return uses24Hour; }}) {}

  private:
    ScopedDateTimeEnvironment scope_;
};

struct WorkedRow {
    const char* name;
    int hour, minute, second;
    const char* on24;  // UTF-8
    const char* on12;
};

void PrintTo(const WorkedRow& row, std::ostream* out) { *out << row.name; }

class WorkedExample : public testing::TestWithParam<WorkedRow> {};

TEST_P(WorkedExample, DefaultCallNamesNowOnBothClocks) {
    const WorkedRow& row = GetParam();
    const DateTimeValue now = DateTimeFromCalendar(2016, 3, 18, row.hour, row.minute, row.second);
    {
        FixedEnvironment fixed(now, true);
        EXPECT_EQ(FormatDateTimeText(), Utf8ToText(row.on24));
    }
    {
        FixedEnvironment fixed(now, false);
        EXPECT_EQ(FormatDateTimeText(), Utf8ToText(row.on12));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WorkedExample,
    testing::Values(WorkedRow{"Morning", 10, 39, 10, "2016年03月18日 10时39分10秒",
                              "2016年03月18日 10时39分10秒"},
                    WorkedRow{"Evening", 22, 39, 10, "2016年03月18日 22时39分10秒",
                              "2016年03月18日 10时39分10秒"},
                    WorkedRow{"AfterMidnight", 0, 5, 0, "2016年03月18日 00时05分00秒",
                              "2016年03月18日 12时05分00秒"},
                    WorkedRow{"Noon", 12, 30, 0, "2016年03月18日 12时30分00秒",
                              "2016年03月18日 12时30分00秒"}),
    [](const auto& info) { return info.param.name; });

struct StyleRow {
    const char* name;
    std::optional<int> style, part;
    const char* on24;  // UTF-8
    const char* on12;
};

void PrintTo(const StyleRow& row, std::ostream* out) { *out << row.name; }

class StylesAndParts : public testing::TestWithParam<StyleRow> {};

TEST_P(StylesAndParts, RenderOnBothClocks) {
    const StyleRow& row = GetParam();
    const DateTimeValue value = DateTimeFromCalendar(2016, 3, 18, 22, 39, 10);
    {
        FixedEnvironment fixed(0, true);
        EXPECT_EQ(FormatDateTimeText(value, row.style, row.part), Utf8ToText(row.on24));
    }
    {
        FixedEnvironment fixed(0, false);
        EXPECT_EQ(FormatDateTimeText(value, row.style, row.part), Utf8ToText(row.on12));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StylesAndParts,
    testing::Values(StyleRow{"Style1", 1, 0, "2016-03-18 22:39:10", "2016-03-18 10:39:10"},
                    StyleRow{"Style2", 2, 0, "2016/03/18 22/39/10", "2016/03/18 10/39/10"},
                    StyleRow{"Style3HasNoSpace", 3, 0, "20160318223910", "20160318103910"},
                    StyleRow{"Style7IsStyle0", 7, 0, "2016年03月18日 22时39分10秒",
                             "2016年03月18日 10时39分10秒"},
                    StyleRow{"StyleMinus1IsStyle0", -1, 0, "2016年03月18日 22时39分10秒",
                             "2016年03月18日 10时39分10秒"},
                    StyleRow{"OmittedStyleAndPart", std::nullopt, std::nullopt,
                             "2016年03月18日 22时39分10秒", "2016年03月18日 10时39分10秒"},
                    StyleRow{"DateWithoutTrailingSpace", 0, 1, "2016年03月18日", "2016年03月18日"},
                    StyleRow{"MonthDay", 1, 2, "03-18", "03-18"},
                    StyleRow{"Time", 0, 3, "22时39分10秒", "10时39分10秒"},
                    StyleRow{"HourMinute", 1, 4, "22:39", "10:39"},
                    StyleRow{"MinuteSecondSameOnBothClocks", 2, 5, "39/10", "39/10"},
                    StyleRow{"Part6IsWhole", 1, 6, "2016-03-18 22:39:10", "2016-03-18 10:39:10"},
                    StyleRow{"PartMinus1IsWhole", 3, -1, "20160318223910", "20160318103910"}),
    [](const auto& info) { return info.param.name; });

TEST(DateTimeRange, ValuesOutsideYears100To9999GiveEmptyText) {
    FixedEnvironment fixed(0, true);
    EXPECT_EQ(FormatDateTimeText(DateTimeFromCalendar(100, 1, 1, 0, 0, 0), 3), "01000101000000");
    EXPECT_EQ(FormatDateTimeText(DateTimeFromCalendar(9999, 12, 31, 23, 59, 59), 3),
              "99991231235959");
    EXPECT_EQ(FormatDateTimeText(DateTimeFromCalendar(99, 12, 31, 23, 59, 59), 3), "");
    EXPECT_EQ(FormatDateTimeText(DateTimeFromCalendar(10000, 1, 1, 0, 0, 0), 3), "");
    EXPECT_EQ(FormatDateTimeText(NAN, 3), "");
    EXPECT_EQ(FormatDateTimeText(INFINITY, 3), "");
    EXPECT_EQ(FormatDateTimeText(1e300, 3), "");
    EXPECT_EQ(FormatDateTimeText(-1e300, 3), "");
}

TEST(DateTimeRange, AutomationDateConventions) {
    FixedEnvironment fixed(0, true);
    EXPECT_EQ(FormatDateTimeText(0.0, 1), "1899-12-30 00:00:00");
    EXPECT_EQ(FormatDateTimeText(-1.25, 1), "1899-12-29 06:00:00");
    EXPECT_EQ(FormatDateTimeText(2.75, 1), "1900-01-01 18:00:00");
    EXPECT_EQ(FormatDateTimeText(0.9999999, 1), "1899-12-31 00:00:00");  // rounds to the second
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(1899, 12, 29, 6, 0, 0), -1.25);
}

TEST(DateTimePictures, ElementsByPictureKindAndTwoByteCharacters) {
    const DateTimeValue value = DateTimeFromCalendar(2016, 3, 8, 9, 7, 5);
    // Date elements only in the date picture, time elements only in the time picture.
    EXPECT_EQ(FormatDateTimePictures(value, "yyyy hh", "HH mm MM"), "2016 hh09 07 MM");
    EXPECT_EQ(FormatDateTimePictures(value, "dd/MM", "hh:ss"), "08/0309:05");
    // A picture shorter than three bytes is skipped.
    EXPECT_EQ(FormatDateTimePictures(value, "MM", "ss"), "");
    // The byte after a lead byte belongs to its character, even when it reads as "d".
    EXPECT_EQ(FormatDateTimePictures(value,
                                     "\xB0"
                                     "dd",
                                     ""),
              "\xB0"
              "dd");
    EXPECT_EQ(FormatDateTimePictures(value,
                                     "\xB0\xA1"
                                     "dd",
                                     ""),
              "\xB0\xA1"
              "08");
}

// Dates across the whole range agree with strftime on the same instant.
TEST(DateTimePictures, AgreesWithStrftime) {
    FixedEnvironment fixed(0, true);
    std::mt19937_64 random(1899);
    const long long first = static_cast<long long>(DateTimeFromCalendar(100, 1, 1, 0, 0, 0));
    const long long last = static_cast<long long>(DateTimeFromCalendar(9999, 12, 31, 0, 0, 0));
    for (int round = 0; round < 3000; ++round) {
        const long long day = first + static_cast<long long>(random() % (last - first + 1));
        const int second = static_cast<int>(random() % 86400);
        const DateTimeValue value = day >= 0 ? day + second / 86400.0 : day - second / 86400.0;
        const std::time_t instant = (day - 25569) * 86400 + second;  // 25569: 1970-01-01
        std::tm utc{};
        ASSERT_NE(gmtime_r(&instant, &utc), nullptr);
        char expected[32];
        std::strftime(expected, sizeof expected, "%04Y%m%d%H%M%S", &utc);
        ASSERT_EQ(FormatDateTimeText(value, 3), expected) << "day " << day << " second " << second;
    }
}

TEST(DateTimeEnvironmentSeam, NowIsTheLocalClockToTheSecond) {
    std::string before, after, text;
    const auto local = [] {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char buffer[32];
        std::strftime(buffer, sizeof buffer, "%Y%m%d%H%M%S", &tm);
        return std::string(buffer);
    };
    ScopedDateTimeEnvironment clockOnly({.now = {}, .uses24HourClock = [] { return true; }});
    before = local();
    text = FormatDateTimeText(std::nullopt, 3);
    after = local();
    EXPECT_TRUE(text == before || text == after) << text << " not in " << before << ".." << after;
}

TEST(DateTimeEnvironmentSeam, NestsAndStaysOnItsThread) {
    const DateTimeValue early = DateTimeFromCalendar(2001, 2, 3, 4, 5, 6);
    const DateTimeValue late = DateTimeFromCalendar(2002, 2, 3, 4, 5, 6);
    FixedEnvironment outer(early, true);
    {
        FixedEnvironment inner(late, true);
        EXPECT_EQ(FormatDateTimeText({}, 3), "20020203040506");
    }
    EXPECT_EQ(FormatDateTimeText({}, 3), "20010203040506");

    std::string elsewhere;
    std::thread([&] { elsewhere = FormatDateTimeText({}, 3); }).join();
    EXPECT_NE(elsewhere, "20010203040506");
    EXPECT_EQ(elsewhere.size(), 14u);
}

struct ClockFormatRow {
    const char* format;
    bool is24Hour;
};

TEST(ClockPreference, ReadFromTheLocaleTimeFormat) {
    const ClockFormatRow rows[] = {
        {"%H:%M:%S", true},     {"%T", true},     {"%k:%M", true},
        {"%R", true},           {"%OH:%M", true}, {"%-H.%M", true},
        {"%I:%M:%S %p", false}, {"%r", false},    {"%l:%M %p", false},
        {"%%H", false},         {"", false},      {"%", false},
    };
    for (const ClockFormatRow& row : rows) {
        SCOPED_TRACE(row.format);
        EXPECT_EQ(TimeFormatIs24Hour(row.format), row.is24Hour);
    }
}

}  // namespace
}  // namespace qubrelo
