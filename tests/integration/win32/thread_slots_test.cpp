// An agent module that finds every thread-local slot of the process taken fails its initialize
// with the reason, instead of making each call's thread state anew; once slots are free again
// it initializes. One slot is left free: the module's C runtime takes one of its own when it
// first needs it, and the agent needs two.
#include <windows.h>

#include <vector>

#include "support/console_agent_fixture.h"
#include "support/scoped_state.h"

namespace {

class ThreadSlots : public console_agent_fixture {};

TEST_F(ThreadSlots, AnAgentWithoutSlotsFailsItsInitializeWithTheReason) {
    std::vector<DWORD> taken;
    for (DWORD index = TlsAlloc(); index != TLS_OUT_OF_INDEXES; index = TlsAlloc()) {
        taken.push_back(index);
    }
    ASSERT_FALSE(taken.empty());
    TlsFree(taken.back());
    taken.pop_back();
    {
        log_capture log(QUORIN_LOGLEVEL_SEVERE);
        EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_GENERIC_ERROR);
        const std::vector<std::u16string> texts = log.texts();
        ASSERT_FALSE(texts.empty());
        EXPECT_NE(
            to_narrow(texts.front()).find("console agent: the process has no thread-local slot"),
            std::string::npos)
            << to_narrow(texts.front());
    }
    for (const DWORD index : taken) TlsFree(index);
    initialize();
    EXPECT_NE(quorin_incomingwebrequesttracer_create_p(0, "/", "GET"), 0u);
    shutdown_and_read();
}

}  // namespace
