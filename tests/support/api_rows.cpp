#include "support/api_rows.h"

#include <map>
#include <type_traits>
#include <utility>

#include "quorin.h"
#include "support/unbound_results.h"

namespace {

// The interface names of the extension list, as the test agent's tables.
constexpr test_agent_table metrics_interface = test_agent_metrics;
constexpr test_agent_table span_interface = test_agent_span;
constexpr test_agent_table techtype_interface = test_agent_techtype;
constexpr test_agent_table tracer_ext_interface = test_agent_tracer_ext;
constexpr test_agent_table serverless_interface = test_agent_serverless;

template <typename R, typename... P>
api_row make_row(test_agent_table table, uint32_t slot, const char* name, R (*function)(P...)) {
    api_row row;
    row.table = table;
    row.slot = slot;
    row.name = name;
    row.widths = {sizeof(P)...};
    row.floating = {std::is_floating_point_v<P>...};
    if constexpr (std::is_void_v<R>) {
        row.result_width = 0;
    } else {
        row.result_width = sizeof(R);
    }
    const auto unbound = nonzero_unbound_results.find(name);
    row.unbound = unbound == nonzero_unbound_results.end() ? 0 : unbound->second;
    row.call = [function](const std::vector<uint64_t>& arguments) {
        return invoke_with_bits(function, arguments, std::index_sequence_for<P...>{});
    };
    return row;
}

}  // namespace

const std::vector<api_row>& core_rows() {
    static const std::vector<api_row> rows = {
#define QUORIN_CORE(slot, result_type, name, params, args, unbound) \
    make_row(test_agent_functions, slot, #name, &name),
#include "core_api.inc"
#undef QUORIN_CORE
    };
    return rows;
}

const std::vector<api_row>& extension_rows() {
    static const std::vector<api_row> rows = {
#define QUORIN_EXTENSION(table, slot, result_type, name, params, args, unbound) \
    make_row(table, slot, #name, &name),
#include "extension_api.inc"
#undef QUORIN_EXTENSION
    };
    return rows;
}

std::vector<api_row> all_rows() {
    std::vector<api_row> rows = core_rows();
    rows.insert(rows.end(), extension_rows().begin(), extension_rows().end());
    return rows;
}

std::vector<uint64_t> distinct_arguments(const api_row& row) {
    std::vector<uint64_t> arguments;
    for (size_t i = 0; i < row.widths.size(); ++i) {
        const uint64_t tag = (uint64_t{row.table} << 12) | (uint64_t{row.slot} << 4) | (i + 1);
        if (row.floating[i]) {
            arguments.push_back(std::bit_cast<uint64_t>(-1.5 - static_cast<double>(tag) / 1024));
        } else if (row.widths[i] == 4) {
            arguments.push_back(0x8000'0000u | tag);
        } else {
            arguments.push_back(0x8000'0000'0000'0000u | (tag << 32) | 0xA5A5'0000u | tag);
        }
    }
    return arguments;
}

std::vector<uint64_t> zero_arguments(const api_row& row) {
    return std::vector<uint64_t>(row.widths.size(), 0);
}

uint64_t distinct_result(const api_row& row) {
    return 0xC0DE'0000'8000'0000u | (uint64_t{row.table} << 40) | (uint64_t{row.slot} << 8) | 0x5Au;
}
