// Initializations and shutdowns from several threads at once, with forwarded calls running
// beside them: the counts stay balanced, the agent is initialized and released exactly once
// per binding, and every forwarded call gets either the agent's answer or its default.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace {

constexpr int pair_threads = 3;
constexpr int pairs_per_thread = 100;
constexpr int forwarding_threads = 2;
constexpr int forwards_per_thread = 500;

const quorin_handle_t web_request_handle = test_agent_handle(test_agent_functions, 23);
const quorin_handle_t counter_handle = test_agent_handle(test_agent_metrics, 1);

quorin_handle_t create_web_request() {
    return quorin_incomingwebrequesttracer_create_p(nullptr, nullptr, nullptr);
}

// Counts the answers of one forwarder: the agent's, the default, or anything else.
struct answers {
    std::atomic<uint64_t> agent{0};
    std::atomic<uint64_t> unbound{0};
    std::atomic<uint64_t> wrong{0};

    void count(quorin_handle_t answer, quorin_handle_t agent_answer) {
        if (answer == agent_answer) {
            ++agent;
        } else if (answer == 0) {
            ++unbound;
        } else {
            ++wrong;
        }
    }
};

class LifecycleConcurrency : public agent_fixture {
  protected:
    void SetUp() override {
        agent_fixture::SetUp();
        quorin_stub_set_logging_level(QUORIN_LOGLEVEL_NONE);
        set_home(QUORIN_TEST_HOME);
    }
};

}  // namespace

TEST_F(LifecycleConcurrency, PairsWhileTheFirstReferenceIsHeld) {
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);

    std::atomic<int> failed_pairs{0};
    answers web_requests, counters, spans;
    std::vector<std::thread> threads;
    for (int t = 0; t < pair_threads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < pairs_per_thread; ++i) {
                const bool initialized = quorin_initialize_2(static_cast<uint32_t>(i)) == 0;
                web_requests.count(create_web_request(), web_request_handle);
                if (!initialized || quorin_shutdown() != QUORIN_STATUS_OK) ++failed_pairs;
            }
        });
    }
    for (int t = 0; t < forwarding_threads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < forwards_per_thread; ++i) {
                web_requests.count(create_web_request(), web_request_handle);
                counters.count(quorin_integercountermetric_create_p(nullptr, nullptr, nullptr),
                               counter_handle);
                // Never enabled: the default while the agent forwards everything else.
                spans.count(quorin_ex_spantracer_create(0), test_agent_handle(test_agent_span, 0));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(failed_pairs.load(), 0);
    for (const answers* counted : {&web_requests, &counters, &spans}) {
        EXPECT_EQ(counted->wrong.load(), 0u);
    }
    EXPECT_EQ(agent().slot_calls[test_agent_functions][23].load(), web_requests.agent.load());
    EXPECT_EQ(agent().slot_calls[test_agent_metrics][1].load(), counters.agent.load());
    EXPECT_EQ(agent().slot_calls[test_agent_span][0].load(), 0u);
    EXPECT_EQ(web_requests.agent.load(),
              uint64_t{pair_threads * pairs_per_thread + forwarding_threads * forwards_per_thread})
        << "the held reference keeps the agent bound throughout";
    EXPECT_EQ(agent().initialize_calls.load(), 1u);
    EXPECT_EQ(agent().agent_initialize_calls.load(), 1u);
    EXPECT_EQ(agent().release_calls.load(), 0u);
    EXPECT_EQ(agent().shutdown_calls.load(), 0u);

    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    EXPECT_EQ(agent().release_calls.load(), 1u);
    EXPECT_EQ(agent().released_context, home_context);
    EXPECT_EQ(agent().shutdown_calls.load(), 1u);
    EXPECT_EQ(current_load_info(), (load_info{0, 0}));
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED);
}

TEST_F(LifecycleConcurrency, PairsRaceForTheFirstInitialization) {
    std::atomic<int> failed_pairs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < pair_threads + 1; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < pairs_per_thread / 4; ++i) {
                if (quorin_initialize() != QUORIN_STATUS_OK) ++failed_pairs;
                if (quorin_shutdown() != QUORIN_STATUS_OK) ++failed_pairs;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(failed_pairs.load(), 0);
    // Each binding is initialized once and released once, whoever did it.
    const uint32_t bindings = agent().initialize_calls.load();
    EXPECT_GE(bindings, 1u);
    EXPECT_EQ(agent().shutdown_calls.load(), bindings);
    EXPECT_EQ(agent().agent_initialize_calls.load(), bindings);
    EXPECT_EQ(agent().release_calls.load(), bindings);
    EXPECT_EQ(current_load_info(), (load_info{0, 0}));
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_NOT_INITIALIZED);
}
