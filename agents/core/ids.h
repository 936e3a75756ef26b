// Trace and span ids: random, never zero, drawn from a per-thread generator whose seed comes
// from the system; and the text form in which the core's tags and links carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "trace_model.h"

namespace agent_core {

// Mixes the bits of a value (one step of the generator).
inline uint64_t mix_bits(uint64_t value) {
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// Inline: every root tracer draws three words at its start.
class id_generator {
  public:
    void seed(uint64_t seed) { state_ = seed; }
    // Never 0.
    uint64_t next() {
        uint64_t value = 0;
        while (value == 0) {
            // One wide multiply mixes the counter's bits.
            state_ += 0xA0761D6478BD642Full;
            const unsigned __int128 product =
                static_cast<unsigned __int128>(state_) * (state_ ^ 0xE7037ED1A0B428DBull);
            value = static_cast<uint64_t>(product >> 64) ^ static_cast<uint64_t>(product);
        }
        return value;
    }
    trace_id new_trace() {
        trace_id id;
        const uint64_t halves[2] = {next(), next()};
        std::memcpy(id.bytes, halves, sizeof id.bytes);
        return id;
    }
    span_id new_span() {
        span_id id;
        const uint64_t value = next();
        std::memcpy(id.bytes, &value, sizeof id.bytes);
        return id;
    }

  private:
    uint64_t state_ = 0;
};

// 64 random bits from the system.
uint64_t system_entropy();

// Lower-case hex digits of the bytes; out receives 2 * size characters, no terminator.
void write_hex(const uint8_t* bytes, size_t size, char* out);

// An id given as lower- or upper-case hex digits, 2 * size of them and not all zero; false
// leaves the bytes unchanged.
bool parse_hex_id(std::string_view text, uint8_t* bytes, size_t size);

// The tag and link text "<32 hex digits of the trace>-<16 hex digits of the span>".
inline constexpr size_t tag_length = 32 + 1 + 16;
// Writes tag_length characters, no terminator.
void write_tag(const trace_context& context, char* out);
// False when the text is not such a tag; the context is then unchanged.
bool parse_tag(std::string_view text, trace_context* context);

}  // namespace agent_core
