#include "line_writer.h"

#include <new>

#include "console_platform.h"
#include "text.h"

namespace console {

namespace {
// How long a fork waits for a write under way to end before it goes ahead.
constexpr auto fork_wait = std::chrono::milliseconds(100);
}  // namespace

line_writer::line_writer(output_target* out, size_t bound_bytes) : out_(out), bound_(bound_bytes) {}

line_writer::~line_writer() { close_output(out_); }

void line_writer::write(std::string_view line) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_ || broken_in_child_) return;
    note_dropped();
    if (dropped_ != 0 || in_flight_ + queued_.size() + line.size() + 1 > bound_) {
        ++dropped_;
        return;
    }
    const bool was_empty = queued_.empty();
    queued_.append(line);
    queued_ += '\n';
    ++queued_lines_;
    if (thread_ == nullptr) {
        start();
    } else if (was_empty) {
        wake_.notify_one();
    }
}

void line_writer::note_dropped() {
    if (dropped_ == 0) return;
    const std::string note =
        agent_core::format("# console agent: %llu lines dropped, the output did not take them",
                           static_cast<unsigned long long>(dropped_));
    if (in_flight_ + queued_.size() + note.size() + 1 > bound_) return;
    queued_ += note;
    queued_ += '\n';
    ++queued_lines_;
    dropped_ = 0;
}

bool line_writer::start() {
    try {
        thread_ = new std::thread([this] { run(); });
        return true;
    } catch (...) {
        // No thread to be had now: the lines wait in the queue (writing them here could hold
        // up the caller) and the next line tries again.
        thread_ = nullptr;
        return false;
    }
}

void line_writer::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !queued_.empty() || stopping_; });
        if (queued_.empty()) break;  // stopping, and everything is written
        // The batch takes the queue's buffer; the queue the one the last batch left.
        std::string batch;
        batch.swap(spare_);
        batch.swap(queued_);
        const uint64_t upto = queued_lines_;
        in_flight_ = batch.size();
        lock.unlock();
        write_output(out_, batch);
        batch.clear();
        lock.lock();
        spare_.swap(batch);
        in_flight_ = 0;
        written_lines_ = upto;
        note_dropped();
        written_.notify_all();
    }
    const bool abandoned = abandoned_;
    lock.unlock();
    if (abandoned) delete this;
}

bool line_writer::flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = queued_lines_;
    if (thread_ == nullptr) return queued_.empty();
    return written_.wait_for(lock, timeout, [&] { return written_lines_ >= target; });
}

bool line_writer::stop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    note_dropped();
    stopping_ = true;
    if (thread_ == nullptr && (queued_.empty() || !start())) return true;
    wake_.notify_one();
    if (!written_.wait_for(lock, timeout, [this] { return queued_.empty() && !writing(); })) {
        // The output blocks: the thread goes on alone and frees the writer when it is done.
        abandoned_ = true;
        thread_->detach();
        delete thread_;
        thread_ = nullptr;
        lock.unlock();
        keep_module_loaded();
        return false;
    }
    lock.unlock();
    thread_->join();
    delete thread_;
    thread_ = nullptr;
    return true;
}

void line_writer::before_fork() {
    std::unique_lock<std::mutex> lock(mutex_);
    written_.wait_for(lock, fork_wait, [this] { return !writing(); });
    lock.release();  // held until after the fork
}

void line_writer::after_fork_in_parent() { mutex_.unlock(); }

void line_writer::after_fork_in_child() {
    // The parent's thread is not here: its lock, its waits and its batch are forgotten, not
    // undone. A write it had under way may have left the file locked for good.
    broken_in_child_ = writing();
    thread_ = nullptr;
    in_flight_ = 0;
    queued_.clear();
    written_lines_ = queued_lines_;
    dropped_ = 0;
    new (&wake_) std::condition_variable();
    new (&written_) std::condition_variable();
    new (&mutex_) std::mutex();
}

}  // namespace console
