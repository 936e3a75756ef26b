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
    if (retry_after) return std::max(*retry_after, std::chrono::milliseconds(0));
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

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<int64_t> parse_http_date(std::string_view text) {
    static constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT" ||
        text[7] != ' ' || text[11] != ' ' || text[16] != ' ' || text[19] != ':' ||
        text[22] != ':') {
        return std::nullopt;
    }
    unsigned month = 0;
    for (unsigned i = 0; i < 12; ++i) {
        if (text.substr(8, 3) == months[i]) month = i + 1;
    }
    const auto day = parse_unsigned(text.substr(5, 2), 1, 31);
    const auto year = parse_unsigned(text.substr(12, 4), 1970, 9999);
    const auto hour = parse_unsigned(text.substr(17, 2), 0, 23);
    const auto minute = parse_unsigned(text.substr(20, 2), 0, 59);
    const auto second = parse_unsigned(text.substr(23, 2), 0, 60);
    if (month == 0 || !day || !year || !hour || !minute || !second) return std::nullopt;
    return days_from_civil(static_cast<int64_t>(*year), month, static_cast<unsigned>(*day)) *
               86400 +
           static_cast<int64_t>(*hour * 3600 + *minute * 60 + *second);
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
