// What the four output-writing exports answer while no agent is bound: empty answers.
#pragma once

#include <cstddef>

#include "quorin.h"

// Each takes its export's own parameters, so that the unbound path jumps to it with every
// argument in place and moves none.

// An empty string tag: buffer[0] = NUL where it has room, *required_size = 1. Returns 0.
size_t unbound_string_tag(quorin_handle_t tracer, char* buffer, size_t buffer_size,
                          size_t* required_size);
// An empty byte tag: *required_size = 0, the buffer untouched. Returns 0.
size_t unbound_byte_tag(quorin_handle_t tracer, unsigned char* buffer, size_t buffer_size,
                        size_t* required_size);
// An empty in-process link: *required_size = 0. Returns 0.
size_t unbound_in_process_link(uint64_t buffer, uint64_t buffer_size, size_t* required_size);
// All-zero ids where they fit (32 and 16 digits), else empty texts. Returns NOT_INITIALIZED.
quorin_status_t unbound_trace_context(char* trace_id, size_t trace_id_size, char* span_id,
                                      size_t span_id_size);
