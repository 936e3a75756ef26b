// Every core export, driven from the one list of rows: unbound defaults, and bound forwarding
// through a recording function table.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "api/agent_binding.h"
#include "api/core_forwarders.h"
#include "quorin.h"
#include "support/argument_bits.h"
#include "support/unbound_results.h"

namespace {

// ---- Arguments and results as raw bits -------------------------------------------------------

template <typename T>
constexpr bool is_word = (std::is_integral_v<T> || std::is_pointer_v<T>)&&(sizeof(T) == 4 ||
                                                                           sizeof(T) == 8);

// What the agent's entry sees: a 32-bit or a 64-bit value, nothing else.
template <typename T>
using slot_word = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;

template <typename R>
struct slot_result {
    using type = slot_word<R>;
};
template <>
struct slot_result<void> {
    using type = void;
};

// A 32-bit parameter seen as a whole 64-bit register, upper half included.
template <typename T>
using widened = std::conditional_t<std::is_integral_v<T> && sizeof(T) == 4, uint64_t, T>;

uint64_t low_bits(uint64_t value, size_t width) { return width == 4 ? value & 0xFFFFFFFFu : value; }

// ---- The recording function table ---------------------------------------------------------

struct slot_call {
    int slot;
    void* context;
    std::vector<uint64_t> arguments;
};

std::vector<slot_call> recorded_calls;
uint64_t scripted_result = 0;

template <int Slot, typename R, typename... P>
typename slot_result<R>::type recording_slot(void* context, slot_word<P>... arguments) {
    recorded_calls.push_back({Slot, context, {static_cast<uint64_t>(arguments)...}});
    if constexpr (!std::is_void_v<R>) {
        return static_cast<typename slot_result<R>::type>(scripted_result);
    }
}

// Slots 0 and 1 are never reached by a forwarder; a call there is recorded as a stray one.
template <int Slot>
void stray_slot(void* context) {
    recorded_calls.push_back({Slot, context, {}});
}

// ---- The rows ---------------------------------------------------------------------------------

struct forwarder_row {
    int slot;
    std::string name;
    std::vector<size_t> widths;  // bytes per parameter, in order
    size_t result_width;         // 0: no result
    bool writes_through_arguments;
    void* slot_function;
    // Call the forwarder with these argument bits; returns the result's bits (0 for none).
    std::function<uint64_t(const std::vector<uint64_t>&)> call;
    // The same, through a type whose 32-bit parameters are whole 64-bit registers.
    std::function<uint64_t(const std::vector<uint64_t>&)> call_widened;
};

template <typename T>
constexpr bool may_write_through =
    std::is_pointer_v<T>&& std::is_object_v<std::remove_pointer_t<T>> &&
    !std::is_const_v<std::remove_pointer_t<T>>;

template <int Slot, typename R, typename... P>
forwarder_row make_row(const char* name, R (*forwarder)(P...)) {
    static_assert((is_word<P> && ...), "every argument travels as a 32- or 64-bit word");
    using widened_function = R (*)(widened<P>...);
    // Through void(*)() so that the compiler accepts the deliberately mismatched type.
    const auto widened_forwarder =
        reinterpret_cast<widened_function>(reinterpret_cast<void (*)()>(forwarder));
    forwarder_row row;
    row.slot = Slot;
    row.name = name;
    row.widths = {sizeof(P)...};
    if constexpr (std::is_void_v<R>) {
        row.result_width = 0;
    } else {
        row.result_width = sizeof(R);
    }
    row.writes_through_arguments = (may_write_through<P> || ...);
    row.slot_function = reinterpret_cast<void*>(&recording_slot<Slot, R, P...>);
    row.call = [forwarder](const std::vector<uint64_t>& arguments) {
        return invoke_with_bits(forwarder, arguments, std::index_sequence_for<P...>{});
    };
    row.call_widened = [widened_forwarder](const std::vector<uint64_t>& arguments) {
        return invoke_with_bits(widened_forwarder, arguments, std::index_sequence_for<P...>{});
    };
    return row;
}

const std::vector<forwarder_row>& forwarder_rows() {
    static const std::vector<forwarder_row> rows = {
#define QUORIN_CORE(slot, result_type, name, params, args, unbound) make_row<slot>(#name, &name),
#include "core_api.inc"
#undef QUORIN_CORE
        make_row<2>("agent_slot_2", &agent_slot_2),
    };
    return rows;
}

uint64_t unbound_result(const forwarder_row& row) {
    const auto found = nonzero_unbound_results.find(row.name);
    return found == nonzero_unbound_results.end() ? 0 : found->second;
}

// Distinct argument values per slot and position, with the top bit of their width set so that
// a cut, a sign extension or a swap shows.
std::vector<uint64_t> distinct_arguments(const forwarder_row& row) {
    std::vector<uint64_t> arguments;
    for (size_t i = 0; i < row.widths.size(); ++i) {
        const uint64_t tag = (static_cast<uint64_t>(row.slot) << 8) | (i + 1);
        arguments.push_back(row.widths[i] == 4 ? 0x80000000u | tag
                                               : 0x8000000000000000u | (tag << 24) | 0xA5A5u);
    }
    return arguments;
}

void* const bound_context = reinterpret_cast<void*>(static_cast<uintptr_t>(0xC0C0'7E47'0000'0001u));

class CoreForwarders : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_table_ = agent_function_table.load();
        saved_context_ = agent_context.load();
        agent_function_table.store(nullptr);
        agent_context.store(nullptr);
        recorded_calls.clear();
        scripted_result = 0;
        table_.fill(nullptr);
        table_[0] = reinterpret_cast<void*>(&stray_slot<0>);
        table_[1] = reinterpret_cast<void*>(&stray_slot<1>);
        for (const forwarder_row& row : forwarder_rows()) table_[row.slot] = row.slot_function;
    }
    void TearDown() override {
        agent_function_table.store(saved_table_);
        agent_context.store(saved_context_);
        recorded_calls.clear();
    }

    void bind() {
        agent_context.store(bound_context);
        agent_function_table.store(table_.data());
    }

  private:
    std::array<void*, 52> table_{};
    void* saved_table_ = nullptr;
    void* saved_context_ = nullptr;
};

using CoreForwardersUnbound = CoreForwarders;
using CoreForwardersBound = CoreForwarders;

}  // namespace

// ---- The list itself ---------------------------------------------------------------------------

TEST(CoreForwarderList, ReachesEverySlotFromTwoToFiftyOneExactlyOnce) {
    std::map<int, std::vector<std::string>> names_by_slot;
    for (const forwarder_row& row : forwarder_rows()) names_by_slot[row.slot].push_back(row.name);
    for (int slot = 2; slot <= 51; ++slot) {
        ASSERT_EQ(names_by_slot[slot].size(), 1u) << "slot " << slot;
    }
    EXPECT_EQ(names_by_slot.size(), 50u);
}

// ---- Unbound -----------------------------------------------------------------------------------

TEST_F(CoreForwardersUnbound, EveryForwarderReturnsItsDefaultForNullArguments) {
    for (const forwarder_row& row : forwarder_rows()) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(std::vector<uint64_t>(row.widths.size(), 0)), unbound_result(row));
    }
}

TEST_F(CoreForwardersUnbound, ForwardersWithoutOutputsLeaveTheMemoryTheyAreGivenAlone) {
    for (const forwarder_row& row : forwarder_rows()) {
        if (row.writes_through_arguments) continue;
        SCOPED_TRACE(row.name);
        std::array<unsigned char, 256> memory;
        memory.fill(0xA5);
        std::vector<uint64_t> arguments;
        for (size_t width : row.widths) {
            arguments.push_back(width == 8 ? reinterpret_cast<uintptr_t>(memory.data()) : 64);
        }
        EXPECT_EQ(row.call(arguments), unbound_result(row));
        std::array<unsigned char, 256> untouched;
        untouched.fill(0xA5);
        EXPECT_EQ(memory, untouched);
    }
}

namespace {
constexpr char guard_byte = '~';

struct trace_context_case {
    bool trace_buffer;
    size_t trace_size;
    bool span_buffer;
    size_t span_size;
    std::string trace_expected;  // the bytes from position 0 that are written
    std::string span_expected;
};

const std::string zero_trace_id = std::string(32, '0') + '\0';
const std::string zero_span_id = std::string(16, '0') + '\0';
const std::string nul_only(1, '\0');

const trace_context_case trace_context_cases[] = {
    {true, 33, true, 17, zero_trace_id, zero_span_id},
    {true, 48, true, 48, zero_trace_id, zero_span_id},
    {true, 32, true, 16, nul_only, nul_only},
    {true, 1, true, 1, nul_only, nul_only},
    {true, 0, true, 17, "", zero_span_id},
    {true, 33, true, 0, zero_trace_id, ""},
    {false, 33, true, 17, "", zero_span_id},
    {true, 33, false, 17, zero_trace_id, ""},
    {false, 48, false, 48, "", ""},
};
}  // namespace

TEST_F(CoreForwardersUnbound, TraceContextIsAllZeroIdsWhereTheyFit) {
    for (const trace_context_case& c : trace_context_cases) {
        SCOPED_TRACE(testing::Message() << "trace " << c.trace_buffer << "/" << c.trace_size
                                        << ", span " << c.span_buffer << "/" << c.span_size);
        std::string trace(64, guard_byte);
        std::string span(64, guard_byte);
        EXPECT_EQ(
            quorin_tracecontext_get_current(c.trace_buffer ? trace.data() : nullptr, c.trace_size,
                                            c.span_buffer ? span.data() : nullptr, c.span_size),
            QUORIN_STATUS_NOT_INITIALIZED);
        EXPECT_EQ(trace, c.trace_expected + std::string(64 - c.trace_expected.size(), guard_byte));
        EXPECT_EQ(span, c.span_expected + std::string(64 - c.span_expected.size(), guard_byte));
    }
}

TEST_F(CoreForwardersUnbound, StringTagIsEmptyAndNeedsOneByte) {
    struct {
        bool buffer;
        size_t size;
        bool required;
        std::string written;
    } cases[] = {
        {true, 64, true, nul_only}, {true, 1, true, nul_only},   {true, 0, true, ""},
        {false, 64, true, ""},      {true, 64, false, nul_only}, {false, 0, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.buffer << "/" << c.size << "/" << c.required);
        std::string buffer(8, guard_byte);
        size_t required = 0xDEAD;
        EXPECT_EQ(quorin_tracer_get_outgoing_corvantis_string_tag(
                      0x1234, c.buffer ? buffer.data() : nullptr, c.size,
                      c.required ? &required : nullptr),
                  0u);
        EXPECT_EQ(buffer, c.written + std::string(8 - c.written.size(), guard_byte));
        EXPECT_EQ(required, c.required ? 1u : 0xDEADu);
    }
}

TEST_F(CoreForwardersUnbound, ByteTagAndInProcessLinkAreEmptyAndNeverTouchTheBuffer) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{64}}) {
        for (bool with_required : {true, false}) {
            SCOPED_TRACE(testing::Message() << size << "/" << with_required);
            std::array<unsigned char, 64> buffer;
            buffer.fill(0xA5);
            const std::array<unsigned char, 64> untouched = buffer;
            size_t required = 0xDEAD;
            size_t* required_address = with_required ? &required : nullptr;
            const size_t expected_required = with_required ? 0 : 0xDEAD;

            EXPECT_EQ(quorin_tracer_get_outgoing_corvantis_byte_tag(0x1234, buffer.data(), size,
                                                                    required_address),
                      0u);
            EXPECT_EQ(buffer, untouched);
            EXPECT_EQ(required, expected_required);

            required = 0xDEAD;
            EXPECT_EQ(quorin_inprocesslink_create(reinterpret_cast<uintptr_t>(buffer.data()), size,
                                                  required_address),
                      0u);
            EXPECT_EQ(buffer, untouched);
            EXPECT_EQ(required, expected_required);
        }
    }
}

TEST_F(CoreForwardersUnbound, InternalSlotTwoForwarderIsNotInitialized) {
    EXPECT_EQ(agent_slot_2(1, 2, 3, 4), QUORIN_STATUS_NOT_INITIALIZED);
}

// ---- Bound -------------------------------------------------------------------------------------

TEST_F(CoreForwardersBound, EverySlotGetsTheContextThenEachArgumentInOrder) {
    bind();
    for (const forwarder_row& row : forwarder_rows()) {
        SCOPED_TRACE(row.name);
        recorded_calls.clear();
        scripted_result = 0x5100'0000'0000'0000u | static_cast<uint64_t>(row.slot);
        const std::vector<uint64_t> arguments = distinct_arguments(row);

        const uint64_t result = row.call(arguments);

        ASSERT_EQ(recorded_calls.size(), 1u);
        EXPECT_EQ(recorded_calls[0].slot, row.slot);
        EXPECT_EQ(recorded_calls[0].context, bound_context);
        EXPECT_EQ(recorded_calls[0].arguments, arguments);
        EXPECT_EQ(result, row.result_width == 0 ? 0 : low_bits(scripted_result, row.result_width));
    }
}

TEST_F(CoreForwardersBound, ThirtyTwoBitArgumentsArriveIntactWhateverTheUpperRegisterHalf) {
    bind();
    int rows_with_narrow_arguments = 0;
    for (const forwarder_row& row : forwarder_rows()) {
        std::vector<uint64_t> garbled = distinct_arguments(row);
        std::vector<uint64_t> expected = garbled;
        bool narrow = false;
        for (size_t i = 0; i < row.widths.size(); ++i) {
            if (row.widths[i] != 4) continue;
            garbled[i] |= 0xDEAD'BEEF'0000'0000u;
            narrow = true;
        }
        if (!narrow) continue;
        ++rows_with_narrow_arguments;
        SCOPED_TRACE(row.name);
        recorded_calls.clear();

        row.call_widened(garbled);

        ASSERT_EQ(recorded_calls.size(), 1u);
        EXPECT_EQ(recorded_calls[0].slot, row.slot);
        EXPECT_EQ(recorded_calls[0].context, bound_context);
        EXPECT_EQ(recorded_calls[0].arguments, expected);
    }
    // Slots 2, 12, 16, 19, 20, 28, 37 and 39 take 32-bit arguments.
    EXPECT_EQ(rows_with_narrow_arguments, 8);
}

TEST_F(CoreForwardersBound, FifthArgumentsOfSlotsTwelveAndThirtyNineAreTheSixthParameter) {
    bind();
    const char endpoint[] = "endpoint";
    EXPECT_EQ(quorin_outgoingremotecalltracer_create_p(nullptr, nullptr, nullptr, -7, endpoint),
              0u);
    EXPECT_EQ(quorin_messagingsysteminfo_create_p(nullptr, nullptr, 3, -4, endpoint), 0u);
    const uint64_t endpoint_bits = reinterpret_cast<uintptr_t>(endpoint);
    ASSERT_EQ(recorded_calls.size(), 2u);
    EXPECT_EQ(recorded_calls[0].slot, 12);
    EXPECT_EQ(recorded_calls[0].arguments,
              (std::vector<uint64_t>{0, 0, 0, 0xFFFFFFF9u, endpoint_bits}));
    EXPECT_EQ(recorded_calls[1].slot, 39);
    EXPECT_EQ(recorded_calls[1].arguments,
              (std::vector<uint64_t>{0, 0, 3, 0xFFFFFFFCu, endpoint_bits}));
}

TEST_F(CoreForwardersBound, ResultsComeBackUnchangedIncludingZeroAndErrors) {
    bind();
    const uint64_t results[] = {
        0,           QUORIN_STATUS_NOT_INITIALIZED, QUORIN_STATUS_AGENT_LOAD_FAILED,
        0xFFFFFFFFu, 0xFFFF'FFFF'FFFF'FFFFu,        0x8000'0000'0000'0001u};
    for (const forwarder_row& row : forwarder_rows()) {
        if (row.result_width == 0) continue;
        SCOPED_TRACE(row.name);
        for (uint64_t result : results) {
            scripted_result = result;
            EXPECT_EQ(row.call(std::vector<uint64_t>(row.widths.size(), 0)),
                      low_bits(result, row.result_width));
        }
    }
}

TEST_F(CoreForwardersBound, BoundOutputWritersLeaveTheOutputsToTheAgent) {
    bind();
    std::string trace(40, guard_byte);
    std::string span(40, guard_byte);
    size_t required = 0xDEAD;
    scripted_result = 0;
    EXPECT_EQ(quorin_tracecontext_get_current(trace.data(), 40, span.data(), 40), 0u);
    EXPECT_EQ(quorin_tracer_get_outgoing_corvantis_string_tag(1, trace.data(), 40, &required), 0u);
    EXPECT_EQ(quorin_inprocesslink_create(0, 0, &required), 0u);
    EXPECT_EQ(trace, std::string(40, guard_byte));
    EXPECT_EQ(span, std::string(40, guard_byte));
    EXPECT_EQ(required, 0xDEADu);
    EXPECT_EQ(recorded_calls.size(), 3u);
}

TEST_F(CoreForwardersBound, OnlyTheTablePointerDecidesANullContextIsPassedOn) {
    bind();
    agent_context.store(nullptr);
    for (const forwarder_row& row : forwarder_rows()) {
        SCOPED_TRACE(row.name);
        recorded_calls.clear();
        row.call(std::vector<uint64_t>(row.widths.size(), 0));
        ASSERT_EQ(recorded_calls.size(), 1u);
        EXPECT_EQ(recorded_calls[0].context, nullptr);
    }
}

TEST_F(CoreForwardersBound, ClearingTheTablePointerReturnsEveryForwarderToItsDefault) {
    bind();
    scripted_result = 0x77;
    agent_function_table.store(nullptr);
    for (const forwarder_row& row : forwarder_rows()) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(std::vector<uint64_t>(row.widths.size(), 0)), unbound_result(row));
    }
    EXPECT_TRUE(recorded_calls.empty()) << "no slot is reached once the table pointer is null";
}
