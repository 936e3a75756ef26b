// The exporter thread runs below the application's threads: its own scheduling policy and
// nice value are lowered, and the thread that started it keeps its own.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "exporter.h"

namespace {

struct scheduling {
    int policy;
    int nice;
};

scheduling of_thread(pid_t thread) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    return {sched_getscheduler(thread), errno == 0 ? nice : 100};
}

TEST(OtelExporterPriority, OnlyTheExporterThreadIsLowered) {
    const scheduling application = of_thread(gettid());
    otel::exporter_options options;
    options.schedule_delay = std::chrono::hours(1);
    otel::exporter exporter(options);
    exporter.start();
    // A round served: the thread has set its priority, which it does first.
    ASSERT_TRUE(exporter.flush());

    int lowered = 0;
    DIR* tasks = opendir("/proc/self/task");
    ASSERT_NE(tasks, nullptr);
    while (const dirent* entry = readdir(tasks)) {
        const pid_t thread = static_cast<pid_t>(std::atoi(entry->d_name));
        if (thread <= 0 || thread == gettid()) continue;
        const scheduling s = of_thread(thread);
        if (s.policy == SCHED_BATCH && s.nice == std::min(application.nice + 10, 19)) ++lowered;
    }
    closedir(tasks);
    EXPECT_GE(lowered, 1);
    const scheduling after = of_thread(gettid());
    EXPECT_EQ(after.policy, application.policy);
    EXPECT_EQ(after.nice, application.nice);
}

}  // namespace
