// traceparent and the binary tag, the id generator, and the sampler.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "id_generator.h"
#include "sampler.h"
#include "trace_context.h"

namespace {

constexpr const char* valid = "00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01";

TEST(TraceContext, TraceparentParsing) {
    struct row {
        std::string text;
        bool accepted;
    };
    const std::string ok = valid;
    const row rows[] = {
        {ok, true},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-00", true},
        {"cc-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01-later-fields", true},
        {"cc-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01", true},
        {ok + "-extra", false},  // version 00 has nothing after the flags
        {"cc-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01x", false},
        {"ff-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01", false},
        {"00-4BF92F3577B34DA6A3CE929D0E0E4736-00f067aa0ba902b7-01", false},
        {"00-00000000000000000000000000000000-00f067aa0ba902b7-01", false},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736-0000000000000000-01", false},
        {"00-4bf92f3577b34da6a3ce929d0e0e473-600f067aa0ba902b7-01", false},
        {"00_4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01", false},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-0g", false},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-1", false},
        {ok.substr(0, 54), false},
        {"", false},
        {std::string(valid, 20) + std::string(1, '\0') + std::string(valid + 21), false},
    };
    for (const row& r : rows)
        EXPECT_EQ(otel::parse_traceparent(r.text).has_value(), r.accepted) << r.text;

    const auto parsed = otel::parse_traceparent(valid);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->sampled());
    EXPECT_EQ(parsed->trace.bytes[0], 0x4B);
    EXPECT_EQ(parsed->span.bytes[7], 0xB7);
    char text[otel::traceparent_length];
    otel::format_traceparent(*parsed, text);
    EXPECT_EQ(std::string(text, sizeof text), valid);
}

TEST(TraceContext, BinaryTagRoundTripsAndRefusesWhatIsNotOne) {
    auto context = *otel::parse_traceparent(valid);
    for (uint8_t flags : {0x00, 0x01, 0x03}) {
        context.flags = flags;
        uint8_t tag[otel::binary_tag_length];
        otel::format_binary_tag(context, tag);
        EXPECT_EQ(otel::parse_binary_tag(tag, sizeof tag), context);
        // Without the flags field the context is not sampled; trailing bytes are ignored.
        EXPECT_EQ(otel::parse_binary_tag(tag, 27)->flags, 0);
        uint8_t longer[40] = {};
        std::memcpy(longer, tag, sizeof tag);
        EXPECT_EQ(otel::parse_binary_tag(longer, sizeof longer), context);
    }
    uint8_t tag[otel::binary_tag_length];
    otel::format_binary_tag(context, tag);
    for (size_t position : {0, 1, 18}) {
        uint8_t broken[sizeof tag];
        std::memcpy(broken, tag, sizeof tag);
        broken[position] ^= 0x40;
        EXPECT_FALSE(otel::parse_binary_tag(broken, sizeof broken)) << position;
    }
    EXPECT_FALSE(otel::parse_binary_tag(tag, 26));
    EXPECT_FALSE(otel::parse_binary_tag(nullptr, 29));
    uint8_t zero_ids[otel::binary_tag_length];
    otel::format_binary_tag(otel::span_context{}, zero_ids);
    EXPECT_FALSE(otel::parse_binary_tag(zero_ids, sizeof zero_ids));
}

TEST(TraceContext, IdsAreNeverZeroAndDoNotRepeatAfterAFork) {
    otel::id_generator ids;
    std::set<uint64_t> seen;
    for (int i = 0; i < 10000; ++i) {
        const otel::trace_id trace = ids.new_trace_id();
        const otel::span_id span = ids.new_span_id();
        EXPECT_TRUE(trace.valid() && span.valid());
        uint64_t value;
        std::memcpy(&value, span.bytes, sizeof value);
        EXPECT_TRUE(seen.insert(value).second);
    }
    // Two copies of one state (a parent and its fork child) part once one is perturbed.
    otel::id_generator parent(7), child(7);
    EXPECT_EQ(parent.next(), child.next());
    child.perturb(4242);
    EXPECT_NE(parent.next(), child.next());
}

TEST(Sampler, ParentBasedRatioFollowsTheParentAndTheTraceId) {
    otel::trace_id low{}, high{};
    high.bytes[8] = 0xFF;  // the low 8 bytes decide: high is above every ratio but 1
    const otel::span_context sampled_parent{{}, {}, otel::trace_flag_sampled};
    const otel::span_context unsampled_parent{{}, {}, 0};
    const otel::sampler ratio{otel::sampler_kind::parent_based_trace_id_ratio, 0.5};
    EXPECT_TRUE(ratio.should_sample(low, nullptr));
    EXPECT_FALSE(ratio.should_sample(high, nullptr));
    EXPECT_TRUE(ratio.should_sample(high, &sampled_parent));
    EXPECT_FALSE(ratio.should_sample(low, &unsampled_parent));

    const otel::sampler defaults;
    EXPECT_TRUE(defaults.should_sample(high, nullptr));
    EXPECT_FALSE(defaults.should_sample(high, &unsampled_parent));
    EXPECT_FALSE(otel::trace_id_ratio_sample(low, 0.0));
    EXPECT_TRUE(otel::trace_id_ratio_sample(high, 1.0));

    // The answer fixed for every new trace is what each new trace gets.
    using otel::sampler_kind;
    const otel::sampler fixed_or_not[] = {{sampler_kind::always_on, 0},
                                          {sampler_kind::always_off, 1},
                                          {sampler_kind::trace_id_ratio, 0},
                                          {sampler_kind::trace_id_ratio, 1},
                                          {sampler_kind::trace_id_ratio, 0.5},
                                          {sampler_kind::parent_based_always_off, 1},
                                          {sampler_kind::parent_based_trace_id_ratio, -1},
                                          {sampler_kind::parent_based_trace_id_ratio, 0.5}};
    for (const otel::sampler& each : fixed_or_not) {
        const int fixed = each.new_trace_answer();
        const bool on_low = each.should_sample(low, nullptr),
                   on_high = each.should_sample(high, nullptr);
        if (fixed >= 0) {
            EXPECT_EQ(on_low, fixed == 1);
            EXPECT_EQ(on_high, fixed == 1);
        } else {
            EXPECT_NE(on_low, on_high);
        }
    }

    // About the ratio of random trace ids are sampled, the same ids every time.
    otel::id_generator ids;
    int sampled = 0;
    for (int i = 0; i < 20000; ++i) {
        const otel::trace_id trace = ids.new_trace_id();
        const bool first = otel::trace_id_ratio_sample(trace, 0.25);
        EXPECT_EQ(first, otel::trace_id_ratio_sample(trace, 0.25));
        sampled += first;
    }
    EXPECT_NEAR(sampled, 5000, 500);
}

}  // namespace
