#include "logging/logging.h"

#include <atomic>

#include "foundation/wide_text.h"
#include "quorin.h"

namespace {
constinit std::atomic<int32_t> logging_level{QUORIN_LOGLEVEL_NONE};
constinit std::atomic<quorin_stub_logging_callback> logging_callback{
    &quorin_stub_default_logging_function};

constexpr size_t message_capacity = 1800;
}  // namespace

extern "C" QUORIN_API void quorin_stub_set_logging_level(int32_t level) {
    logging_level.store(level, std::memory_order_relaxed);
}

extern "C" QUORIN_API void quorin_stub_set_logging_callback(quorin_stub_logging_callback callback) {
    logging_callback.store(callback, std::memory_order_relaxed);
}

int32_t stub_get_logging_level() { return logging_level.load(std::memory_order_relaxed); }

void stub_log(int32_t level, const char16_t* message) {
    if (level < stub_get_logging_level()) return;
    const quorin_stub_logging_callback callback = logging_callback.load(std::memory_order_relaxed);
    if (callback == nullptr) return;
    callback(level, to_public(message != nullptr ? message : u""));
}

void stub_log_formatted(int32_t level, const char16_t* format, const format_arg* args,
                        size_t arg_count) {
    if (level < stub_get_logging_level()) return;
    char16_t message[message_capacity];
    format_bounded(message, message_capacity, format, args, arg_count);
    message[message_capacity - 1] = 0;
    // Read only now: a callback changed while formatting is the one that receives it.
    const quorin_stub_logging_callback callback = logging_callback.load(std::memory_order_relaxed);
    if (callback == nullptr) return;
    callback(level, to_public(message));
}
