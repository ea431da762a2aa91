// Batches of work taken in turn by several threads, the calling thread
// among them, which alone runs the pacer's check for Ctrl-C.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "pacer.hpp"

namespace tolmkit {

// Calls work(t, first, size, pace) for the batches [first, first + size)
// of [0, count), `batch` long but the last, on `threads` threads numbered t
// (0: this one), each taking the next batch until none is left. Only this
// thread's work gets `pace`; the others get a pacer that checks nothing.
// Where no thread can be started, those started do it all; when `pace`
// throws, the others stop after their batch and are joined.
template <typename Work>
void in_turn(int threads, std::int64_t count, std::int64_t batch, Pacer& pace, Work&& work) {
    std::atomic<std::int64_t> next{0};
    std::atomic<bool> stop{false};
    const auto take = [&](int t, Pacer& paced) {
        while (!stop) {
            const std::int64_t first = next.fetch_add(batch);
            if (first >= count) {
                return;
            }
            work(t, first, std::min(batch, count - first), paced);
        }
    };
    std::vector<std::thread> helpers;
    struct Joined {
        std::vector<std::thread>& helpers;
        std::atomic<bool>& stop;
        ~Joined() {
            stop = true;
            for (std::thread& helper : helpers) {
                helper.join();
            }
        }
    } joined{helpers, stop};
    const std::int64_t batches = (count + batch - 1) / batch;
    for (int t = 1; t < threads && t < batches; ++t) {
        try {
            helpers.emplace_back([&take, t] {
                Pacer unchecked;
                take(t, unchecked);
            });
        } catch (const std::system_error&) {  // no more threads to be had
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    take(0, pace);
}

}  // namespace tolmkit
