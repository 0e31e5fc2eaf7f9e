// Work on several threads whose results are used in order: make(i) for
// each i in [0, count) runs on up to `threads` threads, use(i, result) on
// the calling thread for i = 0, 1, 2, ..., and at most `ahead` results wait
// made but not yet used, so that memory stays bounded however many there
// are. With one thread (or when no thread can be started) everything runs
// on the calling thread, one after the other. An exception thrown by make
// is thrown again where its result would have been used.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace cpubench {

template <typename Result, typename Make, typename Use>
void inOrder(std::size_t count, unsigned threads, std::size_t ahead, Make make, Use use)
{
    struct Slot {
        std::optional<Result> result;
        std::exception_ptr error;
    };
    std::vector<Slot> slots(std::max<std::size_t>(ahead, 1));
    std::mutex mutex;
    std::condition_variable madeOne, usedOne;
    std::size_t next = 0, used = 0; // the next index to make, the next to use
    bool stop = false;

    const auto work = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            usedOne.wait(lock, [&] { return stop || next >= count || next < used + slots.size(); });
            if (stop || next >= count)
                return;
            const std::size_t i = next++;
            lock.unlock();
            Slot slot;
            try {
                slot.result.emplace(make(i));
            } catch (...) {
                slot.error = std::current_exception();
            }
            lock.lock();
            slots[i % slots.size()] = std::move(slot);
            madeOne.notify_all();
        }
    };
    std::vector<std::thread> pool;
    if (threads > 1 && count > 1)
        for (unsigned t = 0; t < threads && t < count; ++t) {
            try {
                pool.emplace_back(work);
            } catch (const std::system_error&) {
                break;
            }
        }
    const auto join = [&] {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        usedOne.notify_all();
        for (std::thread& thread : pool)
            thread.join();
    };
    try {
        for (std::size_t i = 0; i < count; ++i) {
            Slot slot;
            if (pool.empty())
                try {
                    slot.result.emplace(make(i));
                } catch (...) {
                    slot.error = std::current_exception();
                }
            else {
                std::unique_lock<std::mutex> lock(mutex);
                Slot& waiting = slots[i % slots.size()];
                madeOne.wait(lock, [&] { return waiting.result || waiting.error; });
                slot = std::move(waiting);
                waiting = Slot{};
                ++used;
                usedOne.notify_all();
            }
            if (slot.error)
                std::rethrow_exception(slot.error);
            use(i, std::move(*slot.result));
        }
    } catch (...) {
        join();
        throw;
    }
    join();
}

// The processors this process may run on (at least 1).
unsigned usableProcessors();

} // namespace cpubench
