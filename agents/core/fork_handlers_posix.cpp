#include <pthread.h>
#include <unistd.h>

#include <mutex>

#include "ids.h"
#include "recorder.h"
#include "wall_clock.h"

namespace agent_core {
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

}  // namespace agent_core
