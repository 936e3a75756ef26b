#include "foundation/format.h"
#include "foundation/wide_text.h"
#include "logging/logging.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {
// A full message of 1799 characters and the line's prefix fit.
constexpr size_t line_capacity = 1900;
constexpr char16_t line_format[] =
    u"%04d-%02d-%02d %02d:%02d:%02d.%03d UTC [%08x] %s [quorin] %s\n";
}  // namespace

extern "C" QUORIN_API void quorin_stub_default_logging_function(int32_t level,
                                                                const quorin_wchar_t* message) {
    const char16_t* text = message != nullptr ? to_internal(message) : u"";
    platform_utc_time now{};
    platform_utc_now(&now);
    const uint64_t thread = platform_thread_id();
    const auto folded = static_cast<uint32_t>((thread >> 32) ^ (thread & 0xFFFFFFFFu));
    const format_arg args[] = {now.year,
                               now.month,
                               now.day,
                               now.hour,
                               now.minute,
                               now.second,
                               now.millisecond,
                               folded,
                               logging_level_name(level),
                               text};
    constexpr size_t arg_count = sizeof args / sizeof args[0];
    char16_t line[line_capacity];
    size_t length = format_bounded(line, line_capacity, line_format, args, arg_count);
    if (length < line_capacity) {
        platform_stderr_write(line, length);
        return;
    }
    // A longer message (from an application's own call) is written whole from the heap; only
    // when that memory cannot be had is it cut, keeping the line break.
    auto* whole = static_cast<char16_t*>(platform_heap_allocate((length + 1) * sizeof(char16_t)));
    if (whole != nullptr) {
        format_bounded(whole, length + 1, line_format, args, arg_count);
        platform_stderr_write(whole, length);
        platform_heap_release(whole);
        return;
    }
    length = line_capacity - 1;
    line[length - 1] = u'\n';
    platform_stderr_write(line, length);
}
