// Gates on what every traced application pays per call: the machine code of each forwarder in
// the x86-64 Linux build of libquorin, and callgrind's count of a forwarder call in a loop.
// The figures are instruction counts, so they hold on a loaded machine too.
//
// On 64-bit Windows only four arguments travel in registers: a forwarder with four or more
// arguments of its own passes one on the stack behind the context and cannot end in a tail
// jump there. That is the one exception to the shapes checked here.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "api/agent_binding.h"
#include "gates/callgrind_counts.h"
#include "gates/disassembly.h"

namespace {

// The words a forwarder reads are members of one object, which objdump names with an offset.
std::string symbol_of(const std::string& word) {
    static const std::map<std::string, size_t> offsets = {
        {"agent_function_table", offsetof(agent_values, function_table)},
        {"agent_context", offsetof(agent_values, context)},
        {"metrics_interface", offsetof(agent_values, metrics)},
        {"serverless_interface", offsetof(agent_values, serverless)},
        {"span_interface", offsetof(agent_values, span)},
        {"techtype_interface", offsetof(agent_values, techtype)},
        {"tracer_ext_interface", offsetof(agent_values, tracer_ext)},
    };
    const size_t offset = offsets.at(word);
    char suffix[32] = "";
    if (offset != 0) std::snprintf(suffix, sizeof suffix, "+0x%zx", offset);
    return "agent_reach" + std::string(suffix);
}

struct forwarder {
    std::string name;
    std::string interface;  // empty for the core API
    size_t arguments;       // the caller's, without the context
    bool writes_unbound;    // the unbound answer fills the caller's output areas
};

size_t count_arguments(const std::string& list) {
    if (list == "()") return 0;
    size_t count = 1;
    for (char c : list) count += c == ',';
    return count;
}

// An unbound answer that is a call writes into the caller's areas; the others are constants.
bool is_call(const std::string& unbound) { return unbound.find('(') != std::string::npos; }

std::vector<forwarder> all_forwarders() {
    std::vector<forwarder> list = {
#define QUORIN_CORE(slot, result, name, params, args, unbound) \
    {#name, "", count_arguments(#args), is_call(#unbound)},
#include "core_api.inc"
#undef QUORIN_CORE
#define QUORIN_EXTENSION(interface, slot, result, name, params, args, unbound) \
    {#name, #interface, count_arguments(#args), is_call(#unbound)},
#include "extension_api.inc"
#undef QUORIN_EXTENSION
        // Slot 2, which no export reaches, has an internal forwarder of the same frame.
        {"agent_slot_2", "", 4, false},
    };
    return list;
}

const module_code& library_code() {
    static const module_code code = disassemble(QUORIN_LIBRARY_FILE);
    return code;
}

// The bound path ends in the slot's indirect jump; every other path is unbound.
const code_path* bound_path(const std::vector<code_path>& paths) {
    for (const code_path& path : paths) {
        if (path.leaves == code_path::exit::indirect_jump) return &path;
    }
    return nullptr;
}

bool reads(const code_path& path, const std::string& word) {
    for (const instruction& step : path.steps) {
        if (step.refers_to(symbol_of(word))) return true;
    }
    return false;
}

std::string listing(const code_path& path) {
    std::string text;
    for (const instruction& step : path.steps) {
        text += "  " + step.mnemonic + " " + step.operands;
        if (!step.comment.empty()) text += "  # " + step.comment;
        text += "\n";
    }
    return text;
}

TEST(ForwarderGates, EveryForwarderTailJumpsThroughItsOwnVariables) {
    const module_code& code = library_code();
    ASSERT_EQ(code.error, "");
    ASSERT_FALSE(code.got.empty()) << "no .got section found";
    for (const forwarder& f : all_forwarders()) {
        SCOPED_TRACE(f.name);
        const auto function = code.functions.find(f.name);
        ASSERT_NE(function, code.functions.end()) << "not in " << QUORIN_LIBRARY_FILE;
        const std::vector<code_path> paths = paths_through(function->second);
        size_t tail_jumps = 0;
        for (const code_path& path : paths) {
            EXPECT_NE(path.leaves, code_path::exit::other) << listing(path);
            tail_jumps += path.leaves == code_path::exit::indirect_jump;
        }
        EXPECT_EQ(tail_jumps, 1u);
        for (const instruction& step : function->second) {
            EXPECT_FALSE(code.in_got(step.target()))
                << "reads the GOT: " << step.mnemonic << " " << step.operands;
        }
        const code_path* bound = bound_path(paths);
        ASSERT_NE(bound, nullptr);
        const std::string first = f.interface.empty() ? "agent_function_table" : f.interface;
        EXPECT_TRUE(bound->steps.front().refers_to(symbol_of(first)))
            << "does not start by loading " << first << ":\n"
            << listing(*bound);
        EXPECT_TRUE(reads(*bound, "agent_function_table")) << listing(*bound);
        EXPECT_TRUE(reads(*bound, "agent_context")) << listing(*bound);
        for (const instruction& step : bound->steps) {
            EXPECT_NE(step.mnemonic, "call") << listing(*bound);
        }
    }
}

TEST(ForwarderGates, BoundAndUnboundPathsStayWithinTheirInstructionBudgets) {
    const module_code& code = library_code();
    ASSERT_EQ(code.error, "");
    // The most that any forwarder uses of the fixed parts of its budgets.
    long bound_fixed = 0, unbound_fixed = 0;
    for (const forwarder& f : all_forwarders()) {
        SCOPED_TRACE(f.name);
        const auto function = code.functions.find(f.name);
        ASSERT_NE(function, code.functions.end());
        // The extension interface pointer costs a load, a test and a branch more.
        const long extension = f.interface.empty() ? 0 : 3;
        const long arguments = static_cast<long>(f.arguments);
        for (const code_path& path : paths_through(function->second)) {
            const long steps = static_cast<long>(path.steps.size());
            if (path.leaves == code_path::exit::indirect_jump) {
                EXPECT_LE(steps, 7 + arguments + extension) << "bound path:\n" << listing(path);
                bound_fixed = std::max(bound_fixed, steps - arguments - extension);
            } else if (!f.writes_unbound) {
                EXPECT_EQ(path.leaves, code_path::exit::returns) << listing(path);
                EXPECT_LE(steps, 5 + extension) << "unbound path:\n" << listing(path);
                unbound_fixed = std::max(unbound_fixed, steps - extension);
            }
        }
    }
    std::printf(
        "Bound paths take at most %ld + n instructions, unbound ones %ld "
        "(extensions: 3 more)\n",
        bound_fixed, unbound_fixed);
}

TEST(ForwarderGates, ACallInALoopCostsAtMostItsBudgetUnderCallgrind) {
    const loop_counts counts = count_loop_instructions(FORWARDER_LOOPS_FILE);
    ASSERT_EQ(counts.error, "");
    const double loop = counts.per_iteration.at("empty");
    // Net of the loop: the argument, the call, the linkage jump, the forwarder and the agent's
    // do-nothing slot.
    const struct {
        const char* name;
        double budget;
    } budgets[] = {{"bound_core", 15},
                   {"unbound_core", 9},
                   {"bound_extension", 15 + 3},
                   {"unbound_extension", 9 + 3}};
    for (const auto& [name, budget] : budgets) {
        const auto found = counts.per_iteration.find(name);
        ASSERT_NE(found, counts.per_iteration.end()) << name;
        const double per_call = found->second - loop;
        EXPECT_LE(per_call, budget) << name;
        std::printf("%-18s %5.1f instructions per call (budget %.0f)\n", name, per_call, budget);
    }
}

}  // namespace
