// The pace at which a long routine of the companion looks up from its work:
// it counts its steps, and every `period` of time it calls the caller's
// check, which may throw to stop it (the bindings' raises KeyboardInterrupt
// after Ctrl-C). Routines own their memory, so a throw leaves nothing behind.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

namespace tolmkit {

class Pacer {
public:
    using Check = std::function<void()>;

    // Steps between two looks at the clock: a look costs some twenty
    // nanoseconds, a step of the cheapest routine a few.
    static constexpr std::int64_t steps_between_looks = 1 << 14;
    static constexpr std::chrono::milliseconds default_period{50};

    // A pacer that never checks, for callers that have nothing to check.
    Pacer() = default;
    explicit Pacer(Check check, std::chrono::nanoseconds period = default_period)
        : check_(std::move(check)), period_(period), last_(std::chrono::steady_clock::now()) {}

    // Counts `steps` of work done; the check runs once the period is over.
    void operator()(std::int64_t steps = 1) {
        until_look_ -= steps;
        if (until_look_ <= 0) {
            look();
        }
    }

private:
    void look();

    Check check_;
    std::chrono::nanoseconds period_{default_period};
    std::chrono::steady_clock::time_point last_{};
    std::int64_t until_look_ = steps_between_looks;
};

}  // namespace tolmkit
