// The console agent behind the real library: the trace it writes, and its handling of
// arguments it cannot interpret (it must report them, never crash).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "support/console_agent_fixture.h"
#include "support/scoped_state.h"

namespace {

std::mutex messages_mutex;
std::vector<std::string> warnings, verbose_messages, log_messages;

void on_warning(const char* message) {
    // Runs outside the agent's lock: calling the API again must not deadlock.
    quorin_agent_get_current_state();
    std::lock_guard<std::mutex> lock(messages_mutex);
    warnings.emplace_back(message);
}
void on_verbose(const char* message) {
    std::lock_guard<std::mutex> lock(messages_mutex);
    verbose_messages.emplace_back(message);
}
void on_log(const char* message) {
    std::lock_guard<std::mutex> lock(messages_mutex);
    log_messages.emplace_back(message);
}

bool contains(const std::vector<std::string>& list, const std::string& text) {
    std::lock_guard<std::mutex> lock(messages_mutex);
    return std::find(list.begin(), list.end(), text) != list.end();
}

class ConsoleAgentTest : public console_agent_fixture {
  protected:
    void SetUp() override {
        console_agent_fixture::SetUp();
        std::lock_guard<std::mutex> lock(messages_mutex);
        warnings.clear(), verbose_messages.clear(), log_messages.clear();
    }
};

TEST_F(ConsoleAgentTest, WritesOneTreePerRequestWithAttributesDurationsAndErrors) {
    initialize();
    const quorin_handle_t application = quorin_webapplicationinfo_create_p("srv", "shop", "/");
    const quorin_handle_t database = quorin_databaseinfo_create_p("orders", "sql", 1, "db:5432");
    const quorin_handle_t counter = quorin_integercountermetric_create_p("shop", "orders", "count");

    const quorin_handle_t request =
        quorin_incomingwebrequesttracer_create_p(BY_VALUE(application), "/orders?id=7", "GET");
    const char* names[] = {"Host"};
    const char* values[] = {"shop.example"};
    quorin_incomingwebrequesttracer_add_request_headers_p(request, names, values, BY_VALUE(1));
    quorin_tracer_start(request);
    char trace_id[33], span_id[17];
    ASSERT_EQ(quorin_tracecontext_get_current(trace_id, sizeof trace_id, span_id, sizeof span_id),
              QUORIN_STATUS_OK);

    const quorin_handle_t query =
        quorin_databaserequesttracer_create_sql_p(BY_VALUE(database), "SELECT 1");
    quorin_tracer_start(query);
    quorin_databaserequesttracer_set_returned_row_count(query, 3);
    quorin_tracer_end(query);
    const quorin_handle_t service = quorin_customservicetracer_create_p("charge", "Payment");
    quorin_tracer_start(service);
    quorin_tracer_error_p(service, "Declined", "card expired");
    quorin_tracer_end(service);
    quorin_integercountermetric_increase_by_p(counter, 5, "web");
    quorin_incomingwebrequesttracer_set_status_code(request, 200);
    quorin_tracer_end(request);

    const std::vector<std::string> lines = shutdown_and_read();
    const int header = line_starting(lines, "trace ");
    ASSERT_GE(header, 0) << joined(lines);
    EXPECT_EQ(lines[header], std::string("trace ") + trace_id);
    // The tree is printed parent first, children indented below it in start order, although
    // the children ended first.
    ASSERT_GE(lines.size(), static_cast<size_t>(header + 4)) << joined(lines);
    const std::string& root = lines[header + 1];
    EXPECT_EQ(root.rfind("  incoming web request  GET /orders?id=7  ", 0), 0u) << root;
    EXPECT_NE(root.find(" ms  server=srv  application=shop  context_root=/"), std::string::npos);
    EXPECT_NE(root.find("request.Host=shop.example"), std::string::npos) << root;
    EXPECT_NE(root.find("status=200"), std::string::npos) << root;
    EXPECT_EQ(lines[header + 2].rfind("    database request  SELECT 1  ", 0), 0u);
    EXPECT_NE(lines[header + 2].find("channel=\"tcp/ip db:5432\"  rows=3"), std::string::npos);
    EXPECT_EQ(lines[header + 3].rfind("    custom service  Payment.charge  ", 0), 0u);
    EXPECT_NE(lines[header + 3].find("error Declined: card expired"), std::string::npos);
    EXPECT_TRUE(has_line(lines, "metric integer counter shop/orders += 5 count  dimension=web"))
        << joined(lines);
    EXPECT_EQ(line_starting(lines, "# warning"), -1) << joined(lines);
}

TEST_F(ConsoleAgentTest, ReportsTracersLeftOpenAtShutdown) {
    initialize();
    const quorin_handle_t outer = quorin_customservicetracer_create_p("run", "Job");
    quorin_tracer_start(outer);
    const quorin_handle_t inner = quorin_customservicetracer_create_p("step", "Job");
    quorin_tracer_start(inner);
    const quorin_handle_t never = quorin_customservicetracer_create_p("never", "Job");

    const std::vector<std::string> lines = shutdown_and_read();
    const int header = line_starting(lines, "trace ");
    ASSERT_GE(header, 0) << joined(lines);
    EXPECT_EQ(lines[header + 1], "  custom service  Job.run  (not ended)");
    EXPECT_EQ(lines[header + 2], "    custom service  Job.step  (not ended)");
    EXPECT_TRUE(has_line(lines, "# warning: custom service " + std::to_string(never) +
                                    " was created but never started"))
        << joined(lines);
}

// Every export once with null pointers and 0, once with null pointers and a number that is no
// handle (and an absurd size): nothing may crash, and the agent goes on working.
template <typename T>
T filler(uint64_t number) {
    if constexpr (std::is_pointer_v<T>) {
        return nullptr;
    } else {
        return static_cast<T>(number);
    }
}

template <typename Result, typename... Parameters>
void call_with(Result (*function)(Parameters...), [[maybe_unused]] uint64_t number) {
    function(filler<Parameters>(number)...);
}

struct export_call {
    const char* name;
    void (*invoke)(uint64_t number);
};

#define QUORIN_CORE(slot, result_type, name, params, args, unbound) \
    {#name, [](uint64_t number) { call_with(&name, number); }},
#define QUORIN_EXTENSION(interface, slot, result_type, name, params, args, unbound) \
    {#name, [](uint64_t number) { call_with(&name, number); }},
const export_call every_export[] = {
#include "core_api.inc"
#include "extension_api.inc"
};
#undef QUORIN_CORE
#undef QUORIN_EXTENSION

TEST_F(ConsoleAgentTest, ReportsNullPointersUnknownHandlesAndAbsurdCountsWithoutCrashing) {
    initialize();
    quorin_agent_set_warning_callback(on_warning);
    for (const uint64_t number : {uint64_t{0}, uint64_t{0xDEADBEEF}}) {
        for (const export_call& entry : every_export) {
            SCOPED_TRACE(entry.name);
            entry.invoke(number);
        }
    }
    quorin_agent_set_warning_callback(on_warning);  // the sweep set it to null

    const quorin_handle_t database = quorin_databaseinfo_create_p("d", "v", 1, "e");
    quorin_tracer_start(database);
    const quorin_handle_t request = quorin_outgoingwebrequesttracer_create_p("/a\nb\x01", "GET");
    const char* names[] = {nullptr, "Accept"};
    const char* values[] = {"x", "text/\xff"};
    quorin_outgoingwebrequesttracer_add_request_headers_p(request, names, values, BY_VALUE(2));
    quorin_outgoingwebrequesttracer_add_response_headers_p(request, names, values,
                                                           BY_VALUE(UINT64_MAX));
    quorin_incomingwebrequesttracer_set_status_code(request, 200);
    quorin_ex_tracer_start_2(request, 0, 0);
    quorin_ex_tracer_end_timed(request, 1);

    const std::vector<std::string> lines = shutdown_and_read();
    const std::string database_handle = std::to_string(database);
    for (const std::string& warning :
         {std::string("quorin_tracer_start: the tracer handle is 0 (no object)"),
          std::string("quorin_tracer_end: unknown tracer handle 3735928559"),
          std::string("quorin_incomingwebrequesttracer_create_p: the URL is a null pointer"),
          std::string("quorin_metric_delete: unknown metric handle 3735928559"),
          std::string("quorin_incomingwebrequesttracer_add_request_headers_p: the tracer handle "
                      "is 0 (no object)"),
          "quorin_tracer_start: handle " + database_handle + " is a database info, not a tracer",
          std::string("quorin_outgoingwebrequesttracer_add_request_headers_p: name 0 is a null "
                      "pointer"),
          std::string("quorin_outgoingwebrequesttracer_add_response_headers_p: count "
                      "18446744073709551615 is more than 1024: the call is ignored"),
          std::string("quorin_incomingwebrequesttracer_set_status_code: tracer ") +
              std::to_string(request) +
              " is of kind 'outgoing web request', not 'incoming web "
              "request'",
          std::string("quorin_ex_tracer_end_timed: the end time lies before the start time")}) {
        EXPECT_TRUE(has_line(lines, "# warning: " + warning)) << warning << "\n" << joined(lines);
    }
    EXPECT_TRUE(contains(warnings, "quorin_tracer_start: handle " + database_handle +
                                       " is a database info, not a tracer"));

    // The well-formed request after all that is traced, its texts kept on one line.
    const int traced = line_starting(lines, "  outgoing web request  GET /a\\nb\\x01  0.000 ms");
    ASSERT_GE(traced, 0) << joined(lines);
    EXPECT_NE(lines[traced].find("request.Accept=text/\xEF\xBF\xBD"), std::string::npos)
        << lines[traced];
}

TEST_F(ConsoleAgentTest, CallbacksReceiveTheAgentsMessagesAndMayCallTheApi) {
    initialize();
    EXPECT_EQ(quorin_agent_set_warning_callback(on_warning), QUORIN_STATUS_OK);
    EXPECT_EQ(quorin_agent_set_verbose_callback(on_verbose), QUORIN_STATUS_OK);
    quorin_agent_set_logging_callback(on_log);

    quorin_tracer_start(0);
    const quorin_handle_t tracer = quorin_customservicetracer_create_p("m", "S");

    const std::string warning = "quorin_tracer_start: the tracer handle is 0 (no object)";
    EXPECT_TRUE(contains(warnings, warning));
    EXPECT_TRUE(contains(log_messages, warning));
    EXPECT_TRUE(contains(verbose_messages, "quorin_tracer_start(0)"));
    EXPECT_TRUE(contains(verbose_messages, "quorin_customservicetracer_create_p -> tracer " +
                                               std::to_string(tracer)));
    shutdown_and_read();
    EXPECT_TRUE(contains(log_messages, "console agent released"));
}

TEST_F(ConsoleAgentTest, AnOutputThatCannotBeOpenedFailsTheInitialization) {
    const auto missing = std::filesystem::temp_directory_path() / "quorin-no-such-folder" / "out";
    set_variable(u"console_output=" + missing.u16string());
    log_capture log(QUORIN_LOGLEVEL_SEVERE);

    EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_GENERIC_ERROR);

    const std::vector<std::u16string> texts = log.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(to_narrow(texts.front())
                  .rfind("Could not initialize Corvantis Kestrane SDK for C/C++: console agent: "
                         "cannot open the output '",
                         0),
              0u)
        << to_narrow(texts.front());
    int32_t found = 0, compatible = 0;
    quorin_stub_get_agent_load_info(&found, &compatible);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(quorin_incomingwebrequesttracer_create_p(0, "/", "GET"), 0u);
}

}  // namespace
