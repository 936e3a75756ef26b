// A module's functions as objdump disassembles them, and every way through one function.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct instruction {
    uint64_t address = 0;
    std::string mnemonic;  // "mov", "jne", "jmp", ...
    std::string operands;  // "0x8f69(%rip),%rax"
    std::string comment;   // objdump's note on a rip-relative operand: "e150 <agent_context>"

    bool is_branch() const { return !mnemonic.empty() && mnemonic[0] == 'j'; }
    bool is_indirect_jump() const { return mnemonic == "jmp" && operands.starts_with("*"); }
    // The absolute address named by objdump's comment or by a direct branch; 0 when none.
    uint64_t target() const;
    // Whether objdump's comment names exactly this symbol.
    bool refers_to(const std::string& symbol) const;
};

struct module_code {
    std::map<std::string, std::vector<instruction>> functions;  // by name, without parameters
    std::vector<std::pair<uint64_t, uint64_t>> got;             // [begin, end) of .got, .got.plt
    std::string error;                                          // empty on success

    bool in_got(uint64_t address) const;
};

module_code disassemble(const std::string& file);

// One way from a function's entry to where it leaves: the instructions run, in order.
struct code_path {
    enum class exit { returns, indirect_jump, tail_call, other };
    std::vector<instruction> steps;
    exit leaves = exit::other;
};

// Every way through a function without loops; a path longer than 64 instructions (a loop, or
// no exit) ends as exit::other.
std::vector<code_path> paths_through(const std::vector<instruction>& function);
