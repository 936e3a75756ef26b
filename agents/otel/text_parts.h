// The parts of the texts a tracer carries that the conventions name apart: a URL's scheme,
// authority, path and query; an address's host and port; a statement's first word; a
// vendor's name as a system name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ascii_case.h"

namespace otel_agent {

struct url_parts {
    std::string_view scheme;     // "" for a URL without one ("/orders?id=1")
    std::string_view authority;  // host and port
    std::string_view path;
    std::string_view query;  // without the '?'
};
url_parts split_url(std::string_view url);

// The URL with the user and password of its authority as "REDACTED" ("REDACTED:REDACTED@host"
// with a password, "REDACTED@host" without); false and nothing written when it has none.
bool redact_credentials(std::string_view url, std::string& out);

struct host_and_port {
    std::string_view host;  // without the brackets of an IPv6 address
    int32_t port = 0;       // 0: none
};
// "host:port", "[v6]:port", "host" or a bare IPv6 address.
host_and_port split_host_port(std::string_view text);

// The first word of a statement in upper case ("SELECT"), "" when it starts with no letter.
std::string first_word(std::string_view statement);

// Writes text.size() characters.
void copy_lower_case(std::string_view text, char* out);

// A vendor or protocol name as the value of db.system, rpc.system or messaging.system: the
// conventions' name for common spellings, else lower case with '_' for spaces.
std::string system_name(std::string_view vendor);

}  // namespace otel_agent
