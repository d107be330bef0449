#pragma once
// A logger with its own thread and queue. The service starts and stops it;
// lines still queued when it stops are dropped, never written.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace utils {

class async_logger {
public:
    struct entry {
        std::uint32_t code = 0;
        std::function<std::string()> producer; // when set, makes the text at write time
        std::string text;
    };

    // The process-wide logger; created and started on first use.
    static async_logger& instance();

    async_logger() = default;
    ~async_logger();
    async_logger(const async_logger&) = delete;
    async_logger& operator=(const async_logger&) = delete;

    // Stops a running thread, clears the stop flag and starts a new thread.
    void start();
    // Drops every queued entry, stops and joins the thread. Harmless when no thread runs.
    void stop();
    // Queues one entry for the logger thread.
    void post(entry e);

    [[nodiscard]] bool running() const;
    [[nodiscard]] std::size_t pending() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<entry> queue_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace utils
