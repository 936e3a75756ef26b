// The recording core without a module around it: what it hands an output (the tracers with
// their parents, typed attributes, metric updates), its handles, and its per-thread states.
// The output here keeps everything for the test to read.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "output.h"
#include "recorder.h"
#include "slots.h"

namespace {

using namespace agent_core;

#define BY_VALUE(n) reinterpret_cast<const void*>(static_cast<uintptr_t>(n))

struct kept_metric {
    metric_event event;
    std::string group, key, unit, dimension;
};

class recording_output final : public agent_output {
  public:
    const char16_t* version() const override { return u"recording output"; }
    const char* name() const override { return "recording output"; }
    bool configure(const std::vector<agent_option>&, std::string*) override { return true; }
    void close() override {}
    void session_started(const session_info&) override {}
    void session_ended() override {}
    void tracer_ended(record_ptr tracer) override {
        std::lock_guard<std::mutex> hold(mutex);
        tracers.push_back(std::move(tracer));
    }
    void metric_updated(const metric_event& event) override {
        std::lock_guard<std::mutex> hold(mutex);
        metrics.push_back({event, std::string(event.group), std::string(event.key),
                           std::string(event.unit), std::string(event.dimension)});
    }
    void process_technology_added(int32_t, std::string_view, std::string_view) override {}
    void warning(std::string_view text) override {
        std::lock_guard<std::mutex> hold(mutex);
        warnings.emplace_back(text);
    }
    uint8_t trace_flags(const trace_id&, const trace_context* parent) const override {
        return parent != nullptr ? parent->flags : root_flags;
    }

    uint8_t root_flags = 1;  // 0: new traces are not recorded

    std::mutex mutex;
    std::vector<record_ptr> tracers;
    std::vector<kept_metric> metrics;
    std::vector<std::string> warnings;
};

recording_output& output() {
    static recording_output instance;
    return instance;
}

}  // namespace

agent_output& agent_core::module_output() { return output(); }

namespace {

class RecordingCore : public testing::Test {
  protected:
    void SetUp() override {
        the_recorder().begin(session_info{{1, 7, 1, 1}, "test"});
        output().tracers.clear(), output().metrics.clear(), output().warnings.clear();
        output().root_flags = 1;
    }
    void TearDown() override { the_recorder().release(context); }

    void* const context = &the_recorder();
};

template <typename Id>
bool same(const Id& a, const Id& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The attribute of that key; fails the test when there is none.
attribute_view attribute_of(const object_record& tracer, attribute_key key) {
    attribute_view found{};
    EXPECT_NE(tracer.find(key, &found), nullptr) << static_cast<int>(key);
    return found;
}

const char* const host_name[] = {"Host"};
const char* const host_value[] = {"shop.example"};

// An incoming web request made from a web application info and started, with a Host header
// and a custom attribute "Host" of 3.
quorin_handle_t started_request_with_attributes(void* context) {
    namespace api = slots;
    const quorin_handle_t application =
        api::quorin_webapplicationinfo_create_p(context, "srv", "shop", "/");
    const quorin_handle_t request = api::quorin_incomingwebrequesttracer_create_p(
        context, BY_VALUE(application), "/orders", "GET");
    api::quorin_tracer_start(context, request);
    api::quorin_incomingwebrequesttracer_add_request_headers_p(context, request, host_name,
                                                               host_value, BY_VALUE(1));
    const int64_t tier[] = {3};
    api::quorin_customrequestattribute_add_integers_p(context, host_name, tier, BY_VALUE(1));
    return request;
}

TEST_F(RecordingCore, HandsEachTracerToTheOutputWithItsParentAndTypedAttributes) {
    namespace api = slots;
    const quorin_handle_t request = started_request_with_attributes(context);
    const quorin_handle_t child = api::quorin_customservicetracer_create_p(context, "pay", "Bank");
    api::quorin_tracer_start(context, child);
    api::quorin_tracer_error_p(context, child, "Declined", "expired");
    unsigned char link[64];
    size_t link_size = 0;
    api::quorin_inprocesslink_create(context, reinterpret_cast<uintptr_t>(link), sizeof link,
                                     &link_size);
    api::quorin_tracer_end(context, child);
    api::quorin_incomingwebrequesttracer_set_status_code(context, request, 200);
    api::quorin_tracer_end(context, request);
    const quorin_handle_t linked = api::quorin_inprocesslinktracer_create(
        context, reinterpret_cast<uintptr_t>(link), link_size);
    api::quorin_tracer_start(context, linked);
    api::quorin_tracer_end(context, linked);
    const quorin_handle_t counter =
        api::quorin_integercountermetric_create_p(context, "shop", "orders", "count");
    api::quorin_integercountermetric_increase_by_p(context, counter, 5, "web");

    ASSERT_EQ(output().tracers.size(), 3u);
    const object_record& ended_child = *output().tracers[0];
    const object_record& ended_request = *output().tracers[1];
    const object_record& ended_linked = *output().tracers[2];
    EXPECT_FALSE(ended_request.has_parent);
    EXPECT_EQ(ended_request.root, request);
    EXPECT_TRUE(ended_child.has_parent);
    EXPECT_EQ(ended_child.depth, 1u);
    EXPECT_EQ(ended_child.root, request);
    EXPECT_TRUE(same(ended_child.parent, ended_request.context.span));
    EXPECT_TRUE(same(ended_child.context.trace, ended_request.context.trace));
    EXPECT_EQ(ended_child.error_type, "Declined");
    EXPECT_EQ(ended_child.error_message, "expired");
    EXPECT_LE(ended_request.start_us, ended_request.end_us);
    EXPECT_EQ(ended_request.state, end_state::ended);
    // A link is an explicit parent: the child's span, in the child's trace.
    EXPECT_TRUE(ended_linked.explicit_parent);
    EXPECT_TRUE(same(ended_linked.parent, ended_child.context.span));
    EXPECT_TRUE(same(ended_linked.context.trace, ended_request.context.trace));

    EXPECT_EQ(attribute_of(ended_request, attribute_key::url).text, "/orders");
    EXPECT_EQ(attribute_of(ended_request, attribute_key::web_server_name).text, "srv");
    const attribute_view header = attribute_of(ended_request, attribute_key::request_header);
    EXPECT_EQ(header.name, "Host");
    EXPECT_EQ(header.text, "shop.example");
    const attribute_view custom = attribute_of(ended_request, attribute_key::custom);
    EXPECT_EQ(custom.type, value_type::integer);
    EXPECT_EQ(custom.integer, 3);
    const attribute_view status = attribute_of(ended_request, attribute_key::status_code);
    EXPECT_EQ(status.type, value_type::integer);
    EXPECT_EQ(status.integer, 200);

    ASSERT_EQ(output().metrics.size(), 1u);
    const kept_metric& metric = output().metrics[0];
    EXPECT_EQ(metric.event.metric, counter);
    EXPECT_EQ(metric.event.kind, metric_kind::counter);
    EXPECT_FALSE(metric.event.floating);
    EXPECT_EQ(metric.event.integer, 5);
    EXPECT_EQ(metric.group + "/" + metric.key + " " + metric.unit + " " + metric.dimension,
              "shop/orders count web");
    EXPECT_TRUE(output().warnings.empty());
}

// What a tracer of an unrecorded trace is created with stays; what is added after its start
// is not read. Calls it does not fit are still reported.
TEST_F(RecordingCore, AnUnrecordedTracerKeepsWhatItWasCreatedWith) {
    namespace api = slots;
    output().root_flags = 0;
    const quorin_handle_t request = started_request_with_attributes(context);
    api::quorin_incomingwebrequesttracer_set_status_code(context, request, 200);
    api::quorin_incomingwebrequesttracer_set_remote_address_p(context, request, "10.0.0.1:5000");
    api::quorin_outgoingwebrequesttracer_set_status_code(context, request, 200);
    api::quorin_incomingwebrequesttracer_add_request_headers_p(context, request, host_name,
                                                               host_value, BY_VALUE(5000));
    api::quorin_tracer_end(context, request);

    ASSERT_EQ(output().tracers.size(), 1u);
    const object_record& ended = *output().tracers[0];
    EXPECT_EQ(ended.context.flags, 0);
    std::vector<std::string> kept;
    for (size_t i = 0; i < ended.attribute_count(); ++i) {
        kept.emplace_back(ended.attribute(i).text);
    }
    EXPECT_EQ(kept, (std::vector<std::string>{"srv", "shop", "/", "GET", "/orders"}));
    ASSERT_EQ(output().warnings.size(), 2u);
    EXPECT_NE(output().warnings[0].find("not 'outgoing web request'"), std::string::npos);
    EXPECT_NE(output().warnings[1].find("count 5000 is more than 1024"), std::string::npos);
}

// A tracer this thread started and another thread ended stays in this thread's nesting for a
// while: calls on it find no tracer and say so, recorded or not, and the tracer that took
// its slot over meanwhile gets nothing of them.
TEST_F(RecordingCore, CallsOnATracerEndedOnAnotherThreadFindNothing) {
    namespace api = slots;
    for (const uint8_t flags : {1, 0}) {
        SCOPED_TRACE(static_cast<int>(flags));
        output().root_flags = flags;
        output().warnings.clear();
        const quorin_handle_t request =
            api::quorin_incomingwebrequesttracer_create_p(context, BY_VALUE(0), "/", "GET");
        api::quorin_tracer_start(context, request);
        quorin_handle_t successor = 0;
        std::thread([&] {
            api::quorin_tracer_end(context, request);
            successor =
                api::quorin_incomingwebrequesttracer_create_p(context, BY_VALUE(0), "/", "GET");
        }).join();
        // The ending thread keeps the freed slot and hands it out again.
        const uint64_t index_mask = (uint64_t{1} << object_table::index_bits) - 1;
        ASSERT_EQ(successor & index_mask, request & index_mask);
        output().warnings.clear();
        api::quorin_incomingwebrequesttracer_add_request_headers_p(context, request, host_name,
                                                                   host_value, BY_VALUE(1));
        api::quorin_incomingwebrequesttracer_set_status_code(context, request, 200);
        api::quorin_incomingwebrequesttracer_set_remote_address_p(context, request, "10.0.0.1");
        const std::string unknown = ": unknown tracer handle " + std::to_string(request);
        EXPECT_EQ(output().warnings,
                  (std::vector<std::string>{
                      "quorin_incomingwebrequesttracer_add_request_headers_p" + unknown,
                      "quorin_incomingwebrequesttracer_set_status_code" + unknown,
                      "quorin_incomingwebrequesttracer_set_remote_address_p" + unknown}));
        api::quorin_tracer_start(context, successor);
        api::quorin_tracer_end(context, successor);
        if (flags != 0) {
            ASSERT_FALSE(output().tracers.empty());
            const object_record& ended = *output().tracers.back();
            ASSERT_EQ(ended.handle, successor);
            attribute_view found{};
            EXPECT_EQ(ended.find(attribute_key::request_header, &found), nullptr);
            EXPECT_EQ(ended.find(attribute_key::status_code, &found), nullptr);
        }
    }
}

// Tracers may end in any order: the thread's innermost open tracer is the parent of the next
// one started there, whichever of the others ended.
TEST_F(RecordingCore, TracersEndedInAnyOrderLeaveTheInnermostOpenOneAsParent) {
    const struct {
        std::vector<int> ended;  // of the nested tracers 0 (outermost), 1 and 2
        int parent;              // of a tracer started then; -1: none
    } rows[] = {
        {{2}, 1}, {{1}, 2}, {{0}, 2}, {{2, 1}, 0}, {{1, 2}, 0}, {{0, 1}, 2}, {{1, 0, 2}, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.ended));
        output().tracers.clear();
        quorin_handle_t nested[3];
        for (quorin_handle_t& tracer : nested) {
            tracer = slots::quorin_customservicetracer_create_p(context, "m", "S");
            slots::quorin_tracer_start(context, tracer);
        }
        for (int index : row.ended) slots::quorin_tracer_end(context, nested[index]);
        const quorin_handle_t probe = slots::quorin_customservicetracer_create_p(context, "m", "S");
        slots::quorin_tracer_start(context, probe);
        slots::quorin_tracer_end(context, probe);
        const bool has_parent = output().tracers.back()->has_parent;
        const span_id parent = output().tracers.back()->parent;
        for (int index = 2; index >= 0; --index) slots::quorin_tracer_end(context, nested[index]);
        const auto record_of = [](quorin_handle_t handle) -> const object_record& {
            for (const record_ptr& tracer : output().tracers) {
                if (tracer->handle == handle) return *tracer;
            }
            throw std::runtime_error("no such tracer");
        };
        ASSERT_EQ(has_parent, row.parent >= 0);
        if (row.parent >= 0) {
            EXPECT_TRUE(same(parent, record_of(nested[row.parent]).context.span));
        }
    }
    // Each tracer that was ended already is reported as unknown at its second end.
    EXPECT_EQ(output().warnings.size(), 12u);
}

TEST_F(RecordingCore, HandlesAreNeverGivenOutTwiceAndStaleOnesFindNothing) {
    std::set<quorin_handle_t> seen;
    quorin_handle_t last = 0;
    for (int i = 0; i < 10000; ++i) {
        last = slots::quorin_customservicetracer_create_p(context, "m", "S");
        EXPECT_TRUE(seen.insert(last).second) << last;
        slots::quorin_tracer_end(context, last);
    }
    slots::quorin_tracer_end(context, last);
    ASSERT_EQ(output().warnings.size(), 10001u);
    EXPECT_EQ(output().warnings.back(),
              "quorin_tracer_end: unknown tracer handle " + std::to_string(last));
}

// A tracer made from an info object gets the info's attributes while the info lives, though
// the thread copies them once; a deleted info, or one of another kind, gives none and a warning.
TEST_F(RecordingCore, TracersGetTheAttributesOfLiveInfoObjectsOnly) {
    namespace api = slots;
    const quorin_handle_t application =
        api::quorin_webapplicationinfo_create_p(context, "srv", "shop", "/");
    const auto request = [&](quorin_handle_t info) {
        const quorin_handle_t made = api::quorin_incomingwebrequesttracer_create_p(
            context, BY_VALUE(info), "/orders", "GET");
        api::quorin_tracer_start(context, made);
        api::quorin_tracer_end(context, made);
        return output().tracers.back()->attribute_count();
    };
    EXPECT_EQ(request(application), 5u);
    EXPECT_EQ(request(application), 5u);
    const quorin_handle_t as_database =
        api::quorin_databaseinfo_create_p(context, "orders", "SQL", 1, "db:5432");
    const quorin_handle_t statement =
        api::quorin_databaserequesttracer_create_sql_p(context, BY_VALUE(application), "SELECT 1");
    api::quorin_tracer_start(context, statement);
    api::quorin_tracer_end(context, statement);
    EXPECT_EQ(output().tracers.back()->attribute_count(), 1u);
    api::quorin_webapplicationinfo_delete(context, application);
    EXPECT_EQ(request(application), 2u);
    api::quorin_databaseinfo_delete(context, as_database);

    ASSERT_EQ(output().warnings.size(), 2u);
    EXPECT_NE(output().warnings[0].find("is a web application info, not a database info"),
              std::string::npos)
        << output().warnings[0];
    EXPECT_NE(output().warnings[1].find("unknown web application info handle"), std::string::npos)
        << output().warnings[1];
}

// A tracer shares its info's attributes with the thread's copy of the info: they stay whole
// after the info is deleted, the copy is replaced and the thread that made it exits, count
// towards the attribute limit, and do not follow the record into its next tracer.
TEST_F(RecordingCore, TracersKeepTheAttributesTheyShareWithAnInfoObject) {
    namespace api = slots;
    quorin_handle_t kept = 0;
    std::thread([&] {
        const quorin_handle_t application =
            api::quorin_webapplicationinfo_create_p(context, "srv", "shop", "/");
        kept = api::quorin_incomingwebrequesttracer_create_p(context, BY_VALUE(application),
                                                             "/orders", "GET");
        api::quorin_tracer_start(context, kept);
        api::quorin_webapplicationinfo_delete(context, application);
        // More infos than a thread keeps copies of.
        for (int i = 0; i < 6; ++i) {
            const quorin_handle_t other =
                api::quorin_webapplicationinfo_create_p(context, "other", "app", "/x");
            api::quorin_tracer_end(context, api::quorin_incomingwebrequesttracer_create_p(
                                                context, BY_VALUE(other), "/", "GET"));
            api::quorin_webapplicationinfo_delete(context, other);
        }
    }).join();
    api::quorin_tracer_end(context, kept);
    const object_record& request = *output().tracers.back();
    ASSERT_EQ(request.attribute_count(), 5u);
    EXPECT_EQ(attribute_of(request, attribute_key::web_server_name).text, "srv");
    EXPECT_EQ(attribute_of(request, attribute_key::application_id).text, "shop");
    EXPECT_EQ(attribute_of(request, attribute_key::context_root).text, "/");
    EXPECT_EQ(request.attribute(3).text, "GET");
    EXPECT_EQ(request.attribute(4).text, "/orders");

    const quorin_handle_t application =
        api::quorin_webapplicationinfo_create_p(context, "srv", "shop", "/");
    const quorin_handle_t full = api::quorin_incomingwebrequesttracer_create_p(
        context, BY_VALUE(application), "/orders", "GET");
    std::vector<const char*> names(200, "X-Many");
    api::quorin_incomingwebrequesttracer_add_request_headers_p(
        context, full, names.data(), names.data(), BY_VALUE(names.size()));
    api::quorin_tracer_end(context, full);
    EXPECT_EQ(output().tracers.back()->attribute_count(), object_record::attribute_limit);
    EXPECT_EQ(output().tracers.back()->dropped_attributes(), 205u - object_record::attribute_limit);

    output().tracers.clear();  // the records go back to this thread's spares
    api::quorin_tracer_end(context, api::quorin_customservicetracer_create_p(context, "m", "S"));
    EXPECT_EQ(output().tracers.back()->attribute_count(), 2u);
    api::quorin_webapplicationinfo_delete(context, application);
}

// One thread makes tracers from more infos than it keeps copies of, so that it replaces copies
// that tracers still share; another ends them and frees their records. Each keeps its info's
// attributes.
TEST_F(RecordingCore, ConcurrencyTracersEndedElsewhereKeepTheInfoAttributesTheyShare) {
    namespace api = slots;
    constexpr int infos = 6, requests = 3000;
    quorin_handle_t applications[infos];
    for (int i = 0; i < infos; ++i) {
        applications[i] = api::quorin_webapplicationinfo_create_p(
            context, "srv", ("app" + std::to_string(i)).c_str(), "/");
    }
    std::mutex mutex;
    std::vector<quorin_handle_t> made;
    std::atomic<bool> done{false};
    std::thread maker([&] {
        for (int i = 0; i < requests; ++i) {
            const quorin_handle_t request = api::quorin_incomingwebrequesttracer_create_p(
                context, BY_VALUE(applications[i % infos]), std::to_string(i % infos).c_str(),
                "GET");
            api::quorin_tracer_start(context, request);
            std::lock_guard<std::mutex> hold(mutex);
            made.push_back(request);
        }
        done = true;
    });
    int checked = 0, wrong = 0;
    for (bool last = false; !last;) {
        last = done.load();
        std::vector<quorin_handle_t> ending;
        {
            std::lock_guard<std::mutex> hold(mutex);
            ending.swap(made);
        }
        for (const quorin_handle_t request : ending) {
            api::quorin_tracer_end(context, request);
            record_ptr ended;
            {
                std::lock_guard<std::mutex> hold(output().mutex);
                ended = std::move(output().tracers.back());
                output().tracers.pop_back();
            }
            const std::string expected = "app" + std::string(ended->attribute(4).text);
            if (attribute_of(*ended, attribute_key::application_id).text != expected) ++wrong;
            ++checked;
        }
    }
    maker.join();
    EXPECT_EQ(checked, requests);
    EXPECT_EQ(wrong, 0);
    for (const quorin_handle_t application : applications) {
        api::quorin_webapplicationinfo_delete(context, application);
    }
}

// An end before the start is moved to the start; only an end time the application gave is
// reported (the clock may have been set back under a running tracer).
TEST_F(RecordingCore, AnEndBeforeTheStartMovesToItAndIsReportedWhenGiven) {
    const uint64_t later = now_microseconds() + 3600000000;
    const struct {
        const char* what;
        uint64_t start_us, end_us;  // 0: now
        size_t warnings;
    } rows[] = {
        {"the clock's end before a given start", later, 0, 0},
        {"a given end before a given start", later, later - 1, 1},
        {"a given end after the start", 1000, 2000, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        output().warnings.clear();
        const quorin_handle_t tracer =
            slots::quorin_customservicetracer_create_p(context, "m", "S");
        slots::quorin_ex_tracer_start_2(context, tracer, row.start_us, 0);
        slots::quorin_ex_tracer_end_timed(context, tracer, row.end_us);
        const object_record& ended = *output().tracers.back();
        EXPECT_EQ(ended.start_us, row.start_us);
        EXPECT_EQ(ended.end_us, std::max(row.start_us, row.end_us));
        ASSERT_EQ(output().warnings.size(), row.warnings);
        if (row.warnings != 0) {
            EXPECT_NE(output().warnings[0].find("before the start time"), std::string::npos);
        }
    }
}

// A thread's state goes with the thread: the table is as large as the most threads that
// traced at once, however many came and went. A program (not a module) gets no thread notices
// on Windows, so only a module frees them there.
class RecordingCoreConcurrency : public RecordingCore {};

TEST_F(RecordingCoreConcurrency, ThreadStatesGoWithTheirThreads) {
    if (QUORIN_TEST_WINDOWS) GTEST_SKIP() << "the notice of a thread's exit reaches modules only";
    for (int i = 0; i < 200; ++i) {
        std::thread([this] {
            const quorin_handle_t open =
                slots::quorin_customservicetracer_create_p(context, "m", "S");
            slots::quorin_tracer_start(context, open);
        }).join();
    }
    EXPECT_LE(the_recorder().threads.capacity(), 32u);
}

// Threads that come and go while others trace keep records and object indexes for
// themselves: none is given to two objects at once, and every handle is new.
TEST_F(RecordingCoreConcurrency, ObjectsOfThreadsThatComeAndGoStayApart) {
    const quorin_handle_t application =
        slots::quorin_webapplicationinfo_create_p(context, "srv", "shop", "/");
    std::mutex seen_mutex;
    std::set<quorin_handle_t> seen;
    const auto trace = [&] {
        std::vector<quorin_handle_t> handles;
        const quorin_handle_t outer = slots::quorin_customservicetracer_create_p(context, "m", "S");
        slots::quorin_tracer_start(context, outer);
        for (int i = 0; i < 40; ++i) {
            const quorin_handle_t request = slots::quorin_incomingwebrequesttracer_create_p(
                context, BY_VALUE(application), "/orders", "GET");
            slots::quorin_tracer_start(context, request);
            slots::quorin_tracer_end(context, request);
            handles.push_back(request);
        }
        slots::quorin_tracer_end(context, outer);
        handles.push_back(outer);
        std::lock_guard<std::mutex> hold(seen_mutex);
        for (quorin_handle_t handle : handles) EXPECT_TRUE(seen.insert(handle).second) << handle;
    };
    for (int round = 0; round < 25; ++round) {
        std::thread first(trace), second(trace);
        trace();
        first.join(), second.join();
    }
    EXPECT_EQ(seen.size(), 25u * 3 * 41);
    // An object given to two at once loses one: its end would be a warning.
    EXPECT_TRUE(output().warnings.empty()) << output().warnings.front();
    ASSERT_EQ(output().tracers.size(), seen.size());
    for (const record_ptr& tracer : output().tracers) {
        EXPECT_EQ(tracer->attribute_count(),
                  tracer->tracer == tracer_kind::custom_service ? 2u : 5u);
    }
}

// The pool that every thread gives records back to keeps them within a size, however many
// large ones come back at once.
TEST(RecordPool, KeepsSpareRecordsWithinItsSize) {
    trim_record_pool();
    const std::string large(12000, 'x');
    std::vector<object_record*> given;
    for (int i = 0; i < 1024; ++i) {
        auto* record = new object_record;
        record->add_text(attribute_key::custom, large);
        given.push_back(record);
    }
    const size_t each = given.front()->memory_bytes();
    for (object_record* record : given) pool_record(record);
    // Taken back until the pool has none and makes a new one.
    std::vector<object_record*> kept;
    for (;;) {
        object_record* record = new_pooled_record(object_kind::tracer).release();
        if (record->text_bytes_kept() == 0) {
            delete record;
            break;
        }
        kept.push_back(record);
    }
    EXPECT_EQ(kept.size(), pooled_record_bytes / each);
    EXPECT_LT(kept.size(), given.size());
    for (object_record* record : kept) delete record;
    trim_record_pool();
}

}  // namespace
