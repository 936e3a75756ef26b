// Parsers of the settings' texts: endpoint URLs, W3C-baggage-style key=value lists (headers,
// resource attributes) and numbers. Each returns nothing for a text it cannot use; the caller
// names the setting in its warning.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ascii_case.h"

namespace otel {

struct url {
    std::string scheme;  // "http" or "https", lower case
    std::string host;    // a name, an IPv4 address, or an IPv6 address without brackets
    uint16_t port = 0;   // the scheme's default when the text has none
    std::string path;    // starts with '/'; query included
    std::string text() const;
    std::string origin() const;  // scheme://host[:port], what messages show of it
};

// http or https, a host, an optional port (1-65535), an optional path; no user info, no
// fragment, no spaces or control characters.
std::optional<url> parse_url(std::string_view text);

// The generic endpoint with a signal path ("v1/traces") appended to its path, as OpenTelemetry
// SDKs do; a query stays behind it.
url append_signal_path(url base, std::string_view signal_path);

struct key_value_text {
    std::string key;
    std::string value;
    friend bool operator==(const key_value_text&, const key_value_text&) = default;
};

// "key=value,key2=value2": spaces around keys and values are trimmed, values (and attribute
// keys) are percent-decoded, empty items are skipped. Items that are not key=value, or whose
// decoded key or value is unusable (a header that is not a token or carries control
// characters, an attribute that is not UTF-8), are left out and described in `problems` by
// position and key, never by value: a header's value is a secret.
enum class key_value_use { header, attribute };
std::vector<key_value_text> parse_key_value_list(std::string_view text, key_value_use use,
                                                 std::vector<std::string>* problems);

// Whole decimal numbers within [minimum, maximum]; surrounding spaces allowed.
std::optional<uint64_t> parse_unsigned(std::string_view text, uint64_t minimum, uint64_t maximum);
// A decimal fraction within [0, 1].
std::optional<double> parse_ratio(std::string_view text);

std::string_view trim(std::string_view text);
bool well_formed_utf8(std::string_view text);

}  // namespace otel
