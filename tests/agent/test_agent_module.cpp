#include "test_agent_module.h"

test_agent_module::test_agent_module(const char* path) : module_(test_agent_open(path)) {
    if (module_ == nullptr) return;
    const auto control = reinterpret_cast<test_agent_control_function>(
        test_agent_symbol(module_, test_agent_control_symbol));
    reset_ = reinterpret_cast<test_agent_reset_function>(
        test_agent_symbol(module_, test_agent_reset_symbol));
    if (control == nullptr || reset_ == nullptr) return;
    control_ = control();
    reset();
}

test_agent_module::~test_agent_module() {
    if (module_ != nullptr) test_agent_close(module_);
}

void test_agent_module::reset() const {
    if (reset_ != nullptr) reset_();
}

void* test_agent_module::symbol(const char* name) const {
    return module_ != nullptr ? test_agent_symbol(module_, name) : nullptr;
}
