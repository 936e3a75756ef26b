// Finished tracers whose local root (the outermost tracer of their nesting) is still open:
// they are held so that the root's whole tree prints together, parent first, when the root
// ends. What is held is bounded per root and in all; a tree that reaches a bound is printed as
// far as it has finished, with a note, and the rest follows when the root ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "trace_model.h"

namespace console {

struct held_line {
    uint64_t sequence;  // start order, which is the order of the printed tree
    uint32_t depth;     // indentation is added when the line is printed
    std::string text;
};

struct held_tree {
    agent_core::trace_id trace;
    std::vector<held_line> lines;
};

class held_trees {
  public:
    static constexpr size_t per_root_limit = 256;
    static constexpr size_t total_limit = 16384;

    // Holds a line under its root; true when the root's tree reached a bound and is to be
    // printed now (take it).
    bool hold(uint64_t root, const agent_core::trace_id& trace, held_line line);
    // The root's tree, without the root's own line; empty when nothing was held.
    held_tree take(uint64_t root);
    // Every tree still held (the agent's release).
    std::vector<held_tree> take_all();

  private:
    std::unordered_map<uint64_t, held_tree> trees_;
    size_t total_ = 0;
};

}  // namespace console
