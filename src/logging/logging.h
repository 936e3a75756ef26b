// The library's own log: one level threshold and one callback, both single atomic words.
#pragma once

#include <cstdint>

#include "foundation/format.h"

void stub_log(int32_t level, const char16_t* message);
int32_t stub_get_logging_level();
// The seven-character display name; "???????" outside 0 to 8.
const char16_t* logging_level_name(int32_t level);
// A level name (ASCII case ignored, blanks and tabs around it) to 0..8, else -1.
int32_t parse_logging_level(const char16_t* text);

// Formats into a 1800-character stack buffer (cut at 1799) and emits.
void stub_log_formatted(int32_t level, const char16_t* format, const format_arg* args,
                        size_t arg_count);

// The level test comes first, so a dropped message is not formatted.
template <typename... Args>
void stub_logf(int32_t level, const char16_t* format, Args... args) {
    if (level < stub_get_logging_level()) return;
    const format_arg list[] = {format_arg(args)..., format_arg(u"")};
    stub_log_formatted(level, format, list, sizeof...(Args));
}
