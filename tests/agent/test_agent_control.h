// The control surface of the test agent module. A test scripts the agent's answers through it
// and reads back everything the library handed over. The module exports test_agent_control()
// and test_agent_reset(); tests reach them through test_agent_module (test_agent_module.h).
//
// Scripted fields are written by the test while the library is not calling into the agent;
// everything the agent records is written under the agent's own lock (or atomically), so a
// test reads it once the calls it made have returned (or the threads making them are joined).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "agent_contract.h"

inline constexpr char test_agent_control_symbol[] = "test_agent_control";
inline constexpr char test_agent_reset_symbol[] = "test_agent_reset";

// The tables whose slots the agent hands out and records.
enum test_agent_table : uint32_t {
    test_agent_functions,  // the agent function table (slot 1 is the release operation)
    test_agent_metrics,
    test_agent_span,
    test_agent_techtype,
    test_agent_tracer_ext,
    test_agent_serverless,
    test_agent_table_count
};
inline constexpr uint32_t test_agent_slot_counts[test_agent_table_count] = {52, 13, 8, 1, 2, 1};
inline constexpr size_t test_agent_max_slots = 52;

// The result a create slot answers with until a test scripts another one.
constexpr uint64_t test_agent_handle(test_agent_table table, uint32_t slot) {
    return 0x4A6E'7400'0000'0000ull | (uint64_t{table} << 16) | slot;
}

inline constexpr size_t test_agent_text_capacity = 2048;
inline constexpr size_t test_agent_max_options = 32;
inline constexpr size_t test_agent_max_refusals = 16;
inline constexpr size_t test_agent_max_events = 256;
inline constexpr size_t test_agent_max_calls = 4096;
inline constexpr size_t test_agent_max_arguments = 6;

// A scripted outcome: status 0 succeeds; otherwise the text (if not empty) goes into the
// caller's error buffer, cut to its capacity, and the status is returned.
struct test_agent_failure {
    uint32_t status;
    char16_t text[test_agent_text_capacity];
};

// An interface request the agent answers with a failure instead of the interface. Status 0
// reports success but hands out no interface: the destination receives null.
struct test_agent_refusal {
    uint32_t interface_id;
    test_agent_failure answer;
};

enum test_agent_event_kind : uint32_t {
    test_agent_initialize_event,        // sdkagent_abi_initialize
    test_agent_get_library_event,       // sdkagent_abi_get_library (interface_id, version)
    test_agent_shutdown_event,          // sdkagent_abi_shutdown
    test_agent_agent_initialize_event,  // library interface slot 1
    test_agent_release_event,           // agent function table slot 1
    test_agent_version_event,           // a version function (interface_id of its interface)
};

struct test_agent_event {
    test_agent_event_kind kind;
    uint32_t interface_id;
    uint32_t version;
    uint64_t error_capacity;  // the capacity of the error buffer the call received, else 0
};

// One call of a recorded slot. Every argument is kept as the bits of its width, zero-extended
// (a 32-bit argument never shows more than 32 bits); a floating-point argument is also kept
// as a double in real.
struct test_agent_call {
    test_agent_table table;
    uint32_t slot;
    void* context;
    uint32_t argument_count;
    uint64_t arguments[test_agent_max_arguments];
    double real;
};

struct test_agent_control_block {
    // ---- Script; test_agent_reset() restores the defaults of the module's variant ----
    const char* variant;                          // "home", "process", "second" or "broken"
    test_agent_failure initialize_failure;        // answer of sdkagent_abi_initialize
    test_agent_failure agent_initialize_failure;  // answer of the agent initialize function
    int32_t store_before_failing;  // a failing agent initialize stores context and table first
    void* context_value;           // the agent context stored by the agent initialize function
    // Texts of the version functions of the library interface and of the two version
    // interfaces; null_version_text makes all three return null instead.
    char16_t library_version[test_agent_text_capacity];
    char16_t version_interface_text[test_agent_text_capacity];
    char16_t legacy_version_text[test_agent_text_capacity];
    int32_t null_version_text;
    uint32_t refusal_count;
    test_agent_refusal refusals[test_agent_max_refusals];
    // A refusal with a non-zero status stores the real interface through the destination
    // before it refuses.
    int32_t store_when_refusing;
    // Failure texts fill the caller's whole error buffer, repeated, with no terminator.
    int32_t unterminated_errors;
    // Called inside the release operation, after the release is recorded.
    void (*release_hook)();
    // What each slot returns (cut to the slot's result width). Defaults: test_agent_handle()
    // for the create slots, 0 for every other slot.
    uint64_t results[test_agent_table_count][test_agent_max_slots];
    // With block_agent_initialize set the agent initialize function sets
    // agent_initialize_entered and waits until the test sets agent_initialize_proceed.
    std::atomic<int32_t> block_agent_initialize;
    std::atomic<int32_t> agent_initialize_entered;
    std::atomic<int32_t> agent_initialize_proceed;

    // ---- What the agent received ----
    std::atomic<uint32_t> initialize_calls;
    std::atomic<uint32_t> get_library_calls;
    std::atomic<uint32_t> shutdown_calls;
    std::atomic<uint32_t> agent_initialize_calls;
    std::atomic<uint32_t> release_calls;
    std::atomic<uint32_t> version_calls;
    uint64_t option_count;  // as received; texts of the first test_agent_max_options below
    char16_t options[test_agent_max_options][test_agent_text_capacity];
    agent_contract::agent_init_record init_record;  // copy of the last record received
    void* released_context;                         // argument of the last release
    std::atomic<uint32_t> event_count;  // all events; the first test_agent_max_events are kept
    test_agent_event events[test_agent_max_events];
    std::atomic<uint64_t> call_count;  // all slot calls; the first test_agent_max_calls are kept
    test_agent_call calls[test_agent_max_calls];
    std::atomic<uint64_t> slot_calls[test_agent_table_count][test_agent_max_slots];

    // ---- What the agent hands out, to compare with what the library holds ----
    void* const* function_table;
    void* const* library_interface;
    void* const* extension_interfaces[test_agent_table_count];  // [test_agent_functions] null

    // ---- Helpers for tests ----
    static void set_text(char16_t* destination, const char16_t* text) {
        size_t i = 0;
        for (; text != nullptr && text[i] != 0 && i + 1 < test_agent_text_capacity; ++i) {
            destination[i] = text[i];
        }
        destination[i] = 0;
    }
    void fail_initialize(uint32_t status, const char16_t* text = nullptr) {
        initialize_failure.status = status;
        set_text(initialize_failure.text, text);
    }
    void fail_agent_initialize(uint32_t status, const char16_t* text = nullptr) {
        agent_initialize_failure.status = status;
        set_text(agent_initialize_failure.text, text);
    }
    // Adds a refusal; false when the list is full.
    bool refuse(uint32_t interface_id, uint32_t status, const char16_t* text = nullptr) {
        if (refusal_count == test_agent_max_refusals) return false;
        test_agent_refusal& refusal = refusals[refusal_count++];
        refusal.interface_id = interface_id;
        refusal.answer.status = status;
        set_text(refusal.answer.text, text);
        return true;
    }
    uint64_t& result(test_agent_table table, uint32_t slot) { return results[table][slot]; }

    std::u16string option(size_t index) const { return options[index]; }
    // The interface ids requested through sdkagent_abi_get_library, in order.
    std::vector<uint32_t> requested_ids() const {
        std::vector<uint32_t> ids;
        for (const test_agent_event& event : recorded_events()) {
            if (event.kind == test_agent_get_library_event) ids.push_back(event.interface_id);
        }
        return ids;
    }
    std::vector<test_agent_event_kind> event_kinds() const {
        std::vector<test_agent_event_kind> kinds;
        for (const test_agent_event& event : recorded_events()) kinds.push_back(event.kind);
        return kinds;
    }
    std::vector<test_agent_event> recorded_events() const {
        const size_t count = event_count.load();
        return {events, events + (count < test_agent_max_events ? count : test_agent_max_events)};
    }
    std::vector<test_agent_call> recorded_calls() const {
        const uint64_t count = call_count.load();
        return {calls, calls + (count < test_agent_max_calls ? count : test_agent_max_calls)};
    }
};

using test_agent_control_function = test_agent_control_block* (*)();
using test_agent_reset_function = void (*)();
