#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
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

struct hook {
    std::atomic<fork_child_function> function{nullptr};
    std::atomic<void*> context{nullptr};
};
constexpr int hook_places = 8;
hook hooks[hook_places];
std::mutex hooks_mutex;  // between adding and removing; the child handler takes no lock

// Runs in the child with only the forking thread alive: it reads the table, no locks.
void run_child_hooks() {
    for (hook& h : hooks) {
        if (fork_child_function f = h.function.load()) f(h.context.load());
    }
}

}  // namespace

int fork_child_hook_add(fork_child_function function, void* context) {
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, run_child_hooks); });
    std::lock_guard<std::mutex> lock(hooks_mutex);
    for (int i = 0; i < hook_places; ++i) {
        if (hooks[i].function.load() != nullptr) continue;
        hooks[i].context.store(context);
        hooks[i].function.store(function);
        return i;
    }
    return -1;
}

void lower_current_thread_priority() {
    // SCHED_BATCH: a waking batch thread never pre-empts a running one, so the exporter waits
    // for the application's thread to block or use up its slice. Nice 10 above the thread's
    // own: when both want the processor, the exporter gets about a tenth of a normal thread's
    // share, and the application's threads, waking, pre-empt it. SCHED_IDLE would yield
    // further but starves the exporter whenever any other process keeps the processors busy,
    // so a busy host would drop the spans of an idle application. On Linux both calls apply to
    // the calling thread alone; raising the nice value needs no privilege.
    const sched_param none{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &none);
    const id_t thread = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (errno == 0) setpriority(PRIO_PROCESS, thread, std::min(nice + 10, 19));
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

void fork_child_hook_remove(int token) {
    std::lock_guard<std::mutex> lock(hooks_mutex);
    if (token >= 0 && token < hook_places) hooks[token].function.store(nullptr);
}

}  // namespace otel
