// Stress under real threads, more of them than processors: variables set while another thread
// initializes, and initialize/shutdown cycles on many threads around a held reference while
// others call forwarders. Each test prints its figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agent/test_agent_module.h"
#include "quorin.h"
#include "support/run_together.h"
#include "support/scoped_state.h"

namespace {

using clock_type = std::chrono::steady_clock;

int oversubscribed_thread_count() {
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<int>(std::max(6u, 3 * processors));
}

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

std::u16string from_ascii(const char* text) {
    return std::u16string(text, text + std::strlen(text));
}

quorin_status_t set(const std::u16string& text, int32_t replace = 0) {
    return quorin_stub_set_variable(wide(text.c_str()), replace);
}

class StressConcurrency : public testing::Test {
  protected:
    void SetUp() override {
        reset_library_state();
        ASSERT_TRUE(agent_.loaded());
    }
    void TearDown() override {
        reset_library_state();
        agent_.reset();
    }

    // The test agent below the test home; the environment cannot point elsewhere.
    static void configure_home() {
        ASSERT_EQ(set(u"home=" + from_ascii(QUORIN_TEST_HOME)), QUORIN_STATUS_OK);
        ASSERT_EQ(set(u"agentlibrary="), QUORIN_STATUS_OK);
        ASSERT_EQ(set(u"agentactive=true"), QUORIN_STATUS_OK);
    }

    test_agent_module agent_{QUORIN_TEST_AGENT_FILE};
};

// A variable text long enough that a torn copy would show.
std::u16string race_variable(int thread, int index) {
    std::u16string name = u"race" + std::u16string(1, char16_t(u'a' + thread)) +
                          std::u16string(1, char16_t(u'a' + index));
    std::u16string value;
    for (int i = 0; i < 40; ++i) value.push_back(char16_t(u'A' + (thread * 7 + index + i) % 26));
    return name + u"=" + value;
}

}  // namespace

// The store is read once, under its lock, at the initialization that loads the module: the
// agent receives each thread's variables up to some point, in the order they were set, every
// one whole; those it did not receive were set afterwards and are in the store.
TEST_F(StressConcurrency, VariablesSetWhileInitializingAreReceivedWholeOrStoredAfter) {
    constexpr int setter_count = 3;
    constexpr int variables_per_setter = 9;  // with the home and the flags: within 32 options
    constexpr int rounds = 40;
    int rounds_split = 0;  // rounds where the agent got some variables of a thread but not all
    size_t received_total = 0;
    const auto start = clock_type::now();
    for (int round = 0; round < rounds; ++round) {
        quorin_stub_free_variables();
        configure_home();
        agent_.reset();
        std::atomic<int> failed_sets{0};
        std::atomic<int> sets_done{0};
        // The initialization starts after a different number of sets in every round.
        const int head_start = round * setter_count * variables_per_setter / rounds;
        quorin_status_t status = ~0u;
        run_together(
            setter_count,
            [&](int t) {
                for (int i = 0; i < variables_per_setter; ++i) {
                    if (set(race_variable(t, i)) != QUORIN_STATUS_OK) failed_sets.fetch_add(1);
                    sets_done.fetch_add(1);
                    std::this_thread::yield();  // more interleavings with the initialization
                }
            },
            [&] {
                while (sets_done.load() < head_start) std::this_thread::yield();
                status = quorin_initialize();
            });
        ASSERT_EQ(status, QUORIN_STATUS_OK) << "round " << round;
        ASSERT_EQ(failed_sets.load(), 0);

        const uint64_t count = agent_->option_count;
        ASSERT_LE(count, test_agent_max_options);
        std::vector<int> received(setter_count, 0);
        for (uint64_t k = 0; k < count; ++k) {
            const std::u16string option = agent_->option(k);
            if (!option.starts_with(u"race")) continue;
            const int t = option[4] - u'a';
            ASSERT_TRUE(t >= 0 && t < setter_count) << to_narrow(option);
            // Each thread's variables arrive in the order it set them, and whole.
            EXPECT_EQ(option, race_variable(t, received[t])) << "round " << round;
            ++received[t];
        }
        int received_in_round = 0;
        for (int t = 0; t < setter_count; ++t) received_in_round += received[t];
        EXPECT_EQ(count, 2u + received_in_round) << "home, flags and the race variables only";
        for (int t = 0; t < setter_count; ++t) {
            received_total += received[t];
            if (received[t] > 0 && received[t] < variables_per_setter) ++rounds_split;
            for (int i = 0; i < variables_per_setter; ++i) {
                EXPECT_EQ(set(race_variable(t, i).substr(0, 7) + u"=again"),
                          QUORIN_STATUS_ENTRY_EXISTS);
            }
        }
        ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
        EXPECT_EQ(agent_->initialize_calls.load(), 1u);
        EXPECT_EQ(agent_->shutdown_calls.load(), 1u);
    }
    std::printf(
        "[ figures  ] %d rounds of %d setters x %d variables against an initialization: "
        "%zu variables received, %d thread-splits, %.2f s\n",
        rounds, setter_count, variables_per_setter, received_total, rounds_split,
        seconds_since(start));
}

// Many threads nest initialize/shutdown pairs inside a reference the test holds, while others
// call forwarders: the module is loaded and the agent initialized once, every forwarded call
// reaches the agent exactly once, and the last shutdown releases everything once.
TEST_F(StressConcurrency, InitializeShutdownCyclesAroundAHeldReferenceWithForwardersRunning) {
    const int cycler_count = oversubscribed_thread_count();
    constexpr int cycles = 1000;
    constexpr int caller_count = 3;
    configure_home();
    constexpr uint64_t state = 7;
    agent_->result(test_agent_functions, 3) = state;
    const uint64_t web_handle = test_agent_handle(test_agent_functions, 23);
    const uint64_t metric_handle = test_agent_handle(test_agent_metrics, 1);

    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    const auto start = clock_type::now();
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> forwarded{0};
    std::atomic<uint64_t> answered_by_agent[3]{};
    std::atomic<uint64_t> unexpected{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < caller_count; ++c) {
        callers.emplace_back([&] {
            // Unbound these return 0, 0 and 3; bound, the agent's scripted values.
            while (!stop.load()) {
                const quorin_handle_t web =
                    quorin_incomingwebrequesttracer_create_p(nullptr, nullptr, nullptr);
                const quorin_handle_t metric =
                    quorin_integercountermetric_create_p(nullptr, nullptr, nullptr);
                const int32_t current = quorin_agent_get_current_state();
                if (web == web_handle) answered_by_agent[0].fetch_add(1);
                if (metric == metric_handle) answered_by_agent[1].fetch_add(1);
                if (uint64_t(current) == state) answered_by_agent[2].fetch_add(1);
                if ((web != web_handle && web != 0) || (metric != metric_handle && metric != 0) ||
                    (uint64_t(current) != state && current != 3)) {
                    unexpected.fetch_add(1);
                }
                forwarded.fetch_add(1);
            }
        });
    }
    std::atomic<int> failed_cycles{0};
    run_together(
        cycler_count,
        [&](int) {
            for (int i = 0; i < cycles; ++i) {
                const quorin_status_t initialized = quorin_initialize();
                const quorin_status_t shut_down = quorin_shutdown();
                if (initialized != QUORIN_STATUS_OK || shut_down != QUORIN_STATUS_OK) {
                    failed_cycles.fetch_add(1);
                }
            }
        },
        [] {});
    stop.store(true);
    for (std::thread& caller : callers) caller.join();
    const double elapsed = seconds_since(start);

    EXPECT_EQ(failed_cycles.load(), 0);
    EXPECT_EQ(unexpected.load(), 0u);
    // The held reference kept the agent bound throughout.
    EXPECT_EQ(answered_by_agent[0].load(), forwarded.load());
    EXPECT_EQ(answered_by_agent[1].load(), forwarded.load());
    EXPECT_EQ(answered_by_agent[2].load(), forwarded.load());
    EXPECT_EQ(agent_->slot_calls[test_agent_functions][23].load(), forwarded.load());
    EXPECT_EQ(agent_->slot_calls[test_agent_metrics][1].load(), forwarded.load());
    EXPECT_EQ(agent_->slot_calls[test_agent_functions][3].load(), forwarded.load());
    EXPECT_EQ(agent_->initialize_calls.load(), 1u);
    EXPECT_EQ(agent_->agent_initialize_calls.load(), 1u);
    EXPECT_EQ(agent_->release_calls.load(), 0u);
    EXPECT_EQ(agent_->shutdown_calls.load(), 0u);

    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_EQ(agent_->release_calls.load(), 1u);
    EXPECT_EQ(agent_->shutdown_calls.load(), 1u);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(quorin_incomingwebrequesttracer_create_p(nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(quorin_agent_get_current_state(), 3);
    std::printf(
        "[ figures  ] %d threads x %d initialize/shutdown cycles around a held "
        "reference, %llu forwarded call triples on %d threads, %.2f s\n",
        cycler_count, cycles, static_cast<unsigned long long>(forwarded.load()), caller_count,
        elapsed);
}
