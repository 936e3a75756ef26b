#include "retry_policy.h"

#include <algorithm>

#include "setting_parsers.h"

namespace otel {

attempt_outcome classify_status(int status) {
    if (status >= 200 && status < 300) return attempt_outcome::delivered;
    switch (status) {
        case 0:
        case 429:
        case 502:
        case 503:
        case 504:
            return attempt_outcome::retry;
        default:
            return attempt_outcome::permanent;
    }
}

std::chrono::milliseconds retry_delay(const retry_options& options, int attempt,
                                      std::optional<std::chrono::milliseconds> retry_after,
                                      uint64_t random) {
    if (retry_after) return std::max(*retry_after, options.initial);
    double backoff = static_cast<double>(options.initial.count());
    for (int i = 1; i < attempt && backoff < options.maximum.count(); ++i) {
        backoff *= options.multiplier;
    }
    backoff = std::min(backoff, static_cast<double>(options.maximum.count()));
    const double jitter = 0.5 + 0.5 * static_cast<double>(random >> 11) / 9007199254740992.0;
    return std::chrono::milliseconds(static_cast<int64_t>(backoff * jitter));
}

namespace {

// Days from 1970-01-01 to a civil date (H. Hinnant's algorithm).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The fields of an HTTP date in each of its three forms, where they differ.
struct date_form {
    std::string_view pattern;  // D: day digit or space, Y: year, n: month, h m s: time, a: weekday
    bool two_digit_year;
};

// "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"
std::optional<int64_t> parse_http_date(std::string_view text) {
    static constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static constexpr date_form forms[] = {
        {"a, DD nnn YYYY hh:mm:ss GMT", false},
        {"a, DD-nnn-YY hh:mm:ss GMT", true},
        {"a nnn DD hh:mm:ss YYYY", false},
    };
    // The weekday is not checked against the date; only its form (letters) is.
    const size_t weekday =
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    if (weekday < 3 || weekday == std::string_view::npos) return std::nullopt;
    const std::string_view rest = text.substr(weekday);
    for (const date_form& form : forms) {
        const std::string_view pattern = form.pattern.substr(1);
        if (rest.size() != pattern.size()) continue;
        std::string day, year, month, clock;
        bool fits = true;
        for (size_t i = 0; i < pattern.size() && fits; ++i) {
            const char c = rest[i], p = pattern[i];
            const bool digit = c >= '0' && c <= '9';
            switch (p) {
                case 'D':  // asctime pads the day with a space
                    fits = digit || (c == ' ' && day.empty());
                    if (digit) day += c;
                    break;
                case 'Y':
                    fits = digit;
                    year += c;
                    break;
                case 'n':
                    month += c;
                    break;
                case 'h':
                case 'm':
                case 's':
                    fits = digit;
                    clock += c;
                    break;
                default:
                    fits = c == p;
            }
        }
        if (!fits) continue;
        unsigned m = 0;
        for (unsigned i = 0; i < 12; ++i) {
            if (month == months[i]) m = i + 1;
        }
        const auto d = parse_unsigned(day, 1, 31);
        auto y = parse_unsigned(year, 0, 9999);
        const auto hour = parse_unsigned(clock.substr(0, 2), 0, 23);
        const auto minute = parse_unsigned(clock.substr(2, 2), 0, 59);
        const auto second = parse_unsigned(clock.substr(4, 2), 0, 60);
        if (m == 0 || !d || !y || !hour || !minute || !second) return std::nullopt;
        if (form.two_digit_year) *y += *y < 70 ? 2000 : 1900;
        if (*y < 1970) return std::nullopt;
        return days_from_civil(static_cast<int64_t>(*y), m, static_cast<unsigned>(*d)) * 86400 +
               static_cast<int64_t>(*hour * 3600 + *minute * 60 + *second);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view text,
                                                           int64_t now_unix_seconds) {
    text = trim(text);
    if (const auto seconds = parse_unsigned(text, 0, 86400 * 365)) {
        return std::chrono::milliseconds(*seconds * 1000);
    }
    if (const auto when = parse_http_date(text)) {
        return std::chrono::milliseconds(std::max<int64_t>(0, *when - now_unix_seconds) * 1000);
    }
    return std::nullopt;
}

}  // namespace otel
