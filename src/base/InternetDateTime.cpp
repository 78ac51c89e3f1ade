#include "base/InternetDateTime.h"

#include <cstdio>

namespace quorvel {

namespace {

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    std::optional<int> digits(std::size_t count) {
        if (text_.size() - position_ < count) {
            return std::nullopt;
        }
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            char c = text_[position_ + i];
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            value = value * 10 + (c - '0');
        }
        position_ += count;
        return value;
    }

    bool literal(char expected) {
        if (position_ < text_.size() && text_[position_] == expected) {
            ++position_;
            return true;
        }
        return false;
    }

    std::optional<char> peek() const {
        return position_ < text_.size() ? std::optional<char>(text_[position_]) : std::nullopt;
    }

    bool atEnd() const { return position_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

std::string format(TimePoint time, bool milliseconds) {
    using namespace std::chrono;
    auto millis = floor<std::chrono::milliseconds>(time);
    auto day = floor<days>(millis);
    year_month_day date{day};
    hh_mm_ss<std::chrono::milliseconds> clock{millis - day};
    char buffer[40];
    int year = static_cast<int>(date.year());
    if (milliseconds) {
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", year,
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<int>(clock.hours().count()),
                      static_cast<int>(clock.minutes().count()),
                      static_cast<int>(clock.seconds().count()),
                      static_cast<int>(clock.subseconds().count()));
    } else {
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", year,
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<int>(clock.hours().count()),
                      static_cast<int>(clock.minutes().count()),
                      static_cast<int>(clock.seconds().count()));
    }
    return buffer;
}

} // namespace

std::optional<TimePoint> parseInternetDateTime(std::string_view text, FractionalSeconds fraction) {
    using namespace std::chrono;
    Cursor cursor(text);
    auto year = cursor.digits(4);
    if (!year || !cursor.literal('-'))
        return std::nullopt;
    auto month = cursor.digits(2);
    if (!month || !cursor.literal('-'))
        return std::nullopt;
    auto day = cursor.digits(2);
    if (!day || !cursor.literal('T'))
        return std::nullopt;
    auto hour = cursor.digits(2);
    if (!hour || !cursor.literal(':'))
        return std::nullopt;
    auto minute = cursor.digits(2);
    if (!minute || !cursor.literal(':'))
        return std::nullopt;
    auto second = cursor.digits(2);
    if (!second)
        return std::nullopt;

    year_month_day date{std::chrono::year{*year}, std::chrono::month{static_cast<unsigned>(*month)},
                        std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }

    nanoseconds subsecond{0};
    if (cursor.literal('.')) {
        if (fraction == FractionalSeconds::rejected)
            return std::nullopt;
        long long scale = 100000000;
        int count = 0;
        while (auto c = cursor.peek()) {
            if (*c < '0' || *c > '9')
                break;
            cursor.digits(1);
            if (count < 9) {
                subsecond += nanoseconds((*c - '0') * scale);
                scale /= 10;
            }
            ++count;
        }
        if (count == 0)
            return std::nullopt;
    }

    minutes offset{0};
    if (cursor.literal('Z')) {
        // UTC
    } else if (auto sign = cursor.peek(); sign && (*sign == '+' || *sign == '-')) {
        cursor.literal(*sign);
        auto offsetHours = cursor.digits(2);
        if (!offsetHours || !cursor.literal(':'))
            return std::nullopt;
        auto offsetMinutes = cursor.digits(2);
        if (!offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59)
            return std::nullopt;
        offset = hours(*offsetHours) + minutes(*offsetMinutes);
        if (*sign == '-')
            offset = -offset;
    } else {
        return std::nullopt;
    }
    if (!cursor.atEnd())
        return std::nullopt;

    auto whole = sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second) - offset;
    // The clock counts in a fine unit and so spans a few centuries only (nanoseconds: about 1677
    // to 2262); a time outside that span has no representation and is refused, not wrapped.
    constexpr auto limit = duration_cast<seconds>(Clock::duration::max()) - seconds(1);
    if (whole.time_since_epoch() > limit || whole.time_since_epoch() < -limit)
        return std::nullopt;
    return time_point_cast<Clock::duration>(whole) + duration_cast<Clock::duration>(subsecond);
}

std::string formatInternetDateTime(TimePoint time) {
    return format(time, false);
}

std::string formatInternetDateTimeWithFractionalSeconds(TimePoint time) {
    return format(time, true);
}

} // namespace quorvel
