// The console agent's lines on their way to the output, written by a thread of the agent's own,
// so that no traced thread waits for the output: a paused terminal or a pipe that nobody reads
// holds up only that thread. Lines queue up to a bound in bytes, which the batch being written
// counts against too; a line that finds the queue full is dropped and counted, and the count is
// written where the lines are missing as soon as the output takes lines again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "console_platform.h"

namespace console {

class line_writer {
  public:
    static constexpr size_t default_bound = 4u << 20;

    // The writer closes the output (close_output) when it is done with it.
    explicit line_writer(output_target* out, size_t bound_bytes = default_bound);
    ~line_writer();
    line_writer(const line_writer&) = delete;
    line_writer& operator=(const line_writer&) = delete;

    // Queues the line (without its newline) and returns; the thread starts with the first line.
    void write(std::string_view line);
    // Waits until the lines queued before the call are written; false when that takes longer
    // than the timeout.
    bool flush(std::chrono::milliseconds timeout);
    // Writes what is queued, stops the thread and closes an opened file. When the output does
    // not take the lines within the timeout, the thread is left to finish on its own: it then
    // owns this writer and frees it, the module stays loaded for it, and the caller gives the
    // writer up (release the pointer) without destroying it. Returns false then.
    bool stop(std::chrono::milliseconds timeout);

    // Fork: the lock is held across the fork, after a short wait for a write under way to end
    // (a child must not find the file locked by a thread it does not have). The child forgets
    // the thread and the lines queued, which the parent writes, and starts a thread of its own
    // with its first line.
    void before_fork();
    void after_fork_in_parent();
    void after_fork_in_child();

  private:
    void run();
    // With the lock held: the note on lines dropped since the last one, when there are any
    // and it fits.
    void note_dropped();
    // With the lock held: whether the thread is writing a batch.
    bool writing() const { return in_flight_ != 0; }
    // With the lock held: false when no thread could be started.
    bool start();

    output_target* const out_;
    const size_t bound_;
    std::mutex mutex_;
    std::condition_variable wake_;     // the thread waits on it
    std::condition_variable written_;  // flush and stop wait on it
    std::string queued_;               // lines, each with its newline
    std::string spare_;                // the buffer of the batch written last, for reuse
    size_t in_flight_ = 0;             // bytes of the batch being written (a batch is never empty)
    uint64_t queued_lines_ = 0;        // ever queued
    uint64_t written_lines_ = 0;       // of those, written
    uint64_t dropped_ = 0;             // since the last note
    bool stopping_ = false;
    bool abandoned_ = false;        // stop gave up waiting: the thread frees the writer
    bool broken_in_child_ = false;  // forked in the middle of a write: the file is not usable
    std::thread* thread_ = nullptr;
};

}  // namespace console
