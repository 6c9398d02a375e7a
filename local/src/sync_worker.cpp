#include "sync_worker.h"

#include <exception>
#include <utility>

namespace vyr::cld::local {

Worker::~Worker()
{
    stop();
}

void Worker::start(Pass pass, std::chrono::milliseconds interval, bool repeat)
{
    std::unique_lock lock(mutex_);
    if (active_) {
        return;
    }
    if (thread_.joinable()) {
        // A thread that ended on its own (a single pass, or asked to stop from inside) is
        // collected before the next starts.
        auto old = std::move(thread_);
        lock.unlock();
        old.join();
        lock.lock();
    }
    active_ = true;
    stop_ = false;
    thread_ = std::thread([this, pass = std::move(pass), interval, repeat] { run(pass, interval, repeat); });
}

void Worker::stop()
{
    std::unique_lock lock(mutex_);
    stop_ = true;
    changed_.notify_all();
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
        return;
    }
    auto old = std::move(thread_);
    lock.unlock();
    old.join();
}

bool Worker::running() const
{
    const std::lock_guard lock(mutex_);
    return active_;
}

bool Worker::wait_idle(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    const auto target = started_ + 1;
    wake_ = true;
    changed_.notify_all();
    return changed_.wait_until(lock, deadline, [&] { return !active_ || (finished_ >= target && left_ == 0); });
}

void Worker::run(const Pass& pass, std::chrono::milliseconds interval, bool repeat)
{
    const auto stopping = [this] {
        const std::lock_guard lock(mutex_);
        return stop_;
    };
    std::unique_lock lock(mutex_);
    while (!stop_) {
        ++started_;
        wake_ = false;
        lock.unlock();
        std::size_t left = 1;
        try {
            left = pass(stopping);
        } catch (...) {
            // A pass that failed is tried again on the next round; nothing reaches the host.
        }
        lock.lock();
        ++finished_;
        left_ = left;
        changed_.notify_all();
        if (!repeat) {
            break;
        }
        changed_.wait_for(lock, interval, [this] { return stop_ || wake_; });
    }
    active_ = false;
    changed_.notify_all();
}

} // namespace vyr::cld::local
