// Every allocation the library makes in a whole application cycle (command-line variables,
// initialization with a real agent module, forwarded calls, shutdown) is made to fail in turn.
// Each failure ends in a documented status, loses no variable, leaves the agent's calls
// balanced, and the next cycle initializes again. Leaks would show under LSan.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "agent/test_agent_module.h"
#include "platform/platform.h"
#include "support/heap_faults.h"
#include "support/scoped_environment.h"
#include "support/scoped_state.h"
#include "support/variable_store_view.h"

namespace {

std::u16string from_ascii(const char* text) {
    return std::u16string(text, text + std::strlen(text));
}

// ENOMEM (POSIX) or ERROR_NOT_ENOUGH_MEMORY (Windows) from the backend when it cannot make the
// module path it hands the system's loader.
constexpr quorin_status_t platform_out_of_memory = QUORIN_TEST_WINDOWS ? 8 : 12;
constexpr uint32_t init_flags = 5;
const std::u16string load_failed =
    u"Could not load agent module for Corvantis Kestrane SDK for C/C++: ";

struct cycle_outcome {
    quorin_status_t arguments;
    quorin_status_t initialized;
    bool forwarded;
    quorin_status_t shut_down;
};

class AllocationCycle : public testing::Test {
  protected:
    void SetUp() override {
        reset_library_state();
        ASSERT_TRUE(agent_.loaded());
        argument_texts_ = {u"prog", u"--cv_home=" + from_ascii(QUORIN_TEST_HOME), u"-v",
                           u"--cv_extra=1", u"--cv_agentactive=yes"};
        for (std::u16string& text : argument_texts_) {
            arguments_.push_back(reinterpret_cast<quorin_wchar_t*>(text.data()));
        }
        expected_store_ = {argument_texts_[1].substr(5), u"extra=1", u"agentactive=yes",
                           u"QUORIN_INTERNAL_CA627667445C40F0_INIT_FLAGS=5"};
    }
    void TearDown() override {
        platform_heap_fail_nth(0);
        reset_library_state();
        agent_.reset();
    }

    // The application's whole cycle; the variables are set again (replaced) every time.
    cycle_outcome run_cycle() {
        cycle_outcome outcome{};
        outcome.arguments = quorin_stub_process_cmdline_args(
            static_cast<int32_t>(arguments_.size()), arguments_.data(), 1);
        outcome.initialized = quorin_initialize_2(init_flags);
        outcome.forwarded = quorin_incomingwebrequesttracer_create_p(nullptr, nullptr, nullptr) ==
                                test_agent_handle(test_agent_functions, 23) &&
                            quorin_integercountermetric_create_p(nullptr, nullptr, nullptr) ==
                                test_agent_handle(test_agent_metrics, 1);
        outcome.shut_down = quorin_shutdown();
        return outcome;
    }

    void expect_good_cycle(const char* when) {
        const cycle_outcome outcome = run_cycle();
        EXPECT_EQ(outcome.arguments, QUORIN_STATUS_OK) << when;
        EXPECT_EQ(outcome.initialized, QUORIN_STATUS_OK) << when;
        EXPECT_TRUE(outcome.forwarded) << when;
        EXPECT_EQ(outcome.shut_down, QUORIN_STATUS_OK) << when;
    }

    test_agent_module agent_{QUORIN_TEST_AGENT_FILE};
    std::vector<std::u16string> argument_texts_;
    std::vector<quorin_wchar_t*> arguments_;
    std::vector<std::u16string> expected_store_;
    // A level from the environment makes the library read and convert a value there too.
    scoped_environment_variable level_{u"CV_LOGLEVELSDK", u"finest"};
    scoped_environment_variable active_{u"CV_AGENTACTIVE", u"false"};  // the variable wins
    scoped_environment_variable library_{u"CV_AGENTLIBRARY", nullptr};
    scoped_environment_variable home_{u"CV_HOME", nullptr};
};

}  // namespace

TEST_F(AllocationCycle, EveryAllocationFailingInTurnEndsCleanly) {
    log_capture log(QUORIN_LOGLEVEL_FINEST);
    expect_good_cycle("first cycle");  // creates the variables; later cycles replace them
    const uint64_t before = platform_heap_allocations();
    expect_good_cycle("counted cycle");
    const uint64_t sites = platform_heap_allocations() - before;
    ASSERT_GT(sites, 8u);
    ASSERT_EQ(stored_variables(), expected_store_);

    std::map<std::string, int> outcomes;
    for (uint64_t nth = 1; nth <= sites; ++nth) {
        log.clear();
        agent_.reset();
        const uint64_t start = platform_heap_allocations();
        cycle_outcome outcome;
        {
            scoped_allocation_failure fail(nth);
            outcome = run_cycle();
        }
        ASSERT_GE(platform_heap_allocations() - start, nth) << "allocation " << nth;

        const std::set<quorin_status_t> documented = {QUORIN_STATUS_OK, QUORIN_STATUS_OUT_OF_MEMORY,
                                                      platform_out_of_memory};
        EXPECT_TRUE(outcome.arguments == QUORIN_STATUS_OK ||
                    outcome.arguments == QUORIN_STATUS_OUT_OF_MEMORY)
            << "allocation " << nth << ": " << outcome.arguments;
        EXPECT_TRUE(documented.contains(outcome.initialized))
            << "allocation " << nth << ": " << std::hex << outcome.initialized;
        if (outcome.initialized == QUORIN_STATUS_OK) {
            EXPECT_TRUE(outcome.forwarded) << "allocation " << nth;
            EXPECT_EQ(outcome.shut_down, QUORIN_STATUS_OK) << "allocation " << nth;
        } else {
            EXPECT_FALSE(outcome.forwarded) << "allocation " << nth;
            EXPECT_EQ(outcome.shut_down, QUORIN_STATUS_NOT_INITIALIZED) << "allocation " << nth;
            // A failed initialization says why in the log, once; except when it could not even
            // store its flags variable: then it did not start at all.
            bool started = false;
            std::vector<log_line> failures;
            for (const log_line& line : log.lines()) {
                started |= line.text == u"Initializing Corvantis Kestrane SDK for C/C++ ...";
                if (line.text.starts_with(load_failed)) failures.push_back(line);
            }
            EXPECT_EQ(failures.size(), started ? 1u : 0u) << "allocation " << nth;
            if (started && outcome.initialized == QUORIN_STATUS_OUT_OF_MEMORY) {
                EXPECT_EQ(failures.at(0),
                          (log_line{QUORIN_LOGLEVEL_SEVERE, load_failed + u"Out of memory."}))
                    << "allocation " << nth;
            }
        }
        // Whatever the agent module was asked to start, it was asked to stop again.
        EXPECT_EQ(agent_->initialize_calls.load(), agent_->shutdown_calls.load())
            << "allocation " << nth;
        EXPECT_EQ(agent_->agent_initialize_calls.load(), agent_->release_calls.load())
            << "allocation " << nth;
        EXPECT_EQ(stored_variables(), expected_store_) << "allocation " << nth;

        char label[64];
        std::snprintf(label, sizeof label, "arguments %X, initialize %X", outcome.arguments,
                      outcome.initialized);
        ++outcomes[label];
        expect_good_cycle("after a failed allocation");
    }
    std::printf("[ figures  ] %llu allocation sites in one cycle, each made to fail:\n",
                static_cast<unsigned long long>(sites));
    for (const auto& [label, count] : outcomes)
        std::printf("[ figures  ]   %3d x %s\n", count, label.c_str());
}
