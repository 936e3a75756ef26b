// What passes between the library and the agent module: entry points, interface ids and
// versions, and the agent initialization record. The test and console agents build on it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace agent_contract {

// The bare name under which a process agent may already have placed the agent module.
inline constexpr char16_t process_agent_module_name[] =
    u"cv_agent_3bef2c2a0679493ea9440fba66a92b95";

inline constexpr char initialize_symbol[] = "sdkagent_abi_initialize";
inline constexpr char get_library_symbol[] = "sdkagent_abi_get_library";
inline constexpr char shutdown_symbol[] = "sdkagent_abi_shutdown";

// Every error buffer handed to the agent has this many wide characters.
inline constexpr uint64_t error_capacity = 1800;

inline constexpr uint32_t library_interface_id = 2470001;
inline constexpr uint32_t library_interface_version = 6;
inline constexpr uint32_t version_interface_id = 1560001;
inline constexpr uint32_t legacy_version_interface_id = 1330002;
inline constexpr uint32_t version_interface_version = 5;
inline constexpr uint32_t extension_interface_version = 6;
inline constexpr uint32_t metrics_interface_id = 91680001;
inline constexpr uint32_t serverless_interface_id = 91790001;
inline constexpr uint32_t span_interface_id = 91620005;
inline constexpr uint32_t techtype_interface_id = 91730001;
inline constexpr uint32_t tracer_ext_interface_id = 91620003;

// sdkagent_abi_initialize(count, options, error, capacity): options are "name=value" texts.
using initialize_function = uint32_t (*)(uint64_t count, char16_t* const* options, char16_t* error,
                                         uint64_t capacity);
// sdkagent_abi_get_library(id, version, &interface, error, capacity).
using get_library_function = uint32_t (*)(uint32_t id, uint32_t version, void** received,
                                          char16_t* error, uint64_t capacity);
// sdkagent_abi_shutdown(): called once after each successful initialize; result ignored.
using shutdown_function = uint32_t (*)();

// An interface is an array of function addresses indexed by slot.
using interface_table = void* const*;

struct agent_init_record {
    uint32_t stub_version[4];  // 1, 7, 1, 1
    uint8_t reserved[16];
    char build_stamp[64];  // zero-filled 8-bit text
};
static_assert(sizeof(agent_init_record) == 96);
static_assert(offsetof(agent_init_record, stub_version) == 0);
static_assert(offsetof(agent_init_record, reserved) == 16);
static_assert(offsetof(agent_init_record, build_stamp) == 32);

inline constexpr char build_stamp[] = "20221215-102748";
static_assert(sizeof(build_stamp) <= 32);

// Library interface slots.
using version_function = const char16_t* (*)();
using agent_initialize_function = uint32_t (*)(const agent_init_record* record, void** context,
                                               void** function_table, char16_t* error,
                                               uint64_t capacity);
inline constexpr size_t library_version_slot = 0;
inline constexpr size_t library_agent_initialize_slot = 1;

// Agent function table: slot 1 releases the agent context; slots 2 to 51 serve the exports.
using release_function = void (*)(void* context);
inline constexpr size_t release_slot = 1;
inline constexpr size_t function_table_slots = 52;

}  // namespace agent_contract
