#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A background thread that runs one pass of work again and again (or once), can be woken, and
// tells waiters when a pass that began after their call found nothing left to do.
namespace vyr::cld::local {

// The longest pause after passes that failed in a row: each failure doubles the pause, from
// the interval up to this.
inline constexpr std::chrono::milliseconds longest_pause{30000};

// A file another program holds open is tried again after a pause that doubles from the first to
// the last, each time it is still held: soon after a short hold, rarely during a long one.
inline constexpr std::chrono::milliseconds first_held_pause{250};
inline constexpr std::chrono::milliseconds last_held_pause{8000};

class Worker {
public:
    // A pass returns how much work it had to leave for a later pass.
    using Pass = std::function<std::size_t(const std::function<bool()>& stopping)>;

    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts the thread unless it runs. With `repeat` false the thread ends after one pass. A pass
    // that raises is tried again after a pause that doubles with each failure in a row.
    void start(Pass pass, std::chrono::milliseconds interval, bool repeat);
    // Stops the thread and waits for it; from the worker's own thread it only asks it to stop.
    void stop();
    [[nodiscard]] bool running() const;

    // Waits until the thread has ended or a pass begun after this call left nothing, up to
    // `deadline`. True when that happened in time.
    bool wait_idle(std::chrono::steady_clock::time_point deadline);

private:
    // Shared with the thread, so that a worker destroyed from its own thread (the last owner let
    // go inside a callback) leaves the thread something to finish with.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool active = false;
        bool stop = false;
        bool wake = false;
        std::size_t started = 0;
        std::size_t finished = 0;
        std::size_t left = 0;
    };
    static void run(const std::shared_ptr<State>& state, const Pass& pass, std::chrono::milliseconds interval,
                    bool repeat);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

} // namespace vyr::cld::local
