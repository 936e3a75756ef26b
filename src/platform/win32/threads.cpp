#include <windows.h>

#include "platform/platform.h"

void platform_cpu_pause() { YieldProcessor(); }

void platform_sleep_1ms() { Sleep(1); }

uint64_t platform_thread_id() { return GetCurrentThreadId(); }

void platform_utc_now(platform_utc_time* time) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    time->year = now.wYear;
    time->month = now.wMonth;
    time->day = now.wDay;
    time->hour = now.wHour;
    time->minute = now.wMinute;
    time->second = now.wSecond;
    time->millisecond = now.wMilliseconds;
}

void platform_register_fork_handlers(platform_fork_handlers*) {}
