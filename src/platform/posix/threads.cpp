#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

void platform_cpu_pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

void platform_sleep_1ms() {
    timespec delay{0, 1000000};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

uint64_t platform_thread_id() { return static_cast<uint64_t>(syscall(SYS_gettid)); }

void platform_utc_now(platform_utc_time* time) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    time->year = parts.tm_year + 1900;
    time->month = parts.tm_mon + 1;
    time->day = parts.tm_mday;
    time->hour = parts.tm_hour;
    time->minute = parts.tm_min;
    time->second = parts.tm_sec;
    time->millisecond = static_cast<int>(now.tv_nsec / 1000000);
}

void platform_register_fork_handlers(platform_fork_handlers* handlers) {
    if (handlers->registered.load(std::memory_order_acquire) ||
        handlers->registered.exchange(true)) {
        return;
    }
    pthread_atfork(handlers->prepare, handlers->parent, handlers->child);
}
