// One job at a time on a thread of its own, so that the exporter thread makes the next batch
// while the last one is on its way to the collector. What the job reads and writes is the
// job's from start() until the next wait() returns, and the caller's otherwise.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace otel {

class background_sender {
  public:
    // `on_thread` runs once on the new thread before its first job.
    background_sender(std::function<void()> job, std::function<void()> on_thread);
    ~background_sender() { stop(); }
    background_sender(const background_sender&) = delete;
    background_sender& operator=(const background_sender&) = delete;

    // Waits for the job under way, then runs the job again on the thread (started by the first
    // call; where no thread can be made, the job runs here before start returns).
    void start();
    // Until no job runs.
    void wait();
    // Like wait(), for at most `most`; true when no job runs.
    bool wait_for(std::chrono::milliseconds most);
    // Waits for the job under way and ends the thread; start() may make a new one.
    void stop();

  private:
    void loop();

    std::function<void()> job_;
    std::function<void()> on_thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;  // a job was started and has not finished
    bool quit_ = false;
    bool inline_ = false;  // no thread could be made
    std::thread thread_;
};

}  // namespace otel
