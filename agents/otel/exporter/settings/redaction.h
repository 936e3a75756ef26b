// What the agent's warnings, log lines and error texts may show of a setting: where a secret
// was, never the secret. Header values, the user info of a URL and its query stay out; raw
// bytes are shown as printable UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace otel {

// Valid UTF-8 without control characters: each ill-formed sequence and each control
// character becomes U+FFFD.
std::string printable(std::string_view text);

// A URL as a message shows it, whether or not it parses: the user info and the query (and a
// fragment) become "***", the rest is printable.
std::string redact_url(std::string_view text);

// An item of a key=value list as a message names it: its position (from 1, counting every
// comma-separated item) and, when given, its key.
std::string describe_item(size_t position, std::string_view shown_key);

}  // namespace otel
