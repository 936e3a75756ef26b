// The one internal interface to the operating system. src/platform/posix/ and
// src/platform/win32/ implement it; nothing else in src/ tests for the platform.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PLATFORM_HIDDEN
#else
// Internal globals read by the forwarders: hidden, so that they are reached without the GOT.
#define PLATFORM_HIDDEN __attribute__((visibility("hidden")))
#endif

// ---- Heap ----
// Every allocation of the library goes through these, so a failed one becomes a status code.
void* platform_heap_allocate(size_t bytes);
void* platform_heap_reallocate(void* block, size_t bytes);
void platform_heap_release(void* block);
// Only in the test build of the heap (quorin_heap_faults): makes the n-th allocation from now
// fail (1: the next one; 0: none), and counts the allocations attempted so far.
void platform_heap_fail_nth(uint64_t n);
uint64_t platform_heap_allocations();

// The system heap under the functions above (one per backend).
void* system_heap_allocate(size_t bytes);
void* system_heap_reallocate(void* block, size_t bytes);
void system_heap_release(void* block);

// ---- Threads and time ----
void platform_cpu_pause();
void platform_sleep_1ms();
uint64_t platform_thread_id();

struct platform_utc_time {
    int year, month, day, hour, minute, second, millisecond;
};
void platform_utc_now(platform_utc_time* time);

// Handlers run around every later fork(): prepare in the forking thread before it, parent
// and child after it (any may be null). Registered once per record; no-op without fork.
struct platform_fork_handlers {
    std::atomic<bool> registered;
    void (*prepare)();
    void (*parent)();
    void (*child)();
};
void platform_register_fork_handlers(platform_fork_handlers* handlers);

// ---- Standard error ----
// Writes one line to standard error at once, past any C runtime's buffer (on Windows: as
// UTF-16 to a console, else as UTF-8 with one write on the handle). False when there is none.
bool platform_stderr_write(const char16_t* text, size_t length);

// ---- Environment ----
enum class platform_env_result { found, not_set, out_of_memory };
// On found, *value is a new owned string (release with platform_heap_release); set but empty
// is found with an empty value. Privileged (set-user-id) processes see nothing on POSIX.
platform_env_result platform_env_get(const char16_t* name, char16_t** value);
// Test support: sets (value non-null) or removes (null) a variable.
bool platform_env_set(const char16_t* name, const char16_t* value);

// ---- Agent home ----
// The agent module's file name below <home>/agent/lib64/, and whether paths use '\'.
extern const char16_t platform_agent_file_name[];
extern const bool platform_paths_use_backslash;

// ---- System error texts ----
// The system's message for code, inserts unexpanded, written into buffer (capacity > 1).
// Returns the number of characters written, or 0 when there is none or it does not fit.
size_t platform_system_error_text(uint32_t code, char16_t* buffer, size_t capacity);

// ---- Modules ----
// Whether the system's kernel module is present; and the search flags to load with.
bool platform_loader_search_flags(uint32_t* flags);
// Adds "fail critical errors" to the thread's error mode. Returns whether it was changed.
bool platform_error_mode_enter(uint32_t* saved_mode);
void platform_error_mode_restore(uint32_t saved_mode);
// Loads a module from a path. On failure returns null with *error set at once; may leave a
// text naming the file in buffer (the system's, or one with a %1 insert for the name when
// platform_load_error_has_name_insert), otherwise leaves buffer untouched. Windows hands the
// loader the full path with '\' separators (the \\?\ form beyond MAX_PATH) and refuses a
// path that is not fully qualified with ERROR_INVALID_PARAMETER, as the restricted search does.
void* platform_module_open(const char16_t* name, uint32_t flags, uint32_t* error, char16_t* buffer,
                           size_t capacity);
// Takes a reference to a module already in the process, found by its name among the loaded
// modules (the soname on POSIX) without opening or searching for any file. Not loaded: null
// with an expected error.
void* platform_module_find_loaded(const char16_t* name, uint32_t* error, char16_t* buffer,
                                  size_t capacity);
void* platform_module_symbol(void* module, const char* name, uint32_t* error, char16_t* buffer,
                             size_t capacity);
// 0 or the system's error code.
uint32_t platform_module_close(void* module);
// Load failures that only say "not there" (or "name refused"); every other one is unexpected.
bool platform_load_error_expected(uint32_t code);
// Load failures whose text carries a %1 insert for the module name.
bool platform_load_error_has_name_insert(uint32_t code);
