#include "held_trees.h"

namespace console {

bool held_trees::hold(uint64_t root, const agent_core::trace_id& trace, held_line line) {
    held_tree& tree = trees_[root];
    tree.trace = trace;
    tree.lines.push_back(std::move(line));
    ++total_;
    return tree.lines.size() >= per_root_limit || total_ >= total_limit;
}

held_tree held_trees::take(uint64_t root) {
    const auto found = trees_.find(root);
    if (found == trees_.end()) return {};
    held_tree tree = std::move(found->second);
    trees_.erase(found);
    total_ -= tree.lines.size();
    return tree;
}

std::vector<held_tree> held_trees::take_all() {
    std::vector<held_tree> trees;
    for (auto& entry : trees_) trees.push_back(std::move(entry.second));
    trees_.clear();
    total_ = 0;
    return trees;
}

}  // namespace console
