#include "background_sender.h"

#include <system_error>

namespace otel {

background_sender::background_sender(std::function<void()> job, std::function<void()> on_thread)
    : job_(std::move(job)), on_thread_(std::move(on_thread)) {}

void background_sender::stop() {
    if (!thread_.joinable()) return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !running_; });
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
    quit_ = false;
}

void background_sender::start() {
    wait();
    if (!thread_.joinable() && !inline_) {
        try {
            thread_ = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
            inline_ = true;
        }
    }
    if (inline_) {
        job_();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
    }
    changed_.notify_all();
}

void background_sender::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !running_; });
}

bool background_sender::wait_for(std::chrono::milliseconds most) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, most, [&] { return !running_; });
}

void background_sender::loop() {
    if (on_thread_) on_thread_();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return running_ || quit_; });
        if (quit_) return;
        lock.unlock();
        try {
            job_();
        } catch (...) {  // what the job lost it counts itself; the thread must go on
        }
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}

}  // namespace otel
