// The extension interfaces with the home test agent: metrics come with every initialization,
// the other four once the application enables them; every forwarder reaches its slot with its
// arguments at their widths, and none forwards without a bound agent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorin.h"
#include "support/agent_fixture.h"

namespace {

struct enabling {
    const char* name;
    quorin_status_t (*enable)();
    uint32_t interface_id;
    test_agent_table table;
};

const std::vector<enabling> enablings = {
    {"span", quorin_ex_api_enable_span, agent_contract::span_interface_id, test_agent_span},
    {"techtype", quorin_ex_api_enable_techtype, agent_contract::techtype_interface_id,
     test_agent_techtype},
    {"tracer_ext", quorin_ex_api_enable_tracer_ext, agent_contract::tracer_ext_interface_id,
     test_agent_tracer_ext},
    {"serverless", quorin_ex_api_enable_serverless, agent_contract::serverless_interface_id,
     test_agent_serverless},
};

std::vector<api_row> rows_of(test_agent_table table) {
    std::vector<api_row> rows;
    for (const api_row& row : extension_rows()) {
        if (row.table == table) rows.push_back(row);
    }
    return rows;
}

class Extensions : public agent_fixture {
  protected:
    // Every row of the table answers its default and the agent sees no call.
    void expect_table_unbound(test_agent_table table) {
        const uint64_t calls = agent().call_count.load();
        for (const api_row& row : rows_of(table)) {
            EXPECT_EQ(row.call(zero_arguments(row)), row.unbound) << row.name;
        }
        EXPECT_EQ(agent().call_count.load(), calls) << "table " << table;
    }
};

}  // namespace

TEST_F(Extensions, MetricsForwardFromTheFirstInitializationToTheLastShutdown) {
    set_home(QUORIN_TEST_HOME);
    expect_table_unbound(test_agent_metrics);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    // The floating-point updates hand the slot a double after the metric handle.
    for (const api_row& row : rows_of(test_agent_metrics)) {
        expect_row_forwards(agent(), row, home_context);
    }
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    for (const api_row& row : rows_of(test_agent_metrics)) {
        expect_row_forwards(agent(), row, home_context);
    }
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    expect_table_unbound(test_agent_metrics);
}

TEST_F(Extensions, OtherInterfacesForwardOnlyOnceEnabled) {
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    for (const enabling& extension : enablings) {
        SCOPED_TRACE(extension.name);
        expect_table_unbound(extension.table);

        clear_log();
        const uint32_t requests = agent().get_library_calls.load();
        EXPECT_EQ(extension.enable(), QUORIN_STATUS_OK);
        EXPECT_EQ(
            logged(),
            (std::vector<log_line>{{4, u"Loaded extension API " + u16(extension.name) + u"."}}));
        EXPECT_EQ(agent().get_library_calls.load(), requests + 1);
        EXPECT_EQ(agent().requested_ids().back(), extension.interface_id);
        EXPECT_EQ(agent().recorded_events().back().version, 6u);
        // The serverless row checks that the forced send passes the context alone.
        for (const api_row& row : rows_of(extension.table)) {
            expect_row_forwards(agent(), row, home_context);
        }
    }
    ASSERT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    for (const enabling& extension : enablings) expect_table_unbound(extension.table);
}

TEST_F(Extensions, EnablingBeforeInitializationIsRefusedSilently) {
    for (const enabling& extension : enablings) {
        SCOPED_TRACE(extension.name);
        EXPECT_EQ(extension.enable(), QUORIN_STATUS_NOT_INITIALIZED);
        expect_table_unbound(extension.table);
    }
    EXPECT_EQ(logged(), std::vector<log_line>{});
    EXPECT_EQ(agent().event_count.load(), 0u);
}

TEST_F(Extensions, RefusedEnablingLogsTheAgentTextOrTheStatusText) {
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    for (const enabling& extension : enablings) {
        SCOPED_TRACE(extension.name);
        const std::u16string prefix =
            u"Failed to load extension API " + u16(extension.name) + u": ";

        agent().refusal_count = 0;
        agent().refuse(extension.interface_id, 0x20000007, u"not licensed");
        clear_log();
        EXPECT_EQ(extension.enable(), 0x20000007u);
        EXPECT_EQ(logged(), (std::vector<log_line>{{6, prefix + u"not licensed"}}));

        agent().refusal_count = 0;
        agent().refuse(extension.interface_id, QUORIN_STATUS_FEATURE_LEVEL_UNSUPPORTED);
        clear_log();
        EXPECT_EQ(extension.enable(), QUORIN_STATUS_FEATURE_LEVEL_UNSUPPORTED);
        EXPECT_EQ(logged(), (std::vector<log_line>{{6, prefix + u"Feature level not supported."}}));

        expect_table_unbound(extension.table);
    }
    // A refusal leaves the binding as it was.
    EXPECT_EQ(current_load_info(), (load_info{1, 1}));
    EXPECT_EQ(quorin_incomingwebrequesttracer_create_p(nullptr, nullptr, nullptr),
              test_agent_handle(test_agent_functions, 23));
}

TEST_F(Extensions, FailedEnablingLeavesTheExtensionOff) {
    // Whatever a refusing agent wrote is never used, and a success without an interface is a
    // refusal: the extension stays off, also when it had been enabled before.
    struct scripted {
        const char* name;
        uint32_t status;
        bool store_when_refusing;
        quorin_status_t expected;
    };
    const std::vector<scripted> cases = {
        {"refused after storing its interface", 0x20000007, true, 0x20000007},
        {"granted as null", QUORIN_STATUS_OK, false, QUORIN_STATUS_INTERFACE_UNSUPPORTED},
    };
    set_home(QUORIN_TEST_HOME);
    ASSERT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
    for (const enabling& extension : enablings) {
        for (const scripted& c : cases) {
            SCOPED_TRACE(std::string(extension.name) + ": " + c.name);
            agent().refusal_count = 0;
            ASSERT_EQ(extension.enable(), QUORIN_STATUS_OK);
            agent().refuse(extension.interface_id, c.status);
            agent().store_when_refusing = c.store_when_refusing ? 1 : 0;
            clear_log();
            EXPECT_EQ(extension.enable(), c.expected);
            EXPECT_EQ(
                logged(),
                (std::vector<log_line>{{6, u"Failed to load extension API " + u16(extension.name) +
                                               u": " + status_text(c.expected)}}));
            expect_table_unbound(extension.table);
        }
    }
}
