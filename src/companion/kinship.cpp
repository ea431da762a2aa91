// Meuwissen and Luo's (1992) walk up the ancestors of one animal at a time:
// a heap keeps them in decreasing number, so that every ancestor's share is
// complete (all of its descendants among them passed theirs) when it is
// taken.
#include "kinship.hpp"

#include <queue>
#include <vector>

namespace tolmkit {

namespace {

// The ancestors' part of one animal's sum: its parents' shares of 1/2 passed
// up, the highest number first. `share` is zero on entry and left so.
double ancestors_sum(std::int32_t s, std::int32_t d, const std::int32_t* sire, const std::int32_t* dam,
                     const double* weight, std::vector<double>& share, std::priority_queue<std::int32_t>& heap,
                     Pacer& pace) {
    auto pass = [&](std::int32_t parent, double half) {
        if (parent < 0) {
            return;
        }
        if (share[static_cast<std::size_t>(parent)] == 0.0) {
            heap.push(parent);
        }
        share[static_cast<std::size_t>(parent)] += half;
    };
    pass(s, 0.5);
    pass(d, 0.5);
    double sum = 0.0;
    while (!heap.empty()) {
        const std::int32_t k = heap.top();
        heap.pop();
        const double t = share[static_cast<std::size_t>(k)];
        share[static_cast<std::size_t>(k)] = 0.0;
        sum += t * t * weight[k];
        pass(sire[k], t / 2.0);
        pass(dam[k], t / 2.0);
        pace();
    }
    return sum;
}

}  // namespace

void squared_contributions(std::int32_t n, const std::int32_t* sire, const std::int32_t* dam, const double* weight,
                           double* out, Pacer& pace) {
    std::vector<double> share(static_cast<std::size_t>(n), 0.0);
    std::priority_queue<std::int32_t> heap;
    double ancestors = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const bool siblings = i > 0 && sire[i] == sire[i - 1] && dam[i] == dam[i - 1];
        if (!siblings) {
            ancestors = ancestors_sum(sire[i], dam[i], sire, dam, weight, share, heap, pace);
        }
        out[i] = ancestors + weight[i];
    }
}

}  // namespace tolmkit
