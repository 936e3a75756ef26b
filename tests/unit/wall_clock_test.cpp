// The recording core's wall clock: read in a busy loop, it stays with the system clock and
// never turns back on a thread, while its rate is measured, across new anchors, and when it
// falls back to the system clock.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "wall_clock.h"

namespace {

using namespace agent_core;

constexpr uint64_t polling_us = 100000;
constexpr uint64_t tolerance_us = 2000;
// A thread that takes a new anchor reads the counter before it publishes: another thread's
// reading may lie that much after the anchor.
constexpr uint64_t backwards_us = 5;

uint64_t system_now() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

// Reads the clock for polling_us, each reading between two of the system clock's (shifted by
// shift_us), none before the previous one; every expire_every readings (0: never) the anchor's
// time is made up. Returns the readings made.
int poll(uint64_t slack_us, int expire_every, int64_t shift_us = 0, uint64_t previous = 0) {
    const uint64_t end = system_now() + polling_us;
    int readings = 0;
    for (uint64_t before = system_now() + shift_us; before < end + shift_us;
         before = system_now() + shift_us) {
        if (expire_every != 0 && readings % expire_every == expire_every - 1) {
            wall_clock_testing::expire_anchor();
        }
        const uint64_t reading = wall_clock_microseconds();
        const uint64_t after = system_now() + shift_us;
        ++readings;
        EXPECT_GE(reading + slack_us, before) << "reading " << readings;
        EXPECT_LE(reading, after + slack_us) << "reading " << readings;
        EXPECT_GE(reading + backwards_us, previous) << "reading " << readings;
        if (testing::Test::HasFailure()) break;
        previous = reading;
    }
    return readings;
}

struct clock_case {
    const char* what;
    bool system;       // forced to the system clock
    bool fresh;        // rate and anchor forgotten first
    int expire_every;  // readings between new anchors (0: when due)
};

const clock_case clock_cases[] = {
    {"the fallback gives the system clock's readings", true, true, 0},
    {"from the first reading, while the rate is measured and after", false, true, 0},
    {"across new anchors taken again and again", false, false, 1000},
    {"across a new anchor at every reading", false, false, 1},
};

class WallClock : public testing::Test {
  protected:
    void TearDown() override {
        wall_clock_testing::use_system_clock(false);
        wall_clock_testing::shift_system_clock(0);
        wall_clock_testing::shift_counter(0);
    }
};

TEST_F(WallClock, StaysWithTheSystemClockAndNeverTurnsBack) {
    for (const clock_case& row : clock_cases) {
        SCOPED_TRACE(row.what);
        if (row.fresh) wall_clock_testing::start_over();
        wall_clock_testing::use_system_clock(row.system);
        EXPECT_GT(poll(row.system ? 0 : tolerance_us, row.expire_every), 100);
        // A trustworthy counter is in use once its rate is known.
        EXPECT_EQ(wall_clock_testing::counting(),
                  !row.system && wall_clock_testing::counter_trustworthy());
    }
}

struct step_case {
    const char* what;
    int64_t shift_us;
    bool followed;  // else held until the system clock catches up
};

const step_case step_cases[] = {
    {"set back by less than a millisecond", -500, false},
    {"set back by more", -5000, true},
    {"set forward", 5000, true},
};

TEST_F(WallClock, FollowsTheSystemClockSetBackOrForwardButHoldsAgainstSmallStepsBack) {
    if (!wall_clock_testing::counter_trustworthy()) GTEST_SKIP() << "the counter is not used here";
    poll(tolerance_us, 0);
    ASSERT_TRUE(wall_clock_testing::counting());
    for (const step_case& row : step_cases) {
        SCOPED_TRACE(row.what);
        const uint64_t start = system_now();
        const uint64_t before = wall_clock_microseconds();
        wall_clock_testing::shift_system_clock(row.shift_us);
        wall_clock_testing::expire_anchor();
        const uint64_t after = wall_clock_microseconds();
        // The step, or none when held, plus the time the two readings took (long under
        // valgrind).
        const auto elapsed = static_cast<int64_t>(system_now() - start);
        const int64_t moved = static_cast<int64_t>(after - before);
        const int64_t expected = row.followed ? row.shift_us : 0;
        EXPECT_GE(moved, row.followed ? expected - 250 : 0);
        EXPECT_LE(moved, expected + elapsed + 250);
        poll(tolerance_us, 1000, row.shift_us, after);
        wall_clock_testing::shift_system_clock(0);
        wall_clock_testing::expire_anchor();
        wall_clock_microseconds();
    }
}

// A counter that steps back below the anchor (the machine resumed, a virtual machine moved;
// an anchor serves well under 2^32 ticks) does not hold the clock still: the next reading
// takes a new anchor and the clock stays with the system's.
TEST_F(WallClock, StaysWithTheSystemClockWhenTheCounterStepsBack) {
    if (!wall_clock_testing::counter_trustworthy()) GTEST_SKIP() << "the counter is not used here";
    for (const int64_t back : {int64_t{1} << 32, int64_t{1} << 48}) {
        SCOPED_TRACE(back);
        poll(tolerance_us, 0);
        wall_clock_testing::shift_counter(-back);
        poll(tolerance_us, 0);
        wall_clock_testing::shift_counter(0);
        wall_clock_testing::start_over();
    }
}

// Threads that read while one of them makes the anchor's time up again and again never read
// a half-written anchor: each stays with the system clock and never turns back.
class WallClockConcurrency : public WallClock {};

TEST_F(WallClockConcurrency, ThreadsTakingNewAnchorsAtOnceReadWholeOnes) {
    std::vector<std::thread> readers;
    for (int expire_every : {0, 0, 50}) {
        readers.emplace_back([expire_every] { poll(tolerance_us, expire_every); });
    }
    poll(tolerance_us, 7);
    for (std::thread& reader : readers) reader.join();
}

}  // namespace
