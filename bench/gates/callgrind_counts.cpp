#include "gates/callgrind_counts.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// From the combined dump: a part per dump and thread ("thread: 1", "desc: Trigger: Client
// Request: bound_core 1000"), whose cost lines follow "ob=" and "fn=". An object is named once,
// "ob=(3) /path" or "cob=(3) /path", then "(3)" alone. A line after "calls=" is the callee's
// inclusive cost, not the caller's own.
std::map<std::string, std::map<double, double>> totals_by_case(const std::string& dump,
                                                               const std::string& object) {
    std::map<std::string, std::map<double, double>> totals;
    std::map<std::string, std::string> objects;  // "(3)" -> its path
    std::istringstream lines(dump);
    const std::string trigger = "desc: Trigger: Client Request: ";
    std::string name, thread;
    double iterations = 0, sum = 0;
    bool counted_object = object.empty(), call_cost = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("thread: ")) {
            thread = line.substr(8);
            name.clear();
        } else if (line.starts_with(trigger) && thread == "1") {
            std::istringstream words(line.substr(trigger.size()));
            words >> name >> iterations;
            sum = 0;
        } else if (line.starts_with("ob=") || line.starts_with("cob=")) {
            const size_t open = line.find('=') + 1, close = line.find(')') + 1;
            const std::string id = line.substr(open, close - open);
            if (line.size() > close + 1) objects[id] = line.substr(close + 1);
            if (line[0] == 'o') counted_object = object.empty() || objects[id] == object;
        } else if (line.starts_with("calls=")) {
            call_cost = true;
        } else if (!line.empty() && (std::isdigit(line[0]) || line[0] == '+' || line[0] == '-')) {
            if (counted_object && !call_cost) sum += std::stod(line.substr(line.rfind(' ')));
            call_cost = false;
        } else if (line.starts_with("totals: ") && !name.empty()) {
            totals[name][iterations] = sum;
            name.clear();
        }
    }
    return totals;
}

}  // namespace

loop_counts count_loop_instructions(const std::string& program, const std::string& object) {
    loop_counts result;
    std::string directory =
        (std::filesystem::temp_directory_path() / "quorin_gates_XXXXXX").string();
    if (mkdtemp(directory.data()) == nullptr) {
        result.error = "no temporary directory for the dump";
        return result;
    }
    const std::string dump = directory + "/callgrind.out", log = directory + "/valgrind.log";
    // Each thread's costs in parts of their own: the exporter thread, say, never counts.
    const std::string command =
        "valgrind --tool=callgrind --collect-atstart=no --combine-dumps=yes "
        "--separate-threads=yes --callgrind-out-file='" +
        dump + "' '" + program + "' >'" + log + "' 2>&1";
    const bool ran = std::system(command.c_str()) == 0;
    const std::string text = read_file(ran ? dump : log);
    std::filesystem::remove_all(directory);
    if (!ran) {
        result.error = "valgrind failed:\n" + text;
        return result;
    }
    // Each case ran with n and 2n iterations: the difference is n without fixed costs.
    for (const auto& [name, runs] : totals_by_case(text, object)) {
        if (runs.size() != 2) continue;
        const auto& [iterations, count] = *runs.begin();
        result.per_iteration[name] = (runs.rbegin()->second - count) / iterations;
    }
    if (result.per_iteration.empty()) result.error = "no loop counts in the dump of " + program;
    return result;
}
