// Starts thread_count threads running body(index), lets them go at once, runs the caller's
// own part meanwhile, and joins them.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

template <typename Body, typename Own>
void run_together(int thread_count, Body body, Own own) {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (!go.load()) std::this_thread::yield();
            body(t);
        });
    }
    while (ready.load() != thread_count) std::this_thread::yield();
    go.store(true);
    own();
    for (std::thread& thread : threads) thread.join();
}

template <typename Body>
void run_together(int thread_count, Body body) {
    run_together(thread_count, body, [] {});
}
