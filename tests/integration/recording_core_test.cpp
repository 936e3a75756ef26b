// The recording core under what an application's process does to it: threads that exit with
// tracers open, callbacks that call back in, tracers that never end or nest without end,
// explicit parents, too many attributes, a refused call, and many threads at once. Seen
// through the console agent behind the real library.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/test_agent_module.h"
#include "agent_contract.h"
#include "support/console_agent_fixture.h"
#include "support/run_together.h"

namespace {

class RecordingCoreConcurrency : public console_agent_fixture {};

#define QUORIN_CORE(slot, result_type, name, params, args, unbound) \
    constexpr size_t slot_of_##name = slot;
#include "core_api.inc"
#undef QUORIN_CORE

std::atomic<int> log_calls{0};
void count_log(const char*) { log_calls.fetch_add(1); }

// The console indents a tracer by two spaces per level below its tree's root.
size_t depth_of(const std::string& line) {
    const size_t spaces = line.find_first_not_of(' ');
    return spaces == std::string::npos || spaces < 2 ? 0 : (spaces - 2) / 2;
}

// A new thread may get the id of one that exited; it must not get what that thread left open.
TEST_F(RecordingCoreConcurrency, ThreadsThatExitTakeTheirOpenTracersWithThem) {
    initialize();
    constexpr int thread_count = 64;
    std::atomic<int> inherited{0};
    for (int i = 0; i < thread_count; ++i) {
        std::thread([&] {
            if (!current_trace_id().empty()) inherited.fetch_add(1);
            const quorin_handle_t request = quorin_customservicetracer_create_p("run", "Job");
            quorin_tracer_start(request);
            // Leaves with the request open.
        }).join();
    }
    EXPECT_EQ(inherited.load(), 0);

    const std::vector<std::string> lines = shutdown_and_read();
    // Every request heads a tree of its own, none nested in another thread's.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  custom service  Job.run  (not ended)"),
              thread_count)
        << joined(lines);
    EXPECT_EQ(count_starting(lines, "trace "), static_cast<size_t>(thread_count));
}

std::atomic<int> verbose_calls{0}, warning_calls{0};

void verbose_that_calls_the_api(const char*) {
    verbose_calls.fetch_add(1);
    quorin_agent_get_current_state();
    quorin_tracer_start(0);  // draws a warning
}

void warning_that_draws_a_warning(const char*) {
    warning_calls.fetch_add(1);
    quorin_tracer_end(0);
}

TEST_F(RecordingCoreConcurrency, CallbacksThatCallTheApiRaiseNoFurtherCallbacks) {
    initialize();
    const std::vector<std::string> before = read_output();
    verbose_calls = 0, warning_calls = 0;
    quorin_agent_set_warning_callback(warning_that_draws_a_warning);
    quorin_agent_set_verbose_callback(verbose_that_calls_the_api);
    verbose_calls = 0, warning_calls = 0;
    const std::string start_warning = "# warning: quorin_tracer_start: the tracer handle is 0";
    const std::string end_warning = "# warning: quorin_tracer_end: the tracer handle is 0";

    quorin_tracer_start(0);

    EXPECT_EQ(verbose_calls.load(), 1);
    EXPECT_EQ(warning_calls.load(), 1);
    // The calls the callbacks made are traced all the same: the call's own warning, and one
    // from each callback's call. The verbose callback also received the call that set it.
    const std::vector<std::string> after = shutdown_and_read();
    EXPECT_EQ(count_starting(after, start_warning) - count_starting(before, start_warning), 1u + 2u)
        << joined(after);
    EXPECT_EQ(count_starting(after, end_warning) - count_starting(before, end_warning), 1u)
        << joined(after);
}

// The tracers inside a root that never ends are printed once the held part of its tree
// reaches its bound, with a note; the rest when the root ends (here: at shutdown).
TEST_F(RecordingCoreConcurrency, AnUnendedRootDoesNotHoldBackTheTracersInsideIt) {
    initialize();
    const quorin_handle_t root = quorin_incomingwebrequesttracer_create_p(0, "/forever", "GET");
    quorin_tracer_start(root);
    constexpr size_t children = 600;
    for (size_t i = 0; i < children; ++i) {
        const quorin_handle_t child = quorin_customservicetracer_create_p("step", "Job");
        quorin_tracer_start(child);
        quorin_tracer_end(child);
    }
    const std::string child_line = "    custom service  Job.step  ";
    const std::vector<std::string> before = read_output();
    EXPECT_GE(count_starting(before, child_line), 2 * size_t{256}) << joined(before);
    EXPECT_EQ(count_starting(before, "# 256 tracers above printed before the outermost tracer"),
              2u);

    const std::vector<std::string> lines = shutdown_and_read();
    EXPECT_EQ(count_starting(lines, child_line), children);
    EXPECT_EQ(count_starting(lines, "  incoming web request  GET /forever  (not ended)"), 1u);
}

TEST_F(RecordingCoreConcurrency, NestingIsTrackedToALimitAndDeeperTracersAreStillReported) {
    initialize();
    constexpr size_t levels = 200, limit = 64;
    std::vector<quorin_handle_t> open;
    for (size_t i = 0; i < levels; ++i) {
        open.push_back(quorin_customservicetracer_create_p("step", "Deep"));
        quorin_tracer_start(open.back());
    }
    EXPECT_FALSE(current_trace_id().empty());
    for (auto tracer = open.rbegin(); tracer != open.rend(); ++tracer) quorin_tracer_end(*tracer);

    const std::vector<std::string> lines = shutdown_and_read();
    std::vector<size_t> depths;
    for (const std::string& line : lines) {
        if (line.find("custom service  Deep.step  ") != std::string::npos) {
            depths.push_back(depth_of(line));
        }
    }
    ASSERT_EQ(depths.size(), levels) << joined(lines);
    EXPECT_EQ(*std::max_element(depths.begin(), depths.end()), limit);
    EXPECT_EQ(std::count(depths.begin(), depths.end(), limit),
              static_cast<std::ptrdiff_t>(levels - limit));
    EXPECT_EQ(count_starting(lines,
                             "# warning: quorin_tracer_start: tracers nest at most 64 "
                             "levels deep on one thread"),
              1u);
}

// A tag or a link is an explicit parent: it wins over the tracer that is open on the receiving
// thread, and its span is the parent printed with the tree.
TEST_F(RecordingCoreConcurrency, TagsAndLinksCarryTheTraceAndParentOverTheThreadsOwnTracer) {
    initialize();
    const quorin_handle_t outgoing = quorin_outgoingwebrequesttracer_create_p("http://b/", "GET");
    quorin_tracer_start(outgoing);
    char string_tag[128] = {};
    size_t string_size = 0;
    EXPECT_EQ(quorin_tracer_get_outgoing_corvantis_string_tag(outgoing, string_tag,
                                                              sizeof string_tag, &string_size),
              49u);
    EXPECT_EQ(string_size, 50u);
    unsigned char byte_tag[64] = {};
    size_t byte_size = 0;
    EXPECT_EQ(quorin_tracer_get_outgoing_corvantis_byte_tag(outgoing, byte_tag, sizeof byte_tag,
                                                            &byte_size),
              49u);
    unsigned char link[64] = {};
    size_t link_size = 0;
    EXPECT_EQ(
        quorin_inprocesslink_create(reinterpret_cast<uintptr_t>(link), sizeof link, &link_size),
        49u);
    quorin_tracer_end(outgoing);
    const std::string trace_id = std::string(string_tag).substr(0, 32);
    const std::string continued = "trace " + trace_id + "  parent=" + (string_tag + 33);

    // Each receiver starts inside a tracer of its thread's own trace.
    auto receive_inside_own_tracer = [&](auto create_receiver) {
        const quorin_handle_t own = quorin_customservicetracer_create_p("serve", "Own");
        quorin_tracer_start(own);
        const std::string own_trace = current_trace_id();
        const quorin_handle_t receiver = create_receiver();
        quorin_tracer_start(receiver);
        EXPECT_EQ(current_trace_id(), trace_id);
        quorin_tracer_end(receiver);
        EXPECT_EQ(current_trace_id(), own_trace);
        quorin_tracer_end(own);
    };
    receive_inside_own_tracer([&] {
        const quorin_handle_t by_string = quorin_incomingremotecalltracer_create_p("m", "s", "e");
        quorin_tracer_set_incoming_corvantis_string_tag_p(by_string, string_tag);
        return by_string;
    });
    receive_inside_own_tracer([&] {
        const quorin_handle_t by_bytes = quorin_incomingremotecalltracer_create_p("m", "s", "e");
        quorin_tracer_set_incoming_corvantis_byte_tag(by_bytes, byte_tag, byte_size);
        return by_bytes;
    });
    std::thread([&] {
        receive_inside_own_tracer([&] {
            return quorin_inprocesslinktracer_create(reinterpret_cast<uintptr_t>(link), link_size);
        });
    }).join();

    const std::vector<std::string> lines = shutdown_and_read();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "trace " + trace_id), 1) << joined(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), continued), 3) << joined(lines);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        // The receiver heads a tree of its own, not nested in the thread's own tracer.
        if (lines[i] == continued) {
            EXPECT_EQ(lines[i + 1].rfind("  in", 0), 0u) << lines[i + 1];
        }
    }
    EXPECT_EQ(line_starting(lines, "# warning"), -1) << joined(lines);
}

TEST_F(RecordingCoreConcurrency, AttributesBeyondTheLimitAreDroppedAndCounted) {
    initialize();
    const quorin_handle_t request = quorin_outgoingwebrequesttracer_create_p("/many", "GET");
    quorin_tracer_start(request);
    std::vector<std::string> texts;
    for (int i = 0; i < 100; ++i) texts.push_back(std::to_string(1000 + i));
    std::vector<const char*> names;
    for (const std::string& text : texts) names.push_back(text.c_str());
    std::vector<int64_t> numbers(names.size(), 7);
    for (int call = 0; call < 3; ++call) {
        quorin_outgoingwebrequesttracer_add_request_headers_p(request, names.data(), names.data(),
                                                              BY_VALUE(names.size()));
    }
    quorin_customrequestattribute_add_integers_p(names.data(), numbers.data(), BY_VALUE(50));
    quorin_outgoingwebrequesttracer_set_status_code(request, 200);
    quorin_tracer_end(request);

    const std::vector<std::string> lines = shutdown_and_read();
    const int line = line_starting(lines, "  outgoing web request  GET /many  ");
    ASSERT_GE(line, 0) << joined(lines);
    const std::string& text = lines[line];
    size_t headers = 0;
    for (size_t at = text.find("  request."); at != std::string::npos;
         at = text.find("  request.", at + 1)) {
        ++headers;
    }
    // The method and the URL are two of the 128.
    EXPECT_EQ(headers, 126u);
    EXPECT_NE(text.find("(225 attributes dropped)"), std::string::npos) << text;
    EXPECT_EQ(count_starting(lines, "# warning: "), 1u) << joined(lines);
}

std::atomic<int> callbacks_run{0};
void warning_that_calls_in(const char*) {
    callbacks_run.fetch_add(1);
    quorin_tracer_end(0);
}
void verbose_that_calls_in(const char*) {
    callbacks_run.fetch_add(1);
    quorin_agent_get_current_state();
}

// What one thread hands the next: links to continue, tracers to end.
struct mailbox {
    std::mutex mutex;
    std::vector<std::string> links;
    std::vector<quorin_handle_t> tracers;
};

void empty_mailbox(mailbox& box) {
    std::vector<std::string> links;
    std::vector<quorin_handle_t> tracers;
    {
        std::lock_guard<std::mutex> hold(box.mutex);
        links.swap(box.links), tracers.swap(box.tracers);
    }
    for (const std::string& link : links) {
        const quorin_handle_t linked = quorin_inprocesslinktracer_create(
            reinterpret_cast<uintptr_t>(link.data()), link.size());
        quorin_tracer_start(linked);
        quorin_tracer_end(linked);
    }
    for (const quorin_handle_t tracer : tracers) quorin_tracer_end(tracer);
}

TEST_F(RecordingCoreConcurrency, EightThreadsPassLinksEndEachOthersTracersAndMisuseHandles) {
    initialize();
    callbacks_run = 0;
    quorin_agent_set_warning_callback(warning_that_calls_in);
    quorin_agent_set_verbose_callback(verbose_that_calls_in);
    const quorin_handle_t application = quorin_webapplicationinfo_create_p("srv", "shop", "/");
    const quorin_handle_t counter = quorin_integercountermetric_create_p("shop", "served", "1");
    const quorin_handle_t gauge = quorin_floatgaugemetric_create_p("shop", "load", "%");
    constexpr int thread_count = 8, rounds = 120;
    mailbox boxes[thread_count];

    run_together(thread_count, [&](int index) {
        mailbox& next = boxes[(index + 1) % thread_count];
        const char* names[] = {"Host", "Accept"};
        const char* values[] = {"shop", "*/*"};
        const char* keys[] = {"thread"};
        const int64_t numbers[] = {index};
        for (int round = 0; round < rounds; ++round) {
            const quorin_handle_t request =
                quorin_incomingwebrequesttracer_create_p(BY_VALUE(application), "/r", "GET");
            quorin_tracer_start(request);
            quorin_incomingwebrequesttracer_add_request_headers_p(request, names, values,
                                                                  BY_VALUE(2));
            quorin_customrequestattribute_add_integers_p(keys, numbers, BY_VALUE(1));
            std::string link(64, '\0');
            size_t link_size = 0;
            quorin_inprocesslink_create(reinterpret_cast<uintptr_t>(link.data()), link.size(),
                                        &link_size);
            link.resize(link_size);
            const quorin_handle_t outgoing = quorin_outgoingwebrequesttracer_create_p("/o", "GET");
            quorin_tracer_start(outgoing);
            {
                std::lock_guard<std::mutex> hold(next.mutex);
                next.links.push_back(link);
                next.tracers.push_back(outgoing);  // ended by the next thread
            }
            const quorin_handle_t span = quorin_ex_spantracer_create(2);
            quorin_ex_spantracer_set_strings_p(span, keys, values, BY_VALUE(1));
            quorin_tracer_start(span);
            quorin_tracer_end(span);
            quorin_integercountermetric_increase_by_p(counter, 1, "web");
            quorin_floatgaugemetric_set_value_p(gauge, 0.5 * round, nullptr);
            // Wrong handles: invented, of the wrong kind, already ended.
            quorin_tracer_end(0xDEADBEEF);
            quorin_tracer_start(counter);
            quorin_integercountermetric_increase_by_p(request, 1, nullptr);
            quorin_tracer_end(span);
            quorin_incomingwebrequesttracer_set_status_code(request, 200);
            quorin_tracer_end(request);
            empty_mailbox(boxes[index]);
        }
    });
    for (mailbox& box : boxes) empty_mailbox(box);

    const std::vector<std::string> lines = shutdown_and_read();
    const auto count = [&](const std::string& text) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    constexpr std::ptrdiff_t total = thread_count * rounds;
    // Each tracer printed once, whatever thread ended it; none left open.
    EXPECT_EQ(count("incoming web request  GET /r  "), total);
    EXPECT_EQ(count("outgoing web request  GET /o  "), total);
    EXPECT_EQ(count("in-process link  "), total);
    EXPECT_EQ(count("span  "), total);
    EXPECT_EQ(count("metric integer counter shop/served += 1 1  dimension=web"), total);
    EXPECT_EQ(count("metric float gauge shop/load = "), total);
    EXPECT_EQ(count("(not ended)"), 0);
    EXPECT_EQ(count("attribute.thread="), total);
    // Four wrong handles per round, and one more warning from the warning callback's call on
    // each. (A thread whose outgoing requests wait for a slower thread to end them may nest
    // deeper than the limit, too.)
    const std::ptrdiff_t too_deep = count(": tracers nest at most 64 levels deep");
    EXPECT_EQ(count("# warning: "), 2 * (4 * total + too_deep));
    EXPECT_GT(callbacks_run.load(), 0);
}

// What the module does with a call that is not its own: nothing. The module is opened
// without the library, which always passes the right context.
TEST_F(RecordingCoreConcurrency, ACallWithAForeignContextStoresNoCallback) {
    namespace contract = agent_contract;
    std::string path =
        std::string(QUORIN_CONSOLE_AGENT_HOME) + "/agent/lib64/" + QUORIN_TEST_AGENT_FILE_NAME;
    std::replace(path.begin(), path.end(), '/', QUORIN_TEST_PATH_SEPARATOR[0]);
    void* module = test_agent_open(path.c_str());
    ASSERT_NE(module, nullptr) << path;
    const auto initialize_module = reinterpret_cast<contract::initialize_function>(
        test_agent_symbol(module, contract::initialize_symbol));
    const auto get_library = reinterpret_cast<contract::get_library_function>(
        test_agent_symbol(module, contract::get_library_symbol));
    const auto shutdown_module = reinterpret_cast<contract::shutdown_function>(
        test_agent_symbol(module, contract::shutdown_symbol));
    std::u16string option = u"console_output=" + output_.u16string();
    char16_t* options[] = {option.data()};
    char16_t error[contract::error_capacity] = {};
    ASSERT_EQ(initialize_module(1, options, error, contract::error_capacity), QUORIN_STATUS_OK);
    void* library = nullptr;
    ASSERT_EQ(get_library(contract::library_interface_id, contract::library_interface_version,
                          &library, error, contract::error_capacity),
              QUORIN_STATUS_OK);
    const auto agent_initialize = reinterpret_cast<contract::agent_initialize_function>(
        static_cast<void**>(library)[contract::library_agent_initialize_slot]);
    const contract::agent_init_record record{{1, 7, 1, 1}, {}, "test"};
    void* context = nullptr;
    void* table = nullptr;
    ASSERT_EQ(agent_initialize(&record, &context, &table, error, contract::error_capacity),
              QUORIN_STATUS_OK);
    void* const* slots = static_cast<void* const*>(table);
    log_calls = 0;

    void* const foreign = &log_calls;
    reinterpret_cast<void (*)(void*, quorin_agent_logging_callback)>(
        slots[slot_of_quorin_agent_set_logging_callback])(foreign, count_log);
    for (const size_t slot :
         {slot_of_quorin_agent_set_warning_callback, slot_of_quorin_agent_set_verbose_callback}) {
        EXPECT_EQ(reinterpret_cast<quorin_status_t (*)(void*, quorin_agent_logging_callback)>(
                      slots[slot])(foreign, count_log),
                  QUORIN_STATUS_INVALID_ARGUMENT);
    }
    // A warning that reaches the callbacks, if any was stored.
    reinterpret_cast<void (*)(void*, quorin_handle_t)>(slots[slot_of_quorin_tracer_start])(context,
                                                                                           0);
    EXPECT_EQ(log_calls.load(), 0);

    reinterpret_cast<contract::release_function>(slots[contract::release_slot])(context);
    shutdown_module();
    test_agent_close(module);
    const std::vector<std::string> lines = read_output();
    EXPECT_EQ(count_starting(lines, "# warning: quorin_agent_set_"), 3u) << joined(lines);
}

}  // namespace
