// The test agent module: a small but complete agent module as the library sees it. It exports
// the three entry points, hands out the library interface, the two version interfaces and the
// five extension interfaces, and fills in a 52-slot agent function table. Every slot records
// its call and answers with a scripted result; everything else is scripted and read back
// through test_agent_control() (test_agent_control.h).
//
// One source, several modules; CMake picks the variant with these definitions:
//   TEST_AGENT_EXPORT            how the target system exports an entry point
//   TEST_AGENT_VARIANT           name of the variant ("home", "process", "second", "broken")
//   TEST_AGENT_VERSION           default text of the library interface's version function
//   TEST_AGENT_CONTEXT           default agent context (a number the library never looks into)
//   TEST_AGENT_WITHOUT_SHUTDOWN  leaves out sdkagent_abi_shutdown
#include <bit>
#include <mutex>
#include <thread>
#include <type_traits>

#include "test_agent_control.h"

using namespace agent_contract;

namespace {

constinit test_agent_control_block control{};
// Guards the event and call records; slots may be called from any number of threads.
std::mutex record_lock;

// The agent answers an interface it does not know, or one asked for in another version, with
// the library's "Not implemented." code and a text.
constexpr uint32_t interface_not_provided = 0xAFFE0003;

using w32 = uint32_t;
using w64 = uint64_t;

// ---- Texts ----

void write_error(const char16_t* text, char16_t* buffer, uint64_t capacity) {
    if (buffer == nullptr || capacity == 0 || text[0] == 0) return;
    if (control.unterminated_errors != 0) {
        for (uint64_t i = 0, k = 0; i < capacity; ++i, k = text[k + 1] != 0 ? k + 1 : 0) {
            buffer[i] = text[k];
        }
        return;
    }
    uint64_t i = 0;
    for (; text[i] != 0 && i + 1 < capacity; ++i) buffer[i] = text[i];
    buffer[i] = 0;
}

uint32_t answer(const test_agent_failure& failure, char16_t* buffer, uint64_t capacity) {
    if (failure.status != 0) write_error(failure.text, buffer, capacity);
    return failure.status;
}

// ---- Records ----

void record_event(test_agent_event_kind kind, uint32_t interface_id = 0, uint32_t version = 0,
                  uint64_t error_capacity = 0) {
    std::lock_guard<std::mutex> lock(record_lock);
    const uint32_t index = control.event_count.load(std::memory_order_relaxed);
    if (index < test_agent_max_events) {
        control.events[index] = {kind, interface_id, version, error_capacity};
    }
    control.event_count.store(index + 1);
}

void record_call(const test_agent_call& call) {
    control.slot_calls[call.table][call.slot].fetch_add(1);
    std::lock_guard<std::mutex> lock(record_lock);
    const uint64_t index = control.call_count.load(std::memory_order_relaxed);
    if (index < test_agent_max_calls) control.calls[index] = call;
    control.call_count.store(index + 1);
}

template <typename Parameter>
uint64_t bits_of(Parameter value) {
    if constexpr (std::is_same_v<Parameter, double>) {
        return std::bit_cast<uint64_t>(value);
    } else {
        return value;  // a 32-bit argument is zero-extended
    }
}

// The body of every recorded slot: the agent context comes first, then the parameters at
// their widths.
template <test_agent_table table, uint32_t slot, typename Result, typename... Parameters>
Result record_slot(void* context, Parameters... parameters) {
    static_assert(sizeof...(Parameters) <= test_agent_max_arguments);
    test_agent_call call{table, slot, context, sizeof...(Parameters), {bits_of(parameters)...},
                         0.0};
    (
        [&] {
            if constexpr (std::is_same_v<Parameters, double>) call.real = parameters;
        }(),
        ...);
    record_call(call);
    if constexpr (!std::is_void_v<Result>) {
        return static_cast<Result>(control.results[table][slot]);
    }
}

template <test_agent_table table, uint32_t slot, typename Result, typename... Parameters>
void* entry() {
    return reinterpret_cast<void*>(&record_slot<table, slot, Result, Parameters...>);
}

template <typename Function>
void* address_of(Function function) {
    return reinterpret_cast<void*>(function);
}

// ---- The agent function table ----

void release(void* context) {
    control.release_calls.fetch_add(1);
    control.released_context = context;
    record_event(test_agent_release_event);
    if (control.release_hook != nullptr) control.release_hook();
}

constexpr test_agent_table F = test_agent_functions;

// entry<table, slot, result, parameters...>: each slot takes the agent context, then the
// arguments of the export that reaches it, at their widths.
void* const function_table[function_table_slots] = {
    entry<F, 0, void>(),  // never called by the library
    address_of(&release),
    entry<F, 2, w32, w32, w32, w64, w64>(),
    entry<F, 3, w32>(),
    entry<F, 4, void, w64>(),
    entry<F, 5, void, w64>(),
    entry<F, 6, void, w64>(),
    entry<F, 7, void, w64, w64, w64>(),
    entry<F, 8, w64, w64, w64, w64, w64>(),
    entry<F, 9, w64, w64, w64, w64, w64>(),
    entry<F, 10, void, w64, w64>(),
    entry<F, 11, void, w64, w64, w64>(),
    entry<F, 12, w64, w64, w64, w64, w32, w64>(),
    entry<F, 13, void, w64, w64>(),
    entry<F, 14, w64, w64, w64, w64>(),
    entry<F, 15, void, w64, w64>(),
    entry<F, 16, w64, w64, w64, w32, w64>(),
    entry<F, 17, void, w64>(),
    entry<F, 18, w64, w64, w64>(),
    entry<F, 19, void, w64, w32>(),
    entry<F, 20, void, w64, w32>(),
    entry<F, 21, w64, w64, w64, w64>(),
    entry<F, 22, void, w64>(),
    entry<F, 23, w64, w64, w64, w64>(),
    entry<F, 24, void, w64, w64>(),
    entry<F, 25, void, w64, w64, w64, w64>(),
    entry<F, 26, void, w64, w64, w64, w64>(),
    entry<F, 27, void, w64, w64, w64, w64>(),
    entry<F, 28, void, w64, w32>(),
    entry<F, 29, void, w64, w64, w64>(),
    entry<F, 30, void, w64, w64, w64>(),
    entry<F, 31, void, w64, w64, w64>(),
    entry<F, 32, w64, w64, w64, w64>(),
    entry<F, 33, w64, w64, w64>(),
    entry<F, 34, w64, w64, w64>(),
    entry<F, 35, void, w64, w64, w64, w64>(),
    entry<F, 36, void, w64, w64, w64, w64>(),
    entry<F, 37, void, w64, w32>(),
    entry<F, 38, w64, w64, w64>(),
    entry<F, 39, w64, w64, w64, w32, w32, w64>(),
    entry<F, 40, void, w64>(),
    entry<F, 41, w64, w64>(),
    entry<F, 42, void, w64, w64>(),
    entry<F, 43, void, w64, w64>(),
    entry<F, 44, w64, w64>(),
    entry<F, 45, w64, w64>(),
    entry<F, 46, void, w64, w64>(),
    entry<F, 47, void, w64, w64>(),
    entry<F, 48, w32>(),
    entry<F, 49, w32, w64>(),
    entry<F, 50, w32, w64>(),
    entry<F, 51, w32, w64, w64, w64, w64>(),
};
constexpr uint32_t function_creates[] = {12, 14, 16, 18, 21, 23, 33, 34, 38, 39, 41, 44, 45};

// ---- Extension interfaces ----

constexpr test_agent_table M = test_agent_metrics;
// Creates in the order counter, gauge, statistics, integer before floating-point; then the
// updates in the same order, the floating-point ones taking a double.
void* const metrics_interface[] = {
    entry<M, 0, void, w64>(),
    entry<M, 1, w64, w64, w64, w64>(),
    entry<M, 2, w64, w64, w64, w64>(),
    entry<M, 3, w64, w64, w64, w64>(),
    entry<M, 4, w64, w64, w64, w64>(),
    entry<M, 5, w64, w64, w64, w64>(),
    entry<M, 6, w64, w64, w64, w64>(),
    entry<M, 7, void, w64, w64, w64>(),
    entry<M, 8, void, w64, double, w64>(),
    entry<M, 9, void, w64, w64, w64>(),
    entry<M, 10, void, w64, double, w64>(),
    entry<M, 11, void, w64, w64, w64>(),
    entry<M, 12, void, w64, double, w64>(),
};
constexpr uint32_t metrics_creates[] = {1, 2, 3, 4, 5, 6};

constexpr test_agent_table S = test_agent_span;
void* const span_interface[] = {
    entry<S, 0, w64, w32>(),
    entry<S, 1, void, w64, w64, w64, w64>(),
    entry<S, 2, void, w64, w64, w64, w64>(),
    entry<S, 3, void, w64, w64, w64, w64>(),
    entry<S, 4, void, w64, w64, w64, w64>(),
    entry<S, 5, void, w64, w64, w64, w64>(),
    entry<S, 6, void, w64, w64, w64, w64>(),
    entry<S, 7, void, w64, w64>(),
};
constexpr uint32_t span_creates[] = {0};

void* const techtype_interface[] = {entry<test_agent_techtype, 0, void, w32, w64, w64>()};

void* const tracer_ext_interface[] = {
    entry<test_agent_tracer_ext, 0, w64, w64, w64, w64>(),
    entry<test_agent_tracer_ext, 1, void, w64, w64>(),
};

void* const serverless_interface[] = {entry<test_agent_serverless, 0, void>()};

static_assert(std::size(metrics_interface) == test_agent_slot_counts[test_agent_metrics]);
static_assert(std::size(span_interface) == test_agent_slot_counts[test_agent_span]);
static_assert(std::size(techtype_interface) == test_agent_slot_counts[test_agent_techtype]);
static_assert(std::size(tracer_ext_interface) == test_agent_slot_counts[test_agent_tracer_ext]);
static_assert(std::size(serverless_interface) == test_agent_slot_counts[test_agent_serverless]);

// ---- Library and version interfaces ----

const char16_t* version_answer(uint32_t interface_id, const char16_t* text) {
    control.version_calls.fetch_add(1);
    record_event(test_agent_version_event, interface_id);
    return control.null_version_text != 0 ? nullptr : text;
}

const char16_t* answer_library_version() {
    return version_answer(library_interface_id, control.library_version);
}
const char16_t* answer_version_interface() {
    return version_answer(version_interface_id, control.version_interface_text);
}
const char16_t* answer_legacy_version() {
    return version_answer(legacy_version_interface_id, control.legacy_version_text);
}

// Stores the agent context and the table through the library's addresses, as a real agent
// does before it reports success.
uint32_t agent_initialize(const agent_init_record* record, void** context, void** table,
                          char16_t* error, uint64_t capacity) {
    control.agent_initialize_calls.fetch_add(1);
    record_event(test_agent_agent_initialize_event, 0, 0, capacity);
    if (record != nullptr) control.init_record = *record;
    if (control.block_agent_initialize.load() != 0) {
        control.agent_initialize_entered.store(1);
        while (control.agent_initialize_proceed.load() == 0) std::this_thread::yield();
    }
    const test_agent_failure& failure = control.agent_initialize_failure;
    if (failure.status == 0 || control.store_before_failing != 0) {
        *context = control.context_value;
        *table = const_cast<void**>(function_table);
    }
    return answer(failure, error, capacity);
}

void* const library_interface[] = {address_of(&answer_library_version),
                                   address_of(&agent_initialize)};
void* const version_interface[] = {address_of(&answer_version_interface)};
void* const legacy_version_interface[] = {address_of(&answer_legacy_version)};

struct offer {
    uint32_t id;
    uint32_t version;
    void* const* interface;
};

const offer offers[] = {
    {library_interface_id, library_interface_version, library_interface},
    {version_interface_id, version_interface_version, version_interface},
    {legacy_version_interface_id, version_interface_version, legacy_version_interface},
    {metrics_interface_id, extension_interface_version, metrics_interface},
    {span_interface_id, extension_interface_version, span_interface},
    {techtype_interface_id, extension_interface_version, techtype_interface},
    {tracer_ext_interface_id, extension_interface_version, tracer_ext_interface},
    {serverless_interface_id, extension_interface_version, serverless_interface},
};

const test_agent_refusal* find_refusal(uint32_t interface_id) {
    for (uint32_t i = 0; i < control.refusal_count && i < test_agent_max_refusals; ++i) {
        if (control.refusals[i].interface_id == interface_id) return &control.refusals[i];
    }
    return nullptr;
}

// ---- Defaults ----

void clear_text(char16_t* text) { text[0] = 0; }

void restore_results() {
    for (auto& row : control.results) {
        for (uint64_t& result : row) result = 0;
    }
    for (uint32_t slot : function_creates) control.results[F][slot] = test_agent_handle(F, slot);
    for (uint32_t slot : metrics_creates) control.results[M][slot] = test_agent_handle(M, slot);
    for (uint32_t slot : span_creates) control.results[S][slot] = test_agent_handle(S, slot);
}

void restore_script() {
    control.variant = TEST_AGENT_VARIANT;
    control.initialize_failure.status = 0;
    clear_text(control.initialize_failure.text);
    control.agent_initialize_failure.status = 0;
    clear_text(control.agent_initialize_failure.text);
    control.store_before_failing = 0;
    control.context_value = reinterpret_cast<void*>(uintptr_t{TEST_AGENT_CONTEXT});
    test_agent_control_block::set_text(control.library_version, TEST_AGENT_VERSION);
    test_agent_control_block::set_text(control.version_interface_text, u"7.2.0.20220601-versioned");
    test_agent_control_block::set_text(control.legacy_version_text, u"6.9.0.20210301-legacy");
    control.null_version_text = 0;
    control.refusal_count = 0;
    control.store_when_refusing = 0;
    control.unterminated_errors = 0;
    control.release_hook = nullptr;
    restore_results();
    control.block_agent_initialize.store(0);
    control.agent_initialize_entered.store(0);
    control.agent_initialize_proceed.store(0);
}

void forget_received() {
    control.initialize_calls.store(0);
    control.get_library_calls.store(0);
    control.shutdown_calls.store(0);
    control.agent_initialize_calls.store(0);
    control.release_calls.store(0);
    control.version_calls.store(0);
    control.option_count = 0;
    for (auto& option : control.options) clear_text(option);
    control.init_record = {};
    control.released_context = nullptr;
    control.event_count.store(0);
    control.call_count.store(0);
    for (auto& row : control.slot_calls) {
        for (auto& count : row) count.store(0);
    }
}

void publish_addresses() {
    control.function_table = function_table;
    control.library_interface = library_interface;
    control.extension_interfaces[test_agent_functions] = nullptr;
    control.extension_interfaces[test_agent_metrics] = metrics_interface;
    control.extension_interfaces[test_agent_span] = span_interface;
    control.extension_interfaces[test_agent_techtype] = techtype_interface;
    control.extension_interfaces[test_agent_tracer_ext] = tracer_ext_interface;
    control.extension_interfaces[test_agent_serverless] = serverless_interface;
}

}  // namespace

// ---- Exports ----

extern "C" TEST_AGENT_EXPORT void test_agent_reset() {
    std::lock_guard<std::mutex> lock(record_lock);
    restore_script();
    forget_received();
    publish_addresses();
}

extern "C" TEST_AGENT_EXPORT test_agent_control_block* test_agent_control() { return &control; }

// A freshly loaded module starts from its defaults.
namespace {
[[maybe_unused]] const bool defaults_applied = (test_agent_reset(), true);
}

extern "C" TEST_AGENT_EXPORT uint32_t sdkagent_abi_initialize(uint64_t count,
                                                              char16_t* const* options,
                                                              char16_t* error, uint64_t capacity) {
    control.initialize_calls.fetch_add(1);
    record_event(test_agent_initialize_event, 0, 0, capacity);
    control.option_count = count;
    for (uint64_t i = 0; i < count && i < test_agent_max_options; ++i) {
        test_agent_control_block::set_text(control.options[i], options[i]);
    }
    return answer(control.initialize_failure, error, capacity);
}

extern "C" TEST_AGENT_EXPORT uint32_t sdkagent_abi_get_library(uint32_t id, uint32_t version,
                                                               void** interface, char16_t* error,
                                                               uint64_t capacity) {
    control.get_library_calls.fetch_add(1);
    record_event(test_agent_get_library_event, id, version, capacity);
    if (const test_agent_refusal* refusal = find_refusal(id)) {
        if (refusal->answer.status == 0) *interface = nullptr;
        if (refusal->answer.status != 0 && control.store_when_refusing != 0) {
            for (const offer& offered : offers) {
                if (offered.id == id) *interface = const_cast<void**>(offered.interface);
            }
        }
        return answer(refusal->answer, error, capacity);
    }
    for (const offer& offered : offers) {
        if (offered.id == id && offered.version == version) {
            *interface = const_cast<void**>(offered.interface);
            return 0;
        }
    }
    write_error(u"The test agent does not provide this interface in this version.", error,
                capacity);
    return interface_not_provided;
}

#if !defined(TEST_AGENT_WITHOUT_SHUTDOWN)
extern "C" TEST_AGENT_EXPORT uint32_t sdkagent_abi_shutdown() {
    control.shutdown_calls.fetch_add(1);
    record_event(test_agent_shutdown_event);
    return 0;
}
#endif
