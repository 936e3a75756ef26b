#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

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

namespace {
constinit std::atomic<void (*)()> fork_child_handler{nullptr};
constinit std::atomic<bool> fork_handler_registered{false};
void run_fork_child_handler() {
    if (auto* handler = fork_child_handler.load(std::memory_order_acquire)) handler();
}
}  // namespace

void platform_register_fork_child_handler(void (*handler)()) {
    fork_child_handler.store(handler, std::memory_order_release);
    if (!fork_handler_registered.load(std::memory_order_acquire) &&
        !fork_handler_registered.exchange(true)) {
        pthread_atfork(nullptr, nullptr, run_fork_child_handler);
    }
}
