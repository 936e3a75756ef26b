#include "propagation.h"

#include <algorithm>
#include <vector>

#include "ascii_case.h"

namespace otel {

namespace {

constexpr size_t trace_state_member_limit = 32;
constexpr size_t trace_state_kept_length = 512;
constexpr size_t trace_state_large_member = 128;

bool lower_alpha(char c) { return c >= 'a' && c <= 'z'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool key_char(char c) {
    return lower_alpha(c) || digit(c) || c == '_' || c == '-' || c == '*' || c == '/';
}

// `first` checks the first character; the others are key characters.
template <typename First>
bool key_part(std::string_view part, size_t longest, First first) {
    return !part.empty() && part.size() <= longest && first(part[0]) &&
           std::all_of(part.begin() + 1, part.end(), key_char);
}

// A simple key, or tenant@system.
bool valid_key(std::string_view key) {
    const size_t at = key.find('@');
    if (at == std::string_view::npos) return key_part(key, 256, lower_alpha);
    return key_part(key.substr(0, at), 241, [](char c) { return lower_alpha(c) || digit(c); }) &&
           key_part(key.substr(at + 1), 14, lower_alpha);
}

// Printable ASCII but ',' and '=', not ending in a blank.
bool valid_value(std::string_view value) {
    return !value.empty() && value.size() <= 256 && value.back() != ' ' &&
           std::all_of(value.begin(), value.end(),
                       [](char c) { return c >= 0x20 && c <= 0x7E && c != ',' && c != '='; });
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

size_t joined_length(const std::vector<std::string_view>& members) {
    size_t length = members.empty() ? 0 : members.size() - 1;
    for (std::string_view member : members) length += member.size();
    return length;
}

bool sampled_value(std::string_view value, bool* sampled) {
    if (value == "1" || equal_ignore_ascii_case(value, "true")) {
        *sampled = true;
    } else if (value == "0" || equal_ignore_ascii_case(value, "false")) {
        *sampled = false;
    } else {
        return false;
    }
    return true;
}

// A B3 trace id of 32 hex digits, or of 16 as the low half.
bool b3_trace_id(std::string_view text, trace_id* out) {
    *out = {};
    if (text.size() == 16) return from_hex(text, out->bytes + 8, 8);
    return from_hex(text, out->bytes, 16);
}

std::optional<span_context> b3_context(std::string_view trace, std::string_view span,
                                       bool sampled) {
    span_context context;
    if (!b3_trace_id(trace, &context.trace) || !from_hex(span, context.span.bytes, 8) ||
        !context.valid()) {
        return std::nullopt;
    }
    context.flags = sampled ? trace_flag_sampled : 0;
    return context;
}

}  // namespace

std::string kept_trace_state(std::span<const std::string_view> values) {
    std::vector<std::string_view> members;
    for (std::string_view value : values) {
        while (true) {
            const size_t comma = value.find(',');
            const std::string_view member = trim_blanks(value.substr(0, comma));
            if (!member.empty()) {
                const size_t equals = member.find('=');
                if (equals == std::string_view::npos || !valid_key(member.substr(0, equals)) ||
                    !valid_value(member.substr(equals + 1)) ||
                    members.size() == trace_state_member_limit) {
                    return {};
                }
                const std::string_view key = member.substr(0, equals + 1);  // with its '='
                for (std::string_view kept : members) {
                    if (kept.substr(0, key.size()) == key) return {};
                }
                members.push_back(member);
            }
            if (comma == std::string_view::npos) break;
            value.remove_prefix(comma + 1);
        }
    }
    if (joined_length(members) > trace_state_kept_length) {
        std::erase_if(members,
                      [](std::string_view m) { return m.size() > trace_state_large_member; });
    }
    while (joined_length(members) > trace_state_kept_length) members.pop_back();
    std::string kept;
    kept.reserve(joined_length(members));
    for (std::string_view member : members) {
        if (!kept.empty()) kept += ',';
        kept += member;
    }
    return kept;
}

std::optional<span_context> parse_b3_single(std::string_view value) {
    // {TraceId}-{SpanId}[-{SamplingState}[-{ParentSpanId}]]
    std::string_view parts[4];
    size_t count = 0;
    while (true) {
        if (count == 4) return std::nullopt;
        const size_t dash = value.find('-');
        parts[count++] = value.substr(0, dash);
        if (dash == std::string_view::npos) break;
        value.remove_prefix(dash + 1);
    }
    if (count < 2) return std::nullopt;  // a sampling decision without ids
    const std::string_view sampling = count >= 3 ? parts[2] : std::string_view();
    if (count >= 3 && sampling != "1" && sampling != "0" && sampling != "d") return std::nullopt;
    span_id parent;
    if (count == 4 && !from_hex(parts[3], parent.bytes, 8)) return std::nullopt;
    return b3_context(parts[0], parts[1], sampling == "1" || sampling == "d");
}

std::optional<span_context> parse_b3_multi(std::string_view trace_id, std::string_view span_id,
                                           std::string_view sampled, std::string_view flags) {
    bool is_sampled = false;
    if (!sampled.empty() && !sampled_value(sampled, &is_sampled)) return std::nullopt;
    if (flags == "1") is_sampled = true;  // debug
    return b3_context(trace_id, span_id, is_sampled);
}

void propagation_headers::note(std::string_view name, std::string_view value) {
    auto take = [&](single& field) {
        field.value = value;
        ++field.count;
    };
    if (equal_ignore_ascii_case(name, "traceparent")) {
        take(traceparent_);
    } else if (equal_ignore_ascii_case(name, "tracestate")) {
        if (trace_state_count_ < trace_state_value_limit) trace_state_[trace_state_count_] = value;
        ++trace_state_count_;
    } else if (equal_ignore_ascii_case(name, "b3")) {
        take(b3_);
    } else if (equal_ignore_ascii_case(name, "x-b3-traceid")) {
        take(b3_trace_);
    } else if (equal_ignore_ascii_case(name, "x-b3-spanid")) {
        take(b3_span_);
    } else if (equal_ignore_ascii_case(name, "x-b3-sampled")) {
        take(b3_sampled_);
    } else if (equal_ignore_ascii_case(name, "x-b3-flags")) {
        take(b3_flags_);
    }
}

std::optional<span_context> propagation_headers::extract(std::span<const propagator> order,
                                                         std::string* trace_state) const {
    trace_state->clear();
    for (const propagator form : order) {
        std::optional<span_context> found;
        switch (form) {
            case propagator::tracecontext:
                found = parse_traceparent(traceparent_.get());
                // The state of a caller whose traceparent cannot be read is not read either.
                if (found && trace_state_count_ <= trace_state_value_limit) {
                    *trace_state = kept_trace_state({trace_state_, trace_state_count_});
                }
                break;
            case propagator::b3:
                if (b3_.count == 1) found = parse_b3_single(b3_.value);
                break;
            case propagator::b3multi:
                if (b3_trace_.count == 1 && b3_span_.count == 1 && b3_sampled_.count <= 1 &&
                    b3_flags_.count <= 1) {
                    found = parse_b3_multi(b3_trace_.value, b3_span_.value, b3_sampled_.get(),
                                           b3_flags_.get());
                }
                break;
        }
        if (found) return found;
    }
    return std::nullopt;
}

}  // namespace otel
