#include "setting_parsers.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "redaction.h"
#include "utf.h"

namespace otel {

namespace {

bool is_control_or_space(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

bool is_host_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == '~' || c == '%';
}

bool is_ipv6_char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
}

// RFC 9110 token characters: what a header name may hold.
bool is_token_char(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    for (char allowed : std::string_view("!#$%&'*+-.^_`|~")) {
        if (c == allowed) return true;
    }
    return false;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = ascii_lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> percent_decode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hex_value(text[i + 1]), low = hex_value(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        decoded.push_back(static_cast<char>(high << 4 | low));
        i += 2;
    }
    return decoded;
}

}  // namespace

bool well_formed_utf8(std::string_view text) {
    std::u16string units(utf8_to_utf16_marking_invalid(text.data(), text.size(), nullptr, 0), 0);
    utf8_to_utf16_marking_invalid(text.data(), text.size(), units.data(), units.size());
    return utf16_well_formed(units.data(), units.size());
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string url::text() const { return origin().append(path); }

std::string url::origin() const {
    std::string out;
    out.append(scheme).append("://");
    if (host.find(':') != std::string::npos) {
        out.append(1, '[').append(host).append(1, ']');
    } else {
        out.append(host);
    }
    const uint16_t default_port = scheme == "https" ? 443 : 80;
    if (port != default_port) out.append(1, ':').append(std::to_string(port));
    return out;
}

std::optional<url> parse_url(std::string_view text) {
    for (char c : text) {
        if (is_control_or_space(c)) return std::nullopt;
    }
    url result;
    const size_t scheme_end = text.find("://");
    if (scheme_end == std::string_view::npos) return std::nullopt;
    for (char c : text.substr(0, scheme_end)) result.scheme.push_back(ascii_lower(c));
    if (result.scheme != "http" && result.scheme != "https") return std::nullopt;
    std::string_view rest = text.substr(scheme_end + 3);
    const size_t authority_end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authority_end);
    std::string_view path =
        authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);
    if (path.find('#') != std::string_view::npos) return std::nullopt;
    if (authority.find('@') != std::string_view::npos) return std::nullopt;

    std::string_view port_text;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        const std::string_view host = authority.substr(1, close - 1);
        for (char c : host) {
            if (!is_ipv6_char(c)) return std::nullopt;
        }
        result.host = host;
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            port_text = after.substr(1);
            if (port_text.empty()) return std::nullopt;
        }
    } else {
        const size_t colon = authority.find(':');
        const std::string_view host = authority.substr(0, colon);
        if (host.empty()) return std::nullopt;
        for (char c : host) {
            if (!is_host_char(c)) return std::nullopt;
        }
        result.host = host;
        if (colon != std::string_view::npos) {
            port_text = authority.substr(colon + 1);
            if (port_text.empty()) return std::nullopt;
        }
    }
    if (!port_text.empty()) {
        const auto port = parse_unsigned(port_text, 1, 65535);
        if (!port || trim(port_text) != port_text) return std::nullopt;
        result.port = static_cast<uint16_t>(*port);
    } else {
        result.port = result.scheme == "https" ? 443 : 80;
    }
    if (path.empty()) {
        result.path = "/";
    } else if (path.front() == '?') {
        result.path = "/" + std::string(path);
    } else {
        result.path = path;
    }
    return result;
}

url append_signal_path(url base, std::string_view signal_path) {
    // Into the path, before any query: "/otlp?tenant=a" becomes "/otlp/v1/traces?tenant=a".
    const size_t query = std::min(base.path.find('?'), base.path.size());
    std::string path = base.path.substr(0, query);
    if (path.empty() || path.back() != '/') path.push_back('/');
    base.path = path.append(signal_path).append(base.path, query);
    return base;
}

std::vector<key_value_text> parse_key_value_list(std::string_view text, key_value_use use,
                                                 std::vector<std::string>* problems) {
    std::vector<key_value_text> items;
    size_t position = 0;
    std::string_view item, key;
    auto problem = [&](bool show_key, const char* why) {
        if (problems == nullptr) return;
        problems->push_back(describe_item(position, show_key ? key : std::string_view()) + " " +
                            why);
    };
    while (!text.empty()) {
        const size_t comma = text.find(',');
        item = trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        ++position;
        if (item.empty()) continue;
        const size_t equals = item.find('=');
        key = equals == std::string_view::npos ? std::string_view() : trim(item.substr(0, equals));
        // A header's key is shown only when it is a header name: "Authorization: Basic abc="
        // holds its secret before the '='.
        bool token = !key.empty();
        for (char c : key) token = token && is_token_char(c);
        const bool show_key = token || use == key_value_use::attribute;
        if (equals == std::string_view::npos) {
            problem(false, "is not key=value");
            continue;
        }
        if (key.empty()) {
            problem(false, "has no key");
            continue;
        }
        const auto value = percent_decode(trim(item.substr(equals + 1)));
        const auto decoded_key =
            use == key_value_use::attribute ? percent_decode(key) : std::optional<std::string>(key);
        if (!value || !decoded_key) {
            problem(show_key, "has a malformed percent escape");
            continue;
        }
        if (use == key_value_use::header) {
            bool clean = true;
            for (char c : *value)
                clean = clean && (c == '\t' || c == ' ' || !is_control_or_space(c));
            if (!token) {
                problem(false, "has a key that is not a header name");
                continue;
            }
            if (!clean) {
                problem(true, "has control characters in its value");
                continue;
            }
        } else if (!well_formed_utf8(*decoded_key) || !well_formed_utf8(*value)) {
            // Attributes travel as protobuf strings, which a collector refuses unless UTF-8.
            problem(true, "is not UTF-8 text");
            continue;
        }
        items.push_back({*decoded_key, *value});
    }
    return items;
}

std::optional<uint64_t> parse_unsigned(std::string_view text, uint64_t minimum, uint64_t maximum) {
    text = trim(text);
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

std::optional<double> parse_ratio(std::string_view text) {
    text = trim(text);
    // from_chars for double is missing from some runtimes; the text is short and plain.
    if (text.empty() || text.size() > 32) return std::nullopt;
    double whole = 0, scale = 1;
    bool digits = false, point = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (point) {
                scale /= 10;
                whole += (c - '0') * scale;
            } else {
                whole = whole * 10 + (c - '0');
            }
        } else {
            return std::nullopt;
        }
    }
    if (!digits || !std::isfinite(whole) || whole > 1) return std::nullopt;
    return whole;
}

}  // namespace otel
