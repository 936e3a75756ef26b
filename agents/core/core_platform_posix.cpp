#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "core_platform.h"
#include "ids.h"
#include "recorder.h"
#include "wall_clock.h"

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

// thread_local needs no slot of the system's.
bool reserve_thread_slots(std::string*) { return true; }

void bind_current_thread(thread_binding new_binding) {
    current_binding = new_binding;
    notice.armed = true;
}

namespace {

void prepare() { the_recorder().prepare_fork(); }
void in_parent() { the_recorder().after_fork_in_parent(); }

void in_child() {
    wall_clock_after_fork_in_child();
    uint64_t seed = 0;
    if (getentropy(&seed, sizeof seed) != 0) seed = static_cast<uint64_t>(getpid());
    the_recorder().after_fork_in_child(mix_bits(seed ^ now_microseconds()));
}

}  // namespace

// The C library drops the handlers of a module when it is unloaded.
void register_fork_handlers() {
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(prepare, in_parent, in_child); });
}

// Linux names the clock source it keeps time by; elsewhere the counter is not used.
bool system_time_follows_counter() {
#if defined(__linux__)
    const int file = open("/sys/devices/system/clocksource/clocksource0/current_clocksource",
                          O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    char name[16] = {};
    const ssize_t size = read(file, name, sizeof name - 1);
    close(file);
    return size >= 3 && std::strncmp(name, "tsc", 3) == 0 && (size == 3 || name[3] == '\n');
#else
    return false;
#endif
}

}  // namespace agent_core
