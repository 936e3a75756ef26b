#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

std::string executable_name() {
    // The target of /proc/self/exe, as the conventions name it; the name the process was
    // started with when that link cannot be read.
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string name = length > 0 && size_t(length) < sizeof path
                           ? std::string(path, size_t(length))
                           : program_invocation_name;
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
