// Instruction counts of the loop programs (loop_dumps.h) under callgrind.
#pragma once

#include <map>
#include <string>

struct loop_counts {
    // Instructions per iteration of each case, on the program's main thread.
    std::map<std::string, double> per_iteration;
    std::string error;  // empty on success
};

// Runs the program under callgrind in a fresh temporary directory. With an object (the path of
// a module, say) only that object's own instructions count.
loop_counts count_loop_instructions(const std::string& program, const std::string& object = "");
