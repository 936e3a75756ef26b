// Every forwarding export of the shared library as a row, generated from the library's own
// lists of exports: the table and slot it reaches, its parameter widths, and a way to call it
// with arguments and read its result as raw bits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "agent/test_agent_control.h"
#include "support/argument_bits.h"

struct api_row {
    test_agent_table table;
    uint32_t slot;
    std::string name;
    std::vector<size_t> widths;  // bytes per parameter, in order
    std::vector<bool> floating;  // per parameter: a floating-point value
    size_t result_width;         // 0: no result
    uint64_t unbound;            // the result's bits while no agent is bound
    // Calls the export with these argument bits (a floating-point argument as the bits of a
    // double) and returns the result's bits, 0 for none.
    std::function<uint64_t(const std::vector<uint64_t>&)> call;
};

const std::vector<api_row>& core_rows();
const std::vector<api_row>& extension_rows();
std::vector<api_row> all_rows();

// Arguments that tell every slot and position apart, with the top bit of their width set so
// that a cut, a sign extension or a swap shows.
std::vector<uint64_t> distinct_arguments(const api_row& row);
// Arguments that make no export write anywhere: every address null, every size 0.
std::vector<uint64_t> zero_arguments(const api_row& row);
// A result the agent is scripted to give for this row, distinct per slot.
uint64_t distinct_result(const api_row& row);
