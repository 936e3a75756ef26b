// The retry policy: which answers are retried, how long the exporter waits between tries.
#include <gtest/gtest.h>

#include "retry_policy.h"

namespace {

using std::chrono::milliseconds;

TEST(RetryPolicy, ClassifiesAnswers) {
    using otel::attempt_outcome;
    const std::pair<int, attempt_outcome> rows[] = {
        {200, attempt_outcome::delivered}, {202, attempt_outcome::delivered},
        {0, attempt_outcome::retry},       {429, attempt_outcome::retry},
        {502, attempt_outcome::retry},     {503, attempt_outcome::retry},
        {504, attempt_outcome::retry},     {400, attempt_outcome::permanent},
        {401, attempt_outcome::permanent}, {404, attempt_outcome::permanent},
        {413, attempt_outcome::permanent}, {500, attempt_outcome::permanent},
        {302, attempt_outcome::permanent},
    };
    for (const auto& [status, outcome] : rows) {
        EXPECT_EQ(otel::classify_status(status), outcome) << status;
    }
}

TEST(RetryPolicy, BackOffGrowsWithJitterUpToTheMaximumUnlessTheServerSaysWhen) {
    const otel::retry_options options{milliseconds(100), milliseconds(1000), 2.0};
    const uint64_t lowest = 0, highest = ~uint64_t{0};
    const std::pair<int, int64_t> rows[] = {{1, 100}, {2, 200},  {3, 400},
                                            {4, 800}, {5, 1000}, {40, 1000}};
    for (const auto& [attempt, full] : rows) {
        EXPECT_EQ(otel::retry_delay(options, attempt, {}, lowest).count(), full / 2) << attempt;
        EXPECT_NEAR(otel::retry_delay(options, attempt, {}, highest).count(), full, 1) << attempt;
    }
    EXPECT_EQ(otel::retry_delay(options, 3, milliseconds(2500), highest), milliseconds(2500));
    // "Retry-After: 0" does not make retries run back to back.
    EXPECT_EQ(otel::retry_delay(options, 3, milliseconds(0), lowest), milliseconds(100));
}

TEST(RetryPolicy, RetryAfterIsSecondsOrAnHttpDateInAnyOfItsForms) {
    const int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    const std::pair<const char*, int64_t> rows[] = {
        {"0", 0},
        {" 3 ", 3000},
        {"Sun, 06 Nov 1994 08:49:47 GMT", 10000},
        {"Sun, 06 Nov 1994 08:49:27 GMT", 0},  // in the past: at once
        {"Mon, 07 Nov 1994 08:49:37 GMT", 86400000},
        {"Sunday, 06-Nov-94 08:49:47 GMT", 10000},
        {"Monday, 07-Nov-94 08:49:37 GMT", 86400000},
        {"Tuesday, 06-Nov-35 08:49:47 GMT", 1293840010000},  // two digits: 2035
        {"Sun Nov  6 08:49:47 1994", 10000},
        {"Mon Nov 07 08:49:37 1994", 86400000},
        {"Sun Nov  6 08:49:47 1994 GMT", -1},
        {"Sun Nov 6 08:49:47 1994", -1},
        {"Sunday, 06-Nov-1994 08:49:47 GMT", -1},
        {"Sun, 06 Nov 1994 25:49:47 GMT", -1},
        {"Sun, 31 Feb 1994 08:49:47 GMT x", -1},
        {"-1", -1},
        {"1.5", -1},
        {"soon", -1},
        {"Sun, 06 Nov 1994 08:49:47 UTC", -1},
        {"Sun, 06 Foo 1994 08:49:47 GMT", -1},
        {"", -1},
    };
    for (const auto& [text, expected] : rows) {
        const auto parsed = otel::parse_retry_after(text, now);
        EXPECT_EQ(parsed ? parsed->count() : -1, expected) << text;
    }
}

}  // namespace
