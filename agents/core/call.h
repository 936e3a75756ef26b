// One call of the application into the agent: checks the agent context, decodes the
// arguments into the thread's buffers, and reports what it cannot interpret. The warnings go
// to the output before anything else the call hands it, and, with the verbose line, to the
// application's callbacks when the call is done and holds no lock: a callback may call the
// API again, and those calls are traced but raise no further callbacks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "recorder.h"
#include "text.h"

namespace agent_core {

// Most entries a single call may hand over in its arrays.
inline constexpr uint64_t array_limit = 1024;

class call {
  public:
    // The usual call (this agent's context, initialized) stays inline; the rest is refused
    // out of line.
    call(void* context, const char* function)
        : thread_(&the_recorder().threads.current()),
          claim_(thread_->claim()),
          function_(function) {
        // Set once from both ways, so that the slot's check of it follows the usual one
        // without reading it back.
        refusal_ = context == &the_recorder() && the_recorder().active() ? QUORIN_STATUS_OK
                                                                         : refuse(context);
    }
    // Without warnings and without a verbose callback there is nothing to hand on.
    ~call() {
        if (noted_ || the_recorder().verbose_callback.load(std::memory_order_relaxed) != nullptr) {
            finish();
        }
    }
    call(const call&) = delete;
    call& operator=(const call&) = delete;

    // False when the context is not this agent's or the agent is not initialized.
    explicit operator bool() const { return refusal_ == QUORIN_STATUS_OK; }
    // What a refused call that returns a status answers.
    quorin_status_t refusal() const { return refusal_; }
    recorder& core() const { return the_recorder(); }
    thread_state& thread() const { return *thread_; }

    // "<function>: <message>" to the output and the warning and logging callbacks.
    void warn(std::string message);
    // Hands the warnings so far to the output.
    void write_warnings() {
        if (noted_) write_noted();
    }
    // Whether a verbose callback will receive this call; detail() adds to its line then only,
    // so that the arguments are formatted only for a callback.
    bool verbose() const {
        return !thread_->in_callback &&
               the_recorder().verbose_callback.load(std::memory_order_relaxed) != nullptr;
    }
    template <typename... Arguments>
    void detail(const char* pattern, Arguments... arguments) {
        if (verbose()) add_detail(pattern, arguments...);
    }

    // A cleared record of that kind, from this thread's spares when it keeps one.
    record_ptr new_record(object_kind kind) const {
        return agent_core::new_record(kind, thread_->spares);
    }

    // A UTF-8 text argument, valid during the call; null gives "" and, when required, a warning.
    std::string_view text(const void* value, const char* role, bool required = true);
    std::string_view bytes(const unsigned char* value, size_t size);
    // A text argument added to the record as the key's attribute, decoded straight into it;
    // a null one adds an empty text and, when required, a warning.
    bool add_text(object_record& record, attribute_key key, const void* value, const char* role,
                  bool required = true) {
        if (value == nullptr) return add_null_text(record, key, role, required);
        return record.add_written_text(key, [value](text_buffer& texts) {
            append_printable_text(texts, static_cast<const char*>(value));
        });
    }
    // A count passed by value in a pointer-sized argument; false (with a warning) when absurd.
    bool count(const void* value, uint64_t* count) {
        *count = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
        return *count <= array_limit || refuse_count(*count);
    }

    // The live object of that kind, locked; empty (with a warning) otherwise.
    object_table::locked find(quorin_handle_t handle, object_kind kind, const char* role) {
        object_table::locked found = core().objects.find(handle);
        if (found && found->kind == kind) return found;
        return not_found(std::move(found), handle, role);
    }
    // A tracer of one of the kinds (any kind when empty) that has not ended yet.
    object_table::locked tracer(quorin_handle_t handle,
                                std::initializer_list<tracer_kind> kinds = {}) {
        object_table::locked found = find(handle, object_kind::tracer, "tracer");
        if (!found || kinds.size() == 0) return found;
        for (tracer_kind kind : kinds) {
            if (found->tracer == kind) return found;
        }
        return not_of_kind(std::move(found), handle, *kinds.begin());
    }
    // After an add to the record: warns once per object when its attributes are full, and
    // counts further entries of the same call that were not offered.
    void kept(object_record& record, bool added, uint64_t not_offered = 0) {
        if (!added) not_kept(record, not_offered);
    }

  private:
    // The warnings of the calls above, out of the way of the usual case: each gives what the
    // call returns then.
    bool refuse_count(uint64_t count);
    object_table::locked not_found(object_table::locked found, quorin_handle_t handle,
                                   const char* role);
    object_table::locked not_of_kind(object_table::locked found, quorin_handle_t handle,
                                     tracer_kind expected);
    void not_kept(object_record& record, uint64_t not_offered);
    bool add_null_text(object_record& record, attribute_key key, const char* role, bool required);
    // Warns and gives the refusal.
    quorin_status_t refuse(void* context);
    // Hands the notes on and destroys them.
    void finish();
    void hand_on();
    void add_detail(const char* pattern, ...) __attribute__((format(printf, 2, 3)));

    thread_state* thread_;
    uint64_t claim_;
    const char* function_;
    quorin_status_t refusal_;
    // Made at the first warning or detail, which most calls have neither of, and destroyed
    // by finish(): the destructor of the usual call checks one flag.
    struct notes {
        std::string detail;
        std::vector<std::string> warnings;
        size_t written = 0;
    };
    notes& noted() {
        if (!noted_) {
            new (&notes_) notes();
            noted_ = true;
        }
        return notes_;
    }
    void write_noted();
    bool noted_ = false;
    union {
        notes notes_;
    };
};

}  // namespace agent_core
