// The OpenTelemetry agent's setting parsers on any text. The first byte chooses the parser
// ('u' endpoint URL, 'h' headers list, 'a' resource attributes; others by their value), the
// rest is the text. A parsed URL is at most one byte longer as text, holds nothing a request
// line cannot carry, and parses back to itself; a signal path goes to the end of its path,
// before the query. A list gives at most one item or problem per comma-separated part; header
// names are tokens and header values carry no control character but tab; attribute texts are
// well-formed UTF-8; the items, written back as a list with their values percent-encoded,
// parse to themselves. The settings built from such a list keep one attribute per key behind
// service.name, each the list's last value for it, all UTF-8.
#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "setting_parsers.h"
#include "settings.h"
#include "utf.h"

namespace {

bool is_control_or_space(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

bool is_token(std::string_view text) {
    constexpr std::string_view marks = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               marks.find(c) != marks.npos;
    });
}

bool well_formed_utf8(std::string_view text) {
    std::u16string units(utf8_to_utf16(text.data(), text.size(), nullptr, 0), u'\0');
    utf8_to_utf16(text.data(), text.size(), units.data(), units.size());
    std::string back(utf16_to_utf8(units.data(), units.size(), nullptr, 0), '\0');
    utf16_to_utf8(units.data(), units.size(), back.data(), back.size());
    return back == text;
}

bool same_url(const otel::url& a, const otel::url& b) {
    return a.scheme == b.scheme && a.host == b.host && a.port == b.port && a.path == b.path;
}

void check_url(std::string_view text) {
    const auto parsed = otel::parse_url(text);
    if (!parsed) return;
    const std::string canonical = parsed->text();
    FUZZ_CHECK(canonical.size() <= text.size() + 1);  // "http://h?q" gains the path's '/'
    FUZZ_CHECK(std::none_of(canonical.begin(), canonical.end(), is_control_or_space));
    FUZZ_CHECK(canonical.find('#') == std::string::npos);
    FUZZ_CHECK(!parsed->host.empty() && parsed->port != 0 && parsed->path.starts_with('/'));
    const auto again = otel::parse_url(canonical);
    FUZZ_CHECK(again && same_url(*again, *parsed) && again->text() == canonical);

    // The signal path ends the path part; the query stays as it was.
    const otel::url signal = otel::append_signal_path(*parsed, "v1/traces");
    const auto split = [](const std::string& path) {
        const size_t query = std::min(path.find('?'), path.size());
        return std::pair(std::string_view(path).substr(0, query),
                         std::string_view(path).substr(query));
    };
    const auto [base_path, base_query] = split(parsed->path);
    const auto [signal_path, signal_query] = split(signal.path);
    FUZZ_CHECK(signal_path.starts_with(base_path) && signal_path.ends_with("/v1/traces"));
    FUZZ_CHECK(signal_path.size() <= base_path.size() + 10 && signal_query == base_query);
    const auto signal_again = otel::parse_url(signal.text());
    FUZZ_CHECK(signal_again && same_url(*signal_again, signal));
}

std::string percent_encoded(std::string_view text) {
    constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out.append({'%', digits[u >> 4], digits[u & 0x0F]});
    }
    return out;
}

void check_list(std::string_view text, otel::key_value_use use) {
    const bool header = use == otel::key_value_use::header;
    std::vector<std::string> problems;
    const auto items = otel::parse_key_value_list(text, use, &problems);
    FUZZ_CHECK(otel::parse_key_value_list(text, use, nullptr) == items);
    FUZZ_CHECK(items.size() + problems.size() <=
               size_t(std::count(text.begin(), text.end(), ',')) + 1);

    std::string written;
    for (const otel::key_value_text& item : items) {
        const std::string_view key = item.key;
        FUZZ_CHECK(!key.empty() && key.size() + item.value.size() <= text.size());
        if (header) {
            FUZZ_CHECK(is_token(key));
            FUZZ_CHECK(std::none_of(item.value.begin(), item.value.end(), [](char c) {
                return c != '\t' && c != ' ' && is_control_or_space(c);
            }));
        } else {
            FUZZ_CHECK(well_formed_utf8(key) && well_formed_utf8(item.value));
        }
        // An attribute's key is percent-decoded like its value; a header's is a plain token.
        written.append(written.empty() ? "" : ",");
        written.append(header ? std::string(key) : percent_encoded(key)).append("=");
        written.append(percent_encoded(item.value));
    }
    std::vector<std::string> none;
    FUZZ_CHECK(otel::parse_key_value_list(written, use, &none) == items && none.empty());
}

// The list resolved into settings from its variable; for attributes, the same text is the
// service name's variable too.
void check_resolved(std::string_view text, otel::key_value_use use) {
    const bool header = use == otel::key_value_use::header;
    const auto environment = [&](const char* name) -> std::optional<std::string> {
        const std::string_view variable = name;
        const bool read =
            header ? variable == "OTEL_EXPORTER_OTLP_HEADERS"
                   : variable == "OTEL_RESOURCE_ATTRIBUTES" || variable == "OTEL_SERVICE_NAME";
        return read ? std::optional<std::string>(text) : std::nullopt;
    };
    const auto result = otel::resolve_settings({}, environment);
    const auto items = otel::parse_key_value_list(text, use, nullptr);
    if (header) {
        FUZZ_CHECK(result.values.headers == items);
        return;
    }
    static const std::vector<otel::key_value> detected =
        otel::resolve_settings({}, [](const char*) {
            return std::optional<std::string>();
        }).values.resource.attributes;
    const auto& attributes = result.values.resource.attributes;
    FUZZ_CHECK(!attributes.empty() && attributes[0].key == "service.name");
    for (size_t i = 0; i < attributes.size(); ++i) {
        FUZZ_CHECK(well_formed_utf8(attributes[i].key) && well_formed_utf8(attributes[i].text));
        for (size_t j = 0; j < i; ++j) FUZZ_CHECK(attributes[j].key != attributes[i].key);
        if (i == 0) continue;
        const auto last = std::find_if(items.rbegin(), items.rend(), [&](const auto& item) {
            return item.key == attributes[i].key;
        });
        if (last != items.rend()) {
            FUZZ_CHECK(last->value == attributes[i].text);
            continue;
        }
        // Not configured: one that the agent detects (who sends), as it detects it; the
        // service instance's id is drawn anew at each resolution.
        const bool drawn = attributes[i].key == "service.instance.id";
        FUZZ_CHECK(std::any_of(detected.begin(), detected.end(), [&](const otel::key_value& kv) {
            return kv.key == attributes[i].key && kv.type == attributes[i].type &&
                   (drawn ||
                    (kv.text == attributes[i].text && kv.integer == attributes[i].integer));
        }));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 'u' % 3:
            check_url(text);
            break;
        case 'h' % 3:
            check_list(text, otel::key_value_use::header);
            check_resolved(text, otel::key_value_use::header);
            break;
        case 'a' % 3:
            check_list(text, otel::key_value_use::attribute);
            check_resolved(text, otel::key_value_use::attribute);
            break;
    }
    return 0;
}
