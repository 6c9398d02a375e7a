#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>

// A background thread that runs one pass of work again and again (or once), can be woken, and
// tells waiters when a pass that began after their call found nothing left to do.
namespace vyr::cld::local {

class Worker {
public:
    // A pass returns how much work it had to leave for a later pass.
    using Pass = std::function<std::size_t(const std::function<bool()>& stopping)>;

    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts the thread unless it runs. With `repeat` false the thread ends after one pass.
    void start(Pass pass, std::chrono::milliseconds interval, bool repeat);
    // Stops the thread and waits for it; from the worker's own thread it only asks it to stop.
    void stop();
    [[nodiscard]] bool running() const;

    // Waits until the thread has ended or a pass begun after this call left nothing, up to
    // `deadline`. True when that happened in time.
    bool wait_idle(std::chrono::steady_clock::time_point deadline);

private:
    void run(const Pass& pass, std::chrono::milliseconds interval, bool repeat);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    bool active_ = false;
    bool stop_ = false;
    bool wake_ = false;
    std::size_t started_ = 0;
    std::size_t finished_ = 0;
    std::size_t left_ = 0;
};

} // namespace vyr::cld::local
