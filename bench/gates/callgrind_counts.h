// Instruction counts of the forwarder loops (forwarder_loops.cpp) under callgrind.
#pragma once

#include <map>
#include <string>

struct loop_counts {
    // Instructions per call of each case, net of the empty loop: "bound_core" and so on.
    std::map<std::string, double> per_call;
    std::string error;  // empty on success
};

// Runs the loop program under callgrind, in a fresh directory below `work_directory`.
loop_counts count_loop_instructions(const std::string& loop_program,
                                    const std::string& work_directory);
