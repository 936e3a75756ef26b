#include "text_parts.h"

#include <cstring>

namespace otel_agent {

namespace {

// Each byte 'A' to 'Z' of the word made lower case. Per byte: the high bit of (b & 0x7F) +
// (0x80 - 'A') is set when b >= 'A', that of (b & 0x7F) + (0x80 - 'Z' - 1) when b > 'Z'; bytes
// with the high bit set are not ASCII. No sum carries into the next byte.
template <typename word>
word lower_ascii(word bytes) {
    constexpr word ones = static_cast<word>(0x0101010101010101u);
    constexpr word high_bits = static_cast<word>(0x8080808080808080u);
    const word low_seven = bytes & ~high_bits;
    const word at_least_a = low_seven + (0x80 - 'A') * ones;
    const word past_z = low_seven + (0x80 - 'Z' - 1) * ones;
    const word upper = at_least_a & ~past_z & ~bytes & high_bits;
    return bytes | (upper >> 2);
}

// The word at text[at] lowered into out[at].
template <typename word>
void copy_lower_case_word(std::string_view text, size_t at, char* out) {
    word bytes;
    std::memcpy(&bytes, text.data() + at, sizeof bytes);
    bytes = lower_ascii(bytes);
    std::memcpy(out + at, &bytes, sizeof bytes);
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int32_t port_number(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return 0;
    int32_t port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : 0;
}

}  // namespace

url_parts split_url(std::string_view url) {
    url_parts parts;
    std::string_view rest = url.substr(0, url.find('#'));
    // A URL that starts with its path, as a server's mostly does, has no scheme to look for.
    const size_t scheme_end =
        rest.empty() || rest.front() == '/' ? std::string_view::npos : rest.find("://");
    if (scheme_end != std::string_view::npos && scheme_end > 0 &&
        rest.find_first_of("/?") > scheme_end) {
        parts.scheme = rest.substr(0, scheme_end);
        rest.remove_prefix(scheme_end + 3);
        const size_t authority_end = rest.find_first_of("/?");
        parts.authority = rest.substr(0, authority_end);
        rest.remove_prefix(authority_end == std::string_view::npos ? rest.size() : authority_end);
    }
    const size_t query = rest.find('?');
    parts.path = rest.substr(0, query);
    if (query != std::string_view::npos) parts.query = rest.substr(query + 1);
    return parts;
}

bool redact_credentials(std::string_view url, std::string& out) {
    const std::string_view authority = split_url(url).authority;
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos) return false;
    const std::string_view user_info = authority.substr(0, at);
    const size_t start = static_cast<size_t>(authority.data() - url.data());
    out.assign(url.substr(0, start));
    out += user_info.find(':') != std::string_view::npos ? "REDACTED:REDACTED" : "REDACTED";
    out += url.substr(start + at);
    return true;
}

host_and_port split_host_port(std::string_view text) {
    host_and_port parts;
    // Credentials never become an attribute.
    if (const size_t at = text.rfind('@'); at != std::string_view::npos) text.remove_prefix(at + 1);
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return {text, 0};
        parts.host = text.substr(1, close - 1);
        if (close + 1 < text.size() && text[close + 1] == ':') {
            parts.port = port_number(text.substr(close + 2));
        }
        return parts;
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || text.find(':') != colon) return {text, 0};
    const int32_t port = port_number(text.substr(colon + 1));
    if (port == 0) return {text, 0};
    return {text.substr(0, colon), port};
}

std::string first_word(std::string_view statement) {
    size_t start = 0;
    while (start < statement.size() &&
           (statement[start] == ' ' || statement[start] == '\t' || statement[start] == '(')) {
        ++start;
    }
    std::string word;
    for (size_t i = start; i < statement.size() && is_letter(statement[i]); ++i) {
        const char c = statement[i];
        word += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return word;
}

void copy_lower_case(std::string_view text, char* out) {
    // A word at a time; the last word overlaps the one before, which lowering again leaves as
    // it is.
    const size_t size = text.size();
    if (size >= sizeof(uint64_t)) {
        for (size_t at = 0; at + sizeof(uint64_t) < size; at += sizeof(uint64_t)) {
            copy_lower_case_word<uint64_t>(text, at, out);
        }
        copy_lower_case_word<uint64_t>(text, size - sizeof(uint64_t), out);
    } else if (size >= sizeof(uint32_t)) {
        copy_lower_case_word<uint32_t>(text, 0, out);
        copy_lower_case_word<uint32_t>(text, size - sizeof(uint32_t), out);
    } else {
        for (char c : text) *out++ = ascii_lower(c);
    }
}

std::string system_name(std::string_view vendor) {
    struct alias {
        std::string_view spelling, name;
    };
    static constexpr alias aliases[] = {
        {"postgres", "postgresql"},    {"sql server", "mssql"},
        {"sqlserver", "mssql"},        {"microsoft sql server", "mssql"},
        {"oracle database", "oracle"}, {"ibm db2", "db2"},
        {"ibm mq", "ibm_mq"},          {"websphere mq", "ibm_mq"},
        {"apache kafka", "kafka"},     {"google cloud pub/sub", "gcp_pubsub"},
        {"java rmi", "java_rmi"},      {"wcf", "dotnet_wcf"},
        {"dubbo", "apache_dubbo"},     {"apache dubbo", "apache_dubbo"},
    };
    for (const alias& a : aliases) {
        if (equal_ignore_ascii_case(vendor, a.spelling)) return std::string(a.name);
    }
    std::string name;
    for (char c : vendor) name += c == ' ' ? '_' : ascii_lower(c);
    return name;
}

}  // namespace otel_agent
