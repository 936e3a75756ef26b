// The OpenTelemetry agent through the real library under load and faults of the application: a
// release under load, many threads with forced sends, calls that make no sense.
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "otel_agent_fixture.h"

namespace otel_test {
namespace {

// How often each span name arrived.
std::map<std::string, int> names_of(const std::vector<received_span>& spans) {
    std::map<std::string, int> names;
    for (const received_span& span : spans) ++names[span.name];
    return names;
}

std::string numbered(int thread, int index) {
    return std::to_string(thread) + "-" + std::to_string(index);
}

// A span of the span API named `name` with the attributes worker=<thread> and index=<index>.
quorin_handle_t named_span(const std::string& name, int thread, int index) {
    const quorin_handle_t span = quorin_ex_spantracer_create(0);
    quorin_ex_spantracer_set_operationname_p(span, name.c_str());
    const std::string worker = std::to_string(thread);
    const char* text_keys[] = {"worker"};
    const char* texts[] = {worker.c_str()};
    quorin_ex_spantracer_set_strings_p(span, text_keys, texts, BY_VALUE(1));
    const char* number_keys[] = {"index"};
    const int64_t numbers[] = {index};
    quorin_ex_spantracer_set_integers_p(span, number_keys, numbers, BY_VALUE(1));
    return span;
}

TEST_F(otel_agent_test, ReleaseUnderLoadSendsEveryQueuedSpanOnceBeforeShutdownReturns) {
    set_option("otel_bsp_max_queue_size=65536");
    set_option("otel_bsp_max_export_batch_size=512");
    set_option("otel_timeout=60000");
    initialize();
    capture_warnings();
    constexpr int threads = 4, per_thread = 1500;
    // Every thread holds an initialization of its own: the last one to shut down releases the
    // agent, with spans of every thread queued and each thread's last tracer left open.
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            EXPECT_EQ(quorin_initialize(), QUORIN_STATUS_OK);
            ready.fetch_add(1);
            while (ready.load() <= threads) std::this_thread::yield();
            for (int i = 0; i < per_thread; ++i) {
                const std::string method = numbered(t, i);
                const quorin_handle_t request =
                    quorin_customservicetracer_create_p(method.c_str(), "load");
                quorin_tracer_start(request);
                quorin_tracer_end(request);
            }
            const std::string open = "open-" + std::to_string(t);
            quorin_tracer_start(quorin_customservicetracer_create_p(open.c_str(), "load"));
            EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
        });
    }
    while (ready.load() < threads) std::this_thread::yield();
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);  // not the last: the agent stays
    ready.fetch_add(1);
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(quorin_agent_get_current_state(), 3);  // released

    const auto spans = spans_in(receiver_->requests());
    const auto names = names_of(spans);
    EXPECT_EQ(names.size(), size_t{threads * (per_thread + 1)});
    for (const auto& [name, times] : names) ASSERT_EQ(times, 1) << name;
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(span_named(spans, "load.open-" + std::to_string(t))
                      .attributes["quorin.tracer.not_ended"],
                  "true");
    }
    EXPECT_EQ(receiver_->errors(), "");
    for (const std::string& text : warnings()) ADD_FAILURE() << text;  // nothing was lost
}

TEST_F(otel_agent_test, ConcurrentSpansMetricsAndForcedSendsLoseOrDoubleNothing) {
    set_option("otel_bsp_max_queue_size=65536");
    set_option("otel_bsp_max_export_batch_size=64");  // batches leave while threads trace
    set_option("otel_timeout=60000");
    initialize();
    capture_warnings();
    const quorin_handle_t operations = quorin_integercountermetric_create_p("stress", "ops", "1");
    const quorin_handle_t sizes = quorin_floatstatisticsmetric_create_p("stress", "size", "By");
    constexpr int threads = 4, per_thread = 400;
    std::atomic<bool> tracing{true};
    std::thread sender([&] {
        while (tracing.load()) quorin_ex_agent_force_send_data_now();
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const std::string dimension = std::to_string(t);
            for (int i = 0; i < per_thread; ++i) {
                // A parent with a child that carries attributes of its own.
                const quorin_handle_t outer = named_span(numbered(t, i), t, i);
                quorin_tracer_start(outer);
                const quorin_handle_t inner = named_span("inner-" + numbered(t, i), t, i);
                quorin_tracer_start(inner);
                quorin_integercountermetric_increase_by_p(operations, 1, dimension.c_str());
                quorin_floatstatisticsmetric_add_value_p(sizes, 0.5, dimension.c_str());
                quorin_tracer_end(inner);
                quorin_tracer_end(outer);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    tracing = false;
    sender.join();
    quorin_metric_delete(operations);
    quorin_metric_delete(sizes);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
    const auto all = receiver_->requests();

    const auto spans = spans_in(all);
    std::map<std::string, const received_span*> by_name;
    for (const received_span& span : spans) {
        ASSERT_TRUE(by_name.emplace(span.name, &span).second) << span.name << " arrived twice";
    }
    ASSERT_EQ(spans.size(), size_t{2 * threads * per_thread});
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < per_thread; ++i) {
            const received_span& outer = *by_name.at(numbered(t, i));
            const received_span& inner = *by_name.at("inner-" + numbered(t, i));
            const fields expected = {{"worker", std::to_string(t)}, {"index", std::to_string(i)}};
            EXPECT_EQ(outer.attributes, expected);
            EXPECT_EQ(inner.attributes, expected);
            EXPECT_EQ(inner.parent, outer.span);
            EXPECT_EQ(inner.trace, outer.trace);
        }
    }
    // The counters are cumulative: the last point of each thread's series holds its total.
    std::map<std::string, std::string> last_count, last_statistics;
    for (const received_point& point : points_in(all)) {
        auto& last = point.metric == "stress.ops" ? last_count : last_statistics;
        last[point.attributes.at("dimension")] = point.value;
    }
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(last_count[std::to_string(t)], std::to_string(per_thread));
        EXPECT_EQ(last_statistics[std::to_string(t)], std::to_string(per_thread));
    }
    EXPECT_EQ(receiver_->errors(), "");
    for (const std::string& text : warnings()) ADD_FAILURE() << text;
}

// Handles a bad call may be given: live ones of each kind, and dead or invented ones.
struct handles {
    quorin_handle_t target;  // a started span of its own, which the call may spoil
    quorin_handle_t metric;
    quorin_handle_t database;
    quorin_handle_t ended;  // a tracer that ended: its handle is dead
    quorin_handle_t deleted_metric;
};

struct bad_call {
    const char* what;
    std::function<void(const handles&)> make;
    const char* reported;  // a part of the warning it gives
};

const bad_call bad_calls[] = {
    {"a metric handle to a tracer call", [](const handles& h) { quorin_tracer_end(h.metric); },
     "not a tracer"},
    {"a tracer handle to a metric call",
     [](const handles& h) { quorin_integercountermetric_increase_by_p(h.target, 1, "x"); },
     "not a metric"},
    {"a database info where a tracer belongs",
     [](const handles& h) { quorin_tracer_start(h.database); }, "not a tracer"},
    {"a tracer that ended", [](const handles& h) { quorin_tracer_end(h.ended); },
     "unknown tracer handle"},
    {"a metric that was deleted",
     [](const handles& h) { quorin_floatgaugemetric_set_value_p(h.deleted_metric, 1, "x"); },
     "unknown metric handle"},
    {"an invented handle", [](const handles&) { quorin_tracer_start(0x5eed0000deadbeefull); },
     "unknown tracer handle"},
    {"the handle 0", [](const handles&) { quorin_tracer_error_p(0, "E", "m"); }, "handle is 0"},
    {"an end without a start",
     [](const handles&) { quorin_tracer_end(quorin_customservicetracer_create_p("m", "S")); },
     "ended without a start"},
    {"a second start", [](const handles& h) { quorin_tracer_start(h.target); },
     "was started already"},
    {"null texts",
     [](const handles&) {
         const quorin_handle_t tracer = quorin_outgoingwebrequesttracer_create_p(nullptr, nullptr);
         quorin_tracer_start(tracer);
         quorin_tracer_end(tracer);
     },
     "is a null pointer"},
    {"a null key array",
     [](const handles& h) {
         const int64_t values[] = {1, 2};
         quorin_ex_spantracer_set_integers_p(h.target, nullptr, values, BY_VALUE(2));
     },
     "null pointer"},
    {"a null key in the array",
     [](const handles& h) {
         const char* keys[] = {nullptr};
         const double values[] = {1};
         quorin_ex_spantracer_set_doubles_p(h.target, keys, values, BY_VALUE(1));
     },
     "key 0 is a null pointer"},
    {"a negative count",
     [](const handles& h) {
         const char* keys[] = {"k"};
         const char* values[] = {"v"};
         quorin_ex_spantracer_set_strings_p(h.target, keys, values, BY_VALUE(-1));
     },
     "is more than 1024"},
    {"a huge count of headers",
     [](const handles&) {
         const char* names[] = {"Host"};
         const char* values[] = {"h"};
         const quorin_handle_t call = quorin_outgoingwebrequesttracer_create_p("http://x/", "GET");
         quorin_outgoingwebrequesttracer_add_request_headers_p(call, names, values,
                                                               BY_VALUE(uint64_t{1} << 40));
     },
     "is more than 1024"},
    {"a tracer call on a tracer of another kind",
     [](const handles& h) { quorin_outgoingwebrequesttracer_set_status_code(h.target, 200); },
     "of kind 'span'"},
    {"a byte tag of absurd size",
     [](const handles& h) {
         const unsigned char tag[4] = {};
         quorin_tracer_set_incoming_corvantis_byte_tag(h.target, tag, SIZE_MAX);
     },
     "cannot be read"},
    {"a link at address 1 of absurd size",
     [](const handles&) { quorin_inprocesslinktracer_create(1, UINT64_MAX); }, "cannot be read"},
    {"a negative row count",
     [](const handles&) {
         const quorin_handle_t query = quorin_databaserequesttracer_create_sql_p(nullptr, "q");
         quorin_databaserequesttracer_set_returned_row_count(query, -7);
     },
     "negative row count -7"},
    {"a value a gauge cannot take",
     [](const handles& h) { quorin_floatgaugemetric_set_value_p(h.metric, NAN, "x"); },
     "not a value this metric can take"},
    {"an end before the start",
     [](const handles&) {
         const quorin_handle_t tracer = quorin_customservicetracer_create_p("early", "S");
         quorin_tracer_start(tracer);
         quorin_ex_tracer_end_timed(tracer, 1);
     },
     "before the start time"},
};

TEST_F(otel_agent_test, CallsThatMakeNoSenseAreReportedAndSpoilNoOtherSpan) {
    initialize();
    capture_warnings();
    const quorin_handle_t database = quorin_databaseinfo_create_p("d", "v", 1, "h:1");
    int row_number = 0;
    for (const bad_call& row : bad_calls) {
        SCOPED_TRACE(row.what);
        const int n = ++row_number;
        // A good span around the bad call, with attributes before and after it.
        const quorin_handle_t good = named_span("good-" + std::to_string(n), n, n);
        quorin_tracer_start(good);
        handles h{};
        h.target = named_span("target-" + std::to_string(n), 0, 0);
        quorin_tracer_start(h.target);
        h.metric = quorin_floatgaugemetric_create_p("bad", "gauge", "1");
        h.database = database;
        h.ended = quorin_customservicetracer_create_p("ended", "S");
        quorin_tracer_start(h.ended);
        quorin_tracer_end(h.ended);
        h.deleted_metric = quorin_floatgaugemetric_create_p("bad", "deleted", "1");
        quorin_metric_delete(h.deleted_metric);

        const size_t before = warnings().size();
        row.make(h);
        const auto texts = warnings();
        bool reported = false;
        for (size_t i = before; i < texts.size(); ++i) {
            reported = reported || texts[i].find(row.reported) != std::string::npos;
        }
        EXPECT_TRUE(reported) << "no warning with '" << row.reported << "' among "
                              << texts.size() - before;
        const char* keys[] = {"after"};
        const char* values[] = {"bad call"};
        quorin_ex_spantracer_set_strings_p(good, keys, values, BY_VALUE(1));
        quorin_ex_tracer_end_timed(h.target, 0);
        quorin_tracer_end(good);
        quorin_metric_delete(h.metric);
    }
    quorin_databaseinfo_delete(database);
    const auto spans = shutdown_and_receive_spans();
    for (int n = 1; n <= row_number; ++n) {
        SCOPED_TRACE(bad_calls[n - 1].what);
        const received_span good = span_named(spans, "good-" + std::to_string(n));
        EXPECT_EQ(good.attributes, (fields{{"worker", std::to_string(n)},
                                           {"index", std::to_string(n)},
                                           {"after", "bad call"}}));
        EXPECT_EQ(good.status, 0);
        EXPECT_TRUE(good.events.empty());
        EXPECT_EQ(span_named(spans, "target-" + std::to_string(n)).parent, good.span);
    }
}

// A warning callback that asks for a send: it runs on the exporter thread when the exporter
// reports a refusal, and the send it asks for must not wait for that thread.
std::atomic<int> sends_asked{0};
void send_on_warning(const char*) {
    sends_asked.fetch_add(1);
    quorin_ex_agent_force_send_data_now();
}

TEST_F(otel_agent_test, AWarningCallbackThatAsksForASendHoldsNothingUp) {
    receiver_->script("400");
    set_option("otel_timeout=60000");
    initialize();
    ASSERT_EQ(quorin_agent_set_warning_callback(&send_on_warning), QUORIN_STATUS_OK);
    for (const char* name : {"refused", "sent"}) {
        const quorin_handle_t span = named_span(name, 0, 0);
        quorin_tracer_start(span);
        quorin_tracer_end(span);
        const auto before = std::chrono::steady_clock::now();
        quorin_ex_agent_force_send_data_now();
        // A bound against hanging, far below the export timeout the exporter would wait.
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20)) << name;
    }
    EXPECT_GE(sends_asked.load(), 1);
    const auto requests = receiver_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].status, 200);
    EXPECT_EQ(span_named(spans_in({requests[1]}), "sent").name, "sent");
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
}

}  // namespace
}  // namespace otel_test
