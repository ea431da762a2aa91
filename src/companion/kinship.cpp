// Meuwissen and Luo's (1992) walk up the ancestors, for a few animals at a
// time: a heap keeps the ancestors of all of them in decreasing number, so
// that every ancestor's shares are complete (all of its descendants among
// them passed theirs) when it is taken. Animals close in number share most
// of their ancestors, which one walk then visits once for all of them.
#include "kinship.hpp"

#include <array>
#include <queue>
#include <vector>

namespace tolmkit {

namespace {

// Animals walked together, each in a lane of its own.
constexpr std::size_t lanes = 8;

using Shares = std::array<double, lanes>;

// The ancestors' parts of the sums of `animals` (up to `lanes` of them) into
// `parts`. `share` and `listed` are zero on entry and left so; an ancestor of some lanes
// only adds (0 × 0) × w to the others, which changes none of their sums.
void ancestors_sums(const std::vector<std::int32_t>& animals, const std::int32_t* sire, const std::int32_t* dam,
                    const double* weight, std::vector<Shares>& share, std::vector<char>& listed,
                    std::priority_queue<std::int32_t>& heap, double* parts, Pacer& pace) {
    auto pass = [&](std::int32_t parent, std::size_t lane, double half) {
        if (parent < 0) {
            return;
        }
        const auto k = static_cast<std::size_t>(parent);
        if (listed[k] == 0) {
            listed[k] = 1;
            heap.push(parent);
        }
        share[k][lane] += half;
    };
    for (std::size_t lane = 0; lane < animals.size(); ++lane) {
        pass(sire[animals[lane]], lane, 0.5);
        pass(dam[animals[lane]], lane, 0.5);
    }
    Shares sums{};
    while (!heap.empty()) {
        const std::int32_t k = heap.top();
        heap.pop();
        const auto at = static_cast<std::size_t>(k);
        const Shares t = share[at];
        share[at] = Shares{};
        listed[at] = 0;
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            sums[lane] += t[lane] * t[lane] * weight[k];
            if (t[lane] != 0.0) {
                pass(sire[k], lane, t[lane] / 2.0);
                pass(dam[k], lane, t[lane] / 2.0);
            }
        }
        pace();
    }
    for (std::size_t lane = 0; lane < animals.size(); ++lane) {
        parts[animals[lane]] = sums[lane];
    }
}

}  // namespace

void squared_contributions(std::int32_t n, const std::int32_t* sire, const std::int32_t* dam, const double* weight,
                           double* out, Pacer& pace) {
    std::vector<Shares> share(static_cast<std::size_t>(n), Shares{});
    std::vector<char> listed(static_cast<std::size_t>(n), 0);
    std::priority_queue<std::int32_t> heap;
    // The ancestors' part of each animal's sum, into out; full sibs that
    // follow each other share it and take no walk.
    auto siblings = [&](std::int32_t i) { return i > 0 && sire[i] == sire[i - 1] && dam[i] == dam[i - 1]; };
    std::vector<std::int32_t> walked;
    for (std::int32_t i = 0; i < n; ++i) {
        if (!siblings(i)) {
            walked.push_back(i);
        }
        if (walked.size() == lanes || (i == n - 1 && !walked.empty())) {
            ancestors_sums(walked, sire, dam, weight, share, listed, heap, out, pace);
            walked.clear();
        }
    }
    for (std::int32_t i = 0; i < n; ++i) {
        if (siblings(i)) {
            out[i] = out[i - 1];
        }
    }
    for (std::int32_t i = 0; i < n; ++i) {
        out[i] += weight[i];
    }
}

}  // namespace tolmkit
