#include "pacer.hpp"

namespace tolmkit {

void Pacer::look() {
    until_look_ = steps_between_looks;
    if (!check_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ >= period_) {
        last_ = now;
        check_();
    }
}

}  // namespace tolmkit
