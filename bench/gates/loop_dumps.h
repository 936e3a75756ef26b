// For the programs that callgrind_counts.h runs: each case runs its loop with `iterations` and
// with twice as many, each run collected alone and dumped as "<case> <iterations>"; the
// difference of the two counts is the cost of `iterations` iterations with every fixed cost
// cancelled. Run them as valgrind --tool=callgrind --collect-atstart=no --combine-dumps=yes.
#pragma once

#include <valgrind/callgrind.h>

#include <cstdint>
#include <string>

// loop(count) runs `count` iterations.
template <typename Loop>
void dump_loop_runs(const char* name, uint64_t iterations, Loop loop) {
    loop(1);  // binds the calls' linkage before anything is counted
    for (uint64_t count : {iterations, 2 * iterations}) {
        CALLGRIND_TOGGLE_COLLECT;
        loop(count);
        CALLGRIND_TOGGLE_COLLECT;
        const std::string dump_name = std::string(name) + " " + std::to_string(count);
        CALLGRIND_DUMP_STATS_AT(dump_name.c_str());
    }
}
