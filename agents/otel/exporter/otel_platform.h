// What the exporter needs of the system besides HTTP (http_transport.h): a lower scheduling
// priority for its thread, the process environment, what the resource tells of the process and
// host, the file of JSON lines it appends to, and functions to run in the child right after fork() for state that must not carry over
// (the exporter's thread, its queue, the id sequence). Each system has its file:
// otel_platform_posix.cpp, otel_platform_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace otel {

// A variable of the process environment, as UTF-8; nullopt when it is not set.
std::optional<std::string> read_process_environment(const char* name);

uint64_t current_process_id();
// The host's name and the file name of the process executable (without directories), as the
// system gives them (not necessarily UTF-8); empty when the system does not tell.
std::string host_name();
std::string executable_name();
const char* os_type();  // "linux", "windows"
// The system and the process's architecture, for the User-Agent: "Linux x86_64".
std::string platform_name();

// What the system tells of the host and the process for the resource, read once, as it gives
// it; each text is empty when its source cannot be read.
struct host_facts {
    std::string machine;          // the processor architecture: "x86_64", "aarch64", "amd64"
    std::string host_id;          // /etc/machine-id, else /var/lib/dbus/machine-id; MachineGuid
    std::string os_release;       // the text of /etc/os-release (Linux)
    std::string system, release;  // "Linux" and the kernel's release; "Windows" and "10.0.19045"
    std::string cgroup;           // the texts of /proc/self/cgroup and /proc/self/mountinfo
    std::string mountinfo;
    std::string owner;            // the name of the user the process runs as
    std::string executable_path;  // the process's executable, its whole path
};
host_facts read_host_facts();
// The text of the first of the files that can be read, its first `limit` bytes; nothing when
// none can.
std::optional<std::string> read_first_file(std::initializer_list<const char*> paths,
                                           size_t limit = 64 * 1024);

// The scheduling priority of the exporter's threads: below the application's threads, so that
// they run when the application leaves the processor free and never pre-empt it; or the
// application's own, while the exporter falls behind.
enum class thread_priority : uint8_t { below_application, application };
// Sets the calling thread's priority; the application's is the one the thread had when it
// first called this. Returns the priority the thread runs at afterwards (a system that refuses
// the change leaves the one it had). Other threads keep theirs.
thread_priority set_current_thread_priority(thread_priority wanted);
// Names the calling thread (at most 15 characters) where the system's tools show names: top -H,
// a debugger. Failure is ignored.
void name_current_thread(const char* name);

// A file the exporter thread appends to. The path is UTF-8 (UTF-16 for the system on Windows,
// where the file is opened so that other processes may read, rename and delete it while it is
// open). A new file is readable by its owner only.
class append_file {
  public:
    append_file() = default;
    ~append_file() { close(); }
    append_file(const append_file&) = delete;
    append_file& operator=(const append_file&) = delete;

    // Opens or creates the file, emptied when `empty`; false with the system's reason in
    // `error`.
    bool open(const std::string& path, std::string& error, bool empty = false);
    bool is_open() const { return handle_ != closed; }
    // Appends all of data; false with the reason when not all of it was written.
    bool write(std::string_view data, std::string& error);
    // Cuts the file back to `size` bytes: a line written in part is taken back.
    void truncate(uint64_t size);
    // The size when opened plus what was written since.
    uint64_t size() const { return size_; }
    void close();

  private:
    static constexpr intptr_t closed = -1;
    intptr_t handle_ = closed;
    uint64_t size_ = 0;
};
// Renames a file, replacing `to`; false when it could not.
bool rename_file(const std::string& from, const std::string& to);
void remove_file(const std::string& path);

using fork_child_function = void (*)(void* context);
// Returns a token for removal, or -1 when all places are taken (or the system has no fork).
// Neither takes a lock: a child handler may remove hooks, its own or another's.
int fork_child_hook_add(fork_child_function function, void* context);
void fork_child_hook_remove(int token);

// Overwrites memory that held a secret (key material, header values) before it is freed, in a
// way the compiler does not remove.
void wipe_memory(void* data, size_t size);

}  // namespace otel
