#include <fcntl.h>
#include <linux/capability.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "otel_platform.h"

namespace otel {

std::optional<std::string> read_process_environment(const char* name) {
    // Like the library's own variables: a set-user-id process does not follow them.
    const char* value = secure_getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

namespace {

// A table without a lock, so that a fork never leaves a child a lock held by a thread it does
// not have: a place is claimed by `taken`, then filled; removal empties it, then frees it.
struct hook {
    std::atomic<bool> taken{false};
    std::atomic<fork_child_function> function{nullptr};
    std::atomic<void*> context{nullptr};
};
constexpr int hook_places = 8;
hook hooks[hook_places];

// Runs in the child with only the forking thread alive. A place taken but empty was being
// filled or freed by a thread the child does not have: nobody here will ever free it.
void run_child_hooks() {
    for (hook& h : hooks) {
        if (fork_child_function f = h.function.load()) f(h.context.load());
    }
    for (hook& h : hooks) {
        if (h.function.load() == nullptr) h.taken.store(false);
    }
}

}  // namespace

int fork_child_hook_add(fork_child_function function, void* context) {
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, run_child_hooks); });
    for (int i = 0; i < hook_places; ++i) {
        bool free = false;
        if (!hooks[i].taken.compare_exchange_strong(free, true)) continue;
        hooks[i].context.store(context);
        hooks[i].function.store(function);
        return i;
    }
    return -1;
}

void fork_child_hook_remove(int token) {
    if (token < 0 || token >= hook_places) return;
    hooks[token].function.store(nullptr);
    hooks[token].context.store(nullptr);
    hooks[token].taken.store(false);
}

void wipe_memory(void* data, size_t size) {
    if (data != nullptr && size != 0) explicit_bzero(data, size);
}

namespace {

// Whether the thread may lower its nice value back to `nice` once it raised it: with
// CAP_SYS_NICE, or where RLIMIT_NICE allows that value (unprivileged threads usually may not).
bool may_return_to(int nice) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) == 0 &&
        (data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32))) != 0) {
        return true;
    }
    rlimit limit{};
    return getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
           20 - static_cast<int>(limit.rlim_cur) <= nice;
}

struct thread_scheduling {
    bool known = false;
    int application_nice = 0;
    bool reversible = false;  // may the nice value go up by 10 and back
    thread_priority current = thread_priority::application;
};
// Trivially destructible: nothing runs at the thread's exit.
thread_local thread_scheduling scheduling;

}  // namespace

thread_priority set_current_thread_priority(thread_priority wanted) {
    // Below the application: SCHED_BATCH, so that a waking exporter never pre-empts a running
    // thread and waits for the application to block or use up its slice; and, where the thread
    // may come back, nice 10 above the application's, so that when both want the processor the
    // exporter gets about a tenth of its share. The application's priority: SCHED_OTHER at the
    // application's nice value. SCHED_IDLE would starve the exporter whenever any other process
    // keeps the processors busy. On Linux these calls apply to the calling thread alone.
    const id_t thread = static_cast<id_t>(gettid());
    if (!scheduling.known) {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, thread);
        if (errno != 0) return scheduling.current;
        scheduling = {true, nice, may_return_to(nice), thread_priority::application};
    }
    if (wanted == scheduling.current) return wanted;
    const bool below = wanted == thread_priority::below_application;
    const sched_param none{};
    if (pthread_setschedparam(pthread_self(), below ? SCHED_BATCH : SCHED_OTHER, &none) != 0) {
        return scheduling.current;
    }
    if (scheduling.reversible) {
        const int nice =
            below ? std::min(scheduling.application_nice + 10, 19) : scheduling.application_nice;
        if (setpriority(PRIO_PROCESS, thread, nice) != 0 && !below) {
            // Still below the application by its nice value.
            return scheduling.current;
        }
    }
    scheduling.current = wanted;
    return wanted;
}

void name_current_thread(const char* name) { pthread_setname_np(pthread_self(), name); }

uint64_t current_process_id() { return static_cast<uint64_t>(getpid()); }

std::string host_name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

namespace {

std::string executable_path() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 && size_t(length) < sizeof path ? std::string(path, size_t(length)) : "";
}

std::string user_name() {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
        return {};
    }
    return found->pw_name;
}

}  // namespace

host_facts read_host_facts() {
    host_facts facts;
    utsname names{};
    if (uname(&names) == 0) {
        facts.machine = names.machine;
        facts.system = names.sysname;
        facts.release = names.release;
    }
    facts.host_id = read_first_file({"/etc/machine-id", "/var/lib/dbus/machine-id"}).value_or("");
    facts.os_release = read_first_file({"/etc/os-release", "/usr/lib/os-release"}).value_or("");
    facts.cgroup = read_first_file({"/proc/self/cgroup"}).value_or("");
    facts.mountinfo = read_first_file({"/proc/self/mountinfo"}, 1 << 20).value_or("");
    facts.owner = user_name();
    facts.executable_path = executable_path();
    return facts;
}

std::string executable_name() {
    // The target of /proc/self/exe, as the conventions name it; the name the process was
    // started with when that link cannot be read.
    std::string name = executable_path();
    if (name.empty()) name = program_invocation_name;
    return name.substr(name.rfind('/') + 1);
}

const char* os_type() { return "linux"; }

std::string platform_name() {
    utsname names{};
    if (uname(&names) != 0) return "Linux";
    return std::string(names.sysname) + " " + names.machine;
}

}  // namespace otel

namespace otel {

bool append_file::open(const std::string& path, std::string& error, bool empty) {
    close();
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (empty ? O_TRUNC : 0), 0600);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        error = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    handle_ = fd;
    size_ = static_cast<uint64_t>(status.st_size);
    return true;
}

bool append_file::write(std::string_view data, std::string& error) {
    while (!data.empty()) {
        const ssize_t written = ::write(static_cast<int>(handle_), data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = written < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        size_ += static_cast<uint64_t>(written);
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void append_file::truncate(uint64_t size) {
    if (ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0) size_ = size;
}

void append_file::close() {
    if (handle_ != closed) ::close(static_cast<int>(handle_));
    handle_ = closed;
}

bool rename_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void remove_file(const std::string& path) { unlink(path.c_str()); }

}  // namespace otel
