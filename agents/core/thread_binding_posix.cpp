#include "thread_binding.h"

namespace agent_core {
namespace {

struct exit_notice {
    bool armed = false;
    ~exit_notice() {
        if (armed) thread_exited(current_binding);
    }
};
thread_local exit_notice notice;

}  // namespace

thread_local constinit thread_binding current_binding{nullptr, 0};

void bind_current_thread(thread_binding new_binding) {
    current_binding = new_binding;
    notice.armed = true;
}

}  // namespace agent_core
