// The console agent's state: the objects behind the handles it gave out, the tracers started
// on each thread, the output, and the application's callbacks. One session per module; the
// agent context handed to the library is its address.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "quorin.h"

namespace console {

enum class tracer_kind {
    incoming_web_request,
    outgoing_web_request,
    incoming_remote_call,
    outgoing_remote_call,
    database_request,
    custom_service,
    outgoing_message,
    incoming_message_receive,
    incoming_message_process,
    in_process_link,
    span,
};
const char* tracer_kind_name(tracer_kind kind);

enum class object_kind {
    tracer,
    web_application_info,
    database_info,
    messaging_system_info,
    metric
};
const char* object_kind_name(object_kind kind);

struct attribute {
    std::string name;
    std::string value;
};

struct tracer_record {
    tracer_kind kind;
    std::string title;
    std::vector<attribute> attributes;
    std::string error;
    std::string adopted_trace_id;  // from an incoming tag or an in-process link
    std::string trace_id;
    std::string span_id;
    bool started = false;
    uint64_t start_us = 0;
    uint64_t root = 0;  // handle of the outermost tracer of its tree
    int depth = 0;
    uint64_t sequence = 0;  // start order, which is the order of the printed tree
    std::thread::id thread;
};

enum class metric_kind { counter, gauge, statistics };

struct metric_record {
    metric_kind kind;
    bool floating;
    std::string name;
    std::string unit;
};

struct object {
    object_kind kind;
    tracer_record tracer;         // object_kind::tracer
    std::vector<attribute> info;  // the info kinds: carried by the tracers made from them
    metric_record metric;         // object_kind::metric
};

uint64_t now_microseconds();

class session {
  public:
    // Destination: "" or "stdout", "stderr", or a file path (appended to).
    bool open_output(const char16_t* destination, std::string* error);
    void close_output();
    void write_line(const std::string& line);
    const std::string& output_name() const { return output_name_; }

    void begin();
    // Ends every tracer still open (marked "not ended"), prints what is pending, forgets all.
    void finish();
    bool active() const { return active_; }

    quorin_handle_t add(object&& value);
    object* find(quorin_handle_t handle);
    void remove(quorin_handle_t handle) { objects_.erase(handle); }

    void start_tracer(quorin_handle_t handle, tracer_record& tracer, uint64_t start_us);
    void end_tracer(quorin_handle_t handle, uint64_t end_us, const char* state = nullptr);
    // The innermost started tracer of the calling thread, or 0.
    quorin_handle_t current_tracer() const;

    std::string new_id(int hex_digits);

    std::mutex mutex;
    std::atomic<quorin_agent_logging_callback> logging_callback{nullptr};
    std::atomic<quorin_agent_logging_callback> warning_callback{nullptr};
    std::atomic<quorin_agent_logging_callback> verbose_callback{nullptr};

  private:
    struct pending_line {
        uint64_t sequence;
        std::string text;
    };
    void print_tree(const tracer_record& root, std::vector<pending_line> lines);

    FILE* output_ = nullptr;
    bool owns_output_ = false;
    std::string output_name_ = "standard output";
    bool active_ = false;
    quorin_handle_t next_handle_ = 1;
    uint64_t next_sequence_ = 1;
    std::map<quorin_handle_t, object> objects_;
    std::map<std::thread::id, std::vector<quorin_handle_t>> started_;  // per thread, in order
    std::map<quorin_handle_t, std::vector<pending_line>> pending_;     // finished, by root
    std::mt19937_64 random_;
};

session& the_session();

// Opens a file for appending; null with a reason when it cannot. One per platform.
FILE* open_output_file(const char16_t* path, std::string* error);

// One call of the application into the agent: holds the session lock, reports what it cannot
// interpret, and hands the messages to the application's callbacks after the lock is released
// (a callback may call the API again).
class call {
  public:
    call(void* context, const char* function);
    ~call();
    call(const call&) = delete;
    call& operator=(const call&) = delete;

    explicit operator bool() const { return valid_; }
    session& state() { return the_session(); }

    // Written to the output as "# warning: <function>: <message>" and to the callbacks.
    void warn(const std::string& message);
    // Added to the message for the verbose callback.
    void detail(const std::string& text) { detail_ += text; }

    object* find(quorin_handle_t handle, object_kind kind, const char* role);
    // A tracer of one of the kinds (any kind when empty) that has not ended yet.
    tracer_record* tracer(quorin_handle_t handle, std::initializer_list<tracer_kind> kinds = {});
    // A UTF-8 text argument; null gives "" and, when required, a warning.
    std::string text(const void* value, const char* role, bool required = true);
    // A count passed by value in a pointer-sized argument; false (with a warning) when absurd.
    bool count(const void* value, uint64_t* count);

  private:
    std::unique_lock<std::mutex> lock_;
    const char* function_;
    bool valid_ = true;
    std::string detail_;
    std::vector<std::string> warnings_;
};

// Most entries a single call may hand over in its arrays.
inline constexpr uint64_t array_limit = 1024;

}  // namespace console
