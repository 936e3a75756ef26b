#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "wall_clock.h"

namespace agent_core {

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
