// Opens a test agent module file by its absolute native path and reaches its control block.
// While this object lives the module stays loaded, so the library's own load of the same file
// (or, for the process agent file on POSIX, of the bare process agent name) gets this very
// module, and the test scripts and inspects what the library talks to.
#pragma once

#include "test_agent_control.h"

class test_agent_module {
  public:
    // Opens the file and resets the agent to its defaults; loaded() tells whether it worked.
    explicit test_agent_module(const char* path);
    ~test_agent_module();
    test_agent_module(const test_agent_module&) = delete;
    test_agent_module& operator=(const test_agent_module&) = delete;

    bool loaded() const { return control_ != nullptr; }
    test_agent_control_block* operator->() const { return control_; }
    test_agent_control_block& control() const { return *control_; }
    // Back to the variant's defaults, with everything received forgotten.
    void reset() const;
    // Any export of the module; null when it has none of that name.
    void* symbol(const char* name) const;

  private:
    void* module_ = nullptr;
    test_agent_control_block* control_ = nullptr;
    test_agent_reset_function reset_ = nullptr;
};

// The system's module services, one implementation per platform.
void* test_agent_open(const char* path);
void* test_agent_symbol(void* module, const char* name);
void test_agent_close(void* module);
