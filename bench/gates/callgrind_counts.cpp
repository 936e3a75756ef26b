#include "gates/callgrind_counts.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// From the combined dump: "desc: Trigger: Client Request: bound_core 1000" then
// "totals: 12045", for each part.
std::map<std::string, std::map<double, double>> totals_by_case(const std::string& dump) {
    std::map<std::string, std::map<double, double>> totals;
    std::istringstream lines(dump);
    const std::string trigger = "desc: Trigger: Client Request: ";
    std::string name;
    double calls = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(trigger)) {
            std::istringstream words(line.substr(trigger.size()));
            words >> name >> calls;
        } else if (line.starts_with("totals: ") && !name.empty()) {
            totals[name][calls] = std::stod(line.substr(8));
            name.clear();
        }
    }
    return totals;
}

}  // namespace

loop_counts count_loop_instructions(const std::string& loop_program,
                                    const std::string& work_directory) {
    loop_counts result;
    const std::string dump = work_directory + "/forwarder_loops.callgrind";
    const std::string log = work_directory + "/forwarder_loops.valgrind.log";
    const std::string command =
        "valgrind --tool=callgrind --collect-atstart=no "
        "--combine-dumps=yes --callgrind-out-file='" +
        dump + "' '" + loop_program + "' >'" + log + "' 2>&1";
    std::remove(dump.c_str());
    if (std::system(command.c_str()) != 0) {
        result.error = "valgrind failed:\n" + read_file(log);
        return result;
    }
    const auto totals = totals_by_case(read_file(dump));
    // Each case ran with n and 2n calls: the difference is n calls without fixed costs.
    auto per_iteration = [&](const std::string& name, double* cost) {
        const auto found = totals.find(name);
        if (found == totals.end() || found->second.size() != 2) return false;
        const auto& [calls, count] = *found->second.begin();
        *cost = (found->second.rbegin()->second - count) / calls;
        return true;
    };
    double loop = 0;
    if (!per_iteration("empty", &loop)) {
        result.error = "no counts for the empty loop in " + dump;
        return result;
    }
    for (const auto& [name, runs] : totals) {
        double cost = 0;
        if (name != "empty" && per_iteration(name, &cost)) result.per_call[name] = cost - loop;
    }
    return result;
}
