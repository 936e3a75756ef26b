#include "gates/disassembly.h"

#include <cstdio>
#include <memory>
#include <regex>
#include <sstream>

namespace {

constexpr size_t longest_path = 64;

std::string run_command(const std::string& command, int* exit_status) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        *exit_status = -1;
        return output;
    }
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0) output.append(chunk, n);
    *exit_status = pclose(pipe.release());
    return output;
}

uint64_t hex(const std::string& text) { return std::stoull(text, nullptr, 16); }

// "mov    0x8f69(%rip),%rax        # e150 <agent_function_table>"
instruction parse_instruction(uint64_t address, std::string text) {
    instruction result;
    result.address = address;
    if (const size_t hash = text.find('#'); hash != std::string::npos) {
        result.comment = text.substr(text.find_first_not_of(' ', hash + 1));
        text.erase(hash);
    }
    std::istringstream words(text);
    words >> result.mnemonic;
    // Branch-tracking prefixes do not change what the instruction does.
    while (result.mnemonic == "bnd" || result.mnemonic == "notrack") words >> result.mnemonic;
    std::getline(words >> std::ws, result.operands);
    while (!result.operands.empty() && result.operands.back() == ' ') result.operands.pop_back();
    return result;
}

void read_sections(const std::string& file, module_code& code) {
    int status = 0;
    const std::string headers = run_command("objdump -h '" + file + "' 2>&1", &status);
    // "  21 .got          00000028  000000000000dfd8  000000000000dfd8  0000cfd8  2**3"
    const std::regex section(R"(^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s)");
    std::istringstream lines(headers);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_search(line, match, section)) continue;
        if (match[1] == ".got" || match[1] == ".got.plt") {
            const uint64_t begin = hex(match[3]);
            code.got.emplace_back(begin, begin + hex(match[2]));
        }
    }
}

}  // namespace

uint64_t instruction::target() const {
    const std::string& text = is_branch() && !operands.starts_with("*") ? operands : comment;
    if (text.empty() || !std::isxdigit(static_cast<unsigned char>(text[0]))) return 0;
    return hex(text.substr(0, text.find(' ')));
}

bool instruction::refers_to(const std::string& symbol) const {
    return comment.ends_with(" <" + symbol + ">");
}

bool module_code::in_got(uint64_t address) const {
    for (const auto& [begin, end] : got) {
        if (address >= begin && address < end) return true;
    }
    return false;
}

module_code disassemble(const std::string& file) {
    module_code code;
    int status = 0;
    const std::string listing =
        run_command("objdump -d -C -w --no-show-raw-insn '" + file + "' 2>&1", &status);
    if (status != 0) {
        code.error = "objdump failed: " + listing.substr(0, 500);
        return code;
    }
    read_sections(file, code);
    const std::regex label(R"(^[0-9a-f]+ <(.+)>:$)");
    const std::regex line(R"(^\s+([0-9a-f]+):\t(.*)$)");
    std::vector<instruction>* function = nullptr;
    std::istringstream lines(listing);
    for (std::string text; std::getline(lines, text);) {
        std::smatch match;
        if (std::regex_match(text, match, label)) {
            const std::string name = match[1];
            function = &code.functions[name.substr(0, name.find('('))];
        } else if (function != nullptr && std::regex_match(text, match, line)) {
            function->push_back(parse_instruction(hex(match[1]), match[2]));
        }
    }
    if (code.functions.empty()) code.error = "no functions in the disassembly of " + file;
    return code;
}

std::vector<code_path> paths_through(const std::vector<instruction>& function) {
    std::map<uint64_t, size_t> position;
    for (size_t i = 0; i < function.size(); ++i) position[function[i].address] = i;

    std::vector<code_path> done;
    std::vector<std::pair<size_t, code_path>> open;
    if (!function.empty()) open.push_back({0, {}});
    while (!open.empty()) {
        auto [at, path] = std::move(open.back());
        open.pop_back();
        for (;;) {
            if (at >= function.size() || path.steps.size() == longest_path) {
                path.leaves = code_path::exit::other;
                break;
            }
            const instruction& step = function[at];
            path.steps.push_back(step);
            if (step.mnemonic == "ret") {
                path.leaves = code_path::exit::returns;
                break;
            }
            if (step.is_indirect_jump()) {
                path.leaves = code_path::exit::indirect_jump;
                break;
            }
            if (step.mnemonic == "ud2" || step.mnemonic == "hlt") {
                path.leaves = code_path::exit::other;
                break;
            }
            if (!step.is_branch()) {
                ++at;
                continue;
            }
            const auto inside = position.find(step.target());
            const bool conditional = step.mnemonic != "jmp";
            if (inside == position.end()) {
                // A branch out of the function is a tail call; a conditional one may also
                // fall through.
                if (conditional) {
                    code_path taken = path;
                    taken.leaves = code_path::exit::tail_call;
                    done.push_back(std::move(taken));
                    ++at;
                    continue;
                }
                path.leaves = code_path::exit::tail_call;
                break;
            }
            if (conditional) open.push_back({at + 1, path});
            at = inside->second;
        }
        done.push_back(std::move(path));
    }
    return done;
}
