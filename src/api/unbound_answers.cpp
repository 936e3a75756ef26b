#include "api/unbound_answers.h"

namespace {
constexpr size_t trace_id_digits = 32;
constexpr size_t span_id_digits = 16;

void write_zero_id(char* buffer, size_t size, size_t digits) {
    if (buffer == nullptr || size == 0) return;
    if (size <= digits) {
        buffer[0] = 0;
        return;
    }
    for (size_t i = 0; i < digits; ++i) buffer[i] = '0';
    buffer[digits] = 0;
}
}  // namespace

size_t unbound_string_tag(quorin_handle_t, char* buffer, size_t buffer_size,
                          size_t* required_size) {
    if (buffer != nullptr && buffer_size != 0) buffer[0] = 0;
    if (required_size != nullptr) *required_size = 1;
    return 0;
}

size_t unbound_byte_tag(quorin_handle_t, unsigned char*, size_t, size_t* required_size) {
    if (required_size != nullptr) *required_size = 0;
    return 0;
}

size_t unbound_in_process_link(uint64_t, uint64_t, size_t* required_size) {
    if (required_size != nullptr) *required_size = 0;
    return 0;
}

quorin_status_t unbound_trace_context(char* trace_id, size_t trace_id_size, char* span_id,
                                      size_t span_id_size) {
    write_zero_id(trace_id, trace_id_size, trace_id_digits);
    write_zero_id(span_id, span_id_size, span_id_digits);
    return QUORIN_STATUS_NOT_INITIALIZED;
}
