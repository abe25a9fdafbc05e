// Packing work run on a second thread beside work that shares nothing it
// writes, in the four shapes the packer needs: two pieces side by side, a
// range in two halves, short turns shared with a thread that stays, and
// results made ahead in order. Each shape runs everything on the calling
// thread where no second one is to be had.
#pragma once

#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace packer {

// Runs aside on a thread of its own and here on the calling one, and returns
// once both are done; an exception from either is thrown on here. Where no
// thread is to be had, they run one after the other.
template <class first_work, class second_work>
void side_by_side(first_work aside, second_work here) {
    std::exception_ptr failure;
    auto guarded = [&] {
        try {
            aside();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::thread thread;
    try {
        thread = std::thread(guarded);
    } catch (const std::system_error &) {
        guarded();
    }
    try {
        here();
    } catch (...) {
        if (thread.joinable()) thread.join();
        throw;
    }
    if (thread.joinable()) thread.join();
    if (failure) std::rethrow_exception(failure);
}

// A second thread kept for many short turns of work, a file's parse rounds:
// a thread started for each turn often starts too late to help. A turn's
// pieces are taken in order by whichever thread is free, the caller's first,
// so a second thread slow to wake never holds the caller up. A turn returns
// once every piece is done, and throws on here what a piece threw. Where no
// thread is to be had, the caller takes every piece.
class shared_turns {
  public:
    shared_turns() {
        try {
            thread_ = std::thread([this] { serve(); });
        } catch (const std::system_error &) {
        }
    }
    ~shared_turns() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    shared_turns(const shared_turns &) = delete;
    shared_turns &operator=(const shared_turns &) = delete;

    void run(const std::vector<std::function<void()>> &pieces) {
        std::unique_lock<std::mutex> lock(mutex_);
        pieces_ = &pieces;
        next_ = 0;
        failure_ = nullptr;
        wake_.notify_one();
        while (take_one(lock)) {
        }
        done_.wait(lock, [&] { return running_ == 0; });
        pieces_ = nullptr;
        if (failure_) std::rethrow_exception(failure_);
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::vector<std::function<void()>> *pieces_ = nullptr;  // the turn's, while it lasts
    size_t next_ = 0, running_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;

    // Runs the turn's next piece, if one is left, with the lock let go meanwhile.
    bool take_one(std::unique_lock<std::mutex> &lock) {
        if (!pieces_ || next_ == pieces_->size()) return false;
        const std::function<void()> &piece = (*pieces_)[next_++];
        ++running_;
        lock.unlock();
        std::exception_ptr failure;
        try {
            piece();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && !failure_) failure_ = failure;
        if (--running_ == 0) done_.notify_one();
        return true;
    }

    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || (pieces_ && next_ < pieces_->size()); });
            if (stopping_) return;
            take_one(lock);
        }
    }
};

// Runs work(first, last) over [0, count) in two halves, the first on a
// second thread.
template <class range_work>
void in_halves(size_t count, range_work work) {
    side_by_side([&] { work(0, count / 2); }, [&] { work(count / 2, count); });
}

// Runs work(i, failure) for each i in [0, count) in two halves at once, each
// half up to its first failure (work false, with failure said). Returns the
// failure of the lowest i, as in one pass in order, or "".
template <class item_work>
std::string each_in_halves(size_t count, item_work work) {
    std::vector<std::string> failures(count);
    in_halves(count, [&](size_t first, size_t last) {
        for (size_t i = first; i < last && work(i, failures[i]); ++i) {
        }
    });
    for (std::string &failure : failures)
        if (!failure.empty()) return failure;
    return "";
}

// Makes results 0 to count - 1 in order on a thread of its own, each as
// soon as the one before is made, while the caller takes them in the same
// order: take waits for the one asked for and throws on whatever its making
// threw. Once destroyed, it makes no more and waits for the one in hand.
// Its thread runs at a lower priority, for work that has time to spare: on
// a busy processor it leaves the time to the caller's, which waits for
// nothing else. Where no thread is to be had, each is made as it is taken.
template <class result>
class made_ahead {
  public:
    made_ahead(size_t count, std::function<result(size_t)> make) : make_(std::move(make)), made_(count) {
        for (std::promise<result> &promise : made_) taken_.push_back(promise.get_future());
        try {
            thread_ = std::thread([this] {
                yield_priority();
                make_all();
            });
        } catch (const std::system_error &) {
        }
    }
    ~made_ahead() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    made_ahead(const made_ahead &) = delete;
    made_ahead &operator=(const made_ahead &) = delete;

    result take(size_t k) { return thread_.joinable() ? taken_[k].get() : make_(k); }

  private:
    static constexpr int AHEAD_NICENESS = 10;  // added to the thread's niceness
    std::function<result(size_t)> make_;
    std::vector<std::promise<result>> made_;
    std::vector<std::future<result>> taken_;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    // Linux keeps a niceness per thread: this one's is raised.
    static void yield_priority() {
        errno = 0;
        int niceness = getpriority(PRIO_PROCESS, 0);
        if (errno == 0) setpriority(PRIO_PROCESS, 0, niceness + AHEAD_NICENESS);
    }

    void make_all() {
        for (size_t k = 0; k < made_.size() && !stop_; ++k) {
            try {
                made_[k].set_value(make_(k));
            } catch (...) {
                made_[k].set_exception(std::current_exception());
                return;
            }
        }
    }
};

}  // namespace packer
