#include "thread_binding.h"

namespace agent_core {
namespace {

thread_local thread_binding binding{nullptr, 0};

struct exit_notice {
    bool armed = false;
    ~exit_notice() {
        if (armed) thread_exited(binding);
    }
};
thread_local exit_notice notice;

}  // namespace

thread_binding current_thread_binding() { return binding; }

void bind_current_thread(thread_binding new_binding) {
    binding = new_binding;
    notice.armed = true;
}

}  // namespace agent_core
