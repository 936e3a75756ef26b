// The agent's side of every slot of the function table and of the extension interfaces.
// The declarations come from the library's own lists of exports, so a slot whose parameters
// disagree with its export does not link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "quorin.h"
#include "session.h"

#define CONSOLE_SLOT_PARAMS(...) (void* context __VA_OPT__(, ) __VA_ARGS__)

namespace console::slots {

#define QUORIN_CORE(slot, result_type, name, params, args, unbound) \
    result_type name CONSOLE_SLOT_PARAMS params;
#include "api/core_api.inc"
#undef QUORIN_CORE

#define QUORIN_EXTENSION(interface, slot, result_type, name, params, args, unbound) \
    result_type name CONSOLE_SLOT_PARAMS params;
#include "api/extension_api.inc"
#undef QUORIN_EXTENSION

// Slot 0 is never called by the library; slot 1 releases the agent; slot 2 has no export.
void unused_slot(void* context);
void release(void* context);
uint32_t reserved_slot(void* context, uint32_t first, uint32_t second, uint64_t third,
                       uint64_t fourth);

}  // namespace console::slots

namespace console {

// Helpers shared by the slot files.
quorin_handle_t create_tracer(call& c, tracer_kind kind, std::string title,
                              std::vector<attribute> attributes = {});
// Adds name=value pairs from parallel arrays of UTF-8 texts (count passed by value).
void add_text_pairs(call& c, std::vector<attribute>& to, const char* prefix, const void* names,
                    const void* values, const void* count);
std::string handle_text(quorin_handle_t handle);
std::string channel_text(int32_t channel_type, const std::string& endpoint);
// "<trace id>-<span id>" of a started tracer; false when the text is not such a tag.
std::string tag_of(const tracer_record& tracer);
bool parse_tag(const std::string& tag, std::string* trace_id);

}  // namespace console
