#include "sync_worker.h"

#include <algorithm>
#include <utility>

namespace vyr::cld::local {

Worker::~Worker()
{
    stop();
    if (thread_.joinable()) {
        thread_.detach(); // destroyed from its own thread: it ends by itself
    }
}

void Worker::start(Pass pass, std::chrono::milliseconds interval, bool repeat)
{
    std::unique_lock lock(state_->mutex);
    if (state_->active) {
        return;
    }
    if (thread_.joinable()) {
        // A thread that ended on its own (a single pass, or asked to stop from inside) is
        // collected before the next starts.
        auto old = std::move(thread_);
        lock.unlock();
        if (old.get_id() == std::this_thread::get_id()) {
            old.detach();
        } else {
            old.join();
        }
        lock.lock();
    }
    state_->active = true;
    state_->stop = false;
    thread_ = std::thread([state = state_, pass = std::move(pass), interval, repeat] {
        run(state, pass, interval, repeat);
    });
}

void Worker::stop()
{
    std::unique_lock lock(state_->mutex);
    state_->stop = true;
    state_->changed.notify_all();
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
        return;
    }
    auto old = std::move(thread_);
    lock.unlock();
    old.join();
}

bool Worker::running() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->active;
}

bool Worker::wait_idle(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(state_->mutex);
    const auto target = state_->started + 1;
    state_->wake = true;
    state_->changed.notify_all();
    return state_->changed.wait_until(lock, deadline, [&] {
        return !state_->active || (state_->finished >= target && state_->left == 0);
    });
}

void Worker::run(const std::shared_ptr<State>& state, const Pass& pass, std::chrono::milliseconds interval,
                 bool repeat)
{
    const auto stopping = [&state] {
        const std::lock_guard lock(state->mutex);
        return state->stop;
    };
    auto pause = interval;
    std::unique_lock lock(state->mutex);
    while (!state->stop) {
        ++state->started;
        state->wake = false;
        lock.unlock();
        std::size_t left = 1;
        bool failed = false;
        try {
            left = pass(stopping);
        } catch (...) {
            // A pass that failed is tried again on a later round; nothing reaches the host.
            failed = true;
        }
        lock.lock();
        ++state->finished;
        state->left = left;
        state->changed.notify_all();
        if (!repeat) {
            break;
        }
        // Failures in a row space the passes out, so that a back end that is down is not asked
        // again and again; the first pass that succeeds brings the interval back.
        pause = failed ? std::min(std::max({pause * 2, interval, std::chrono::milliseconds(1)}),
                                  std::max(interval, longest_pause))
                       : interval;
        state->changed.wait_for(lock, pause, [&state] { return state->stop || state->wake; });
    }
    state->active = false;
    state->changed.notify_all();
}

} // namespace vyr::cld::local
