// A pedigree in the coding of fcoeff (unknown = n, parents first) with its
// generation layers, as tolmkit's Layers gives them to the companion.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "inbreeding.hpp"

namespace tolmkit::testing {

struct Layers {
    std::vector<std::int32_t> sire, dam;
    std::vector<std::int64_t> order, bounds;

    Layered view() const {
        return {static_cast<std::int32_t>(sire.size()),      sire.data(), dam.data(), order.data(), bounds.data(),
                static_cast<std::int64_t>(bounds.size()) - 1};
    }
};

// Founders in layer 0, every other animal one below its deeper parent.
inline Layers layered(std::vector<std::int32_t> sire, std::vector<std::int32_t> dam) {
    const auto n = static_cast<std::int32_t>(sire.size());
    std::vector<std::int64_t> depth(sire.size(), 0);
    for (std::size_t i = 0; i < sire.size(); ++i) {
        for (const std::int32_t parent : {sire[i], dam[i]}) {
            if (parent != n) {
                depth[i] = std::max(depth[i], depth[static_cast<std::size_t>(parent)] + 1);
            }
        }
    }
    Layers p{std::move(sire), std::move(dam), {}, {0}};
    const std::int64_t deepest = depth.empty() ? -1 : *std::max_element(depth.begin(), depth.end());
    for (std::int64_t d = 0; d <= deepest; ++d) {
        for (std::int32_t i = 0; i < n; ++i) {
            if (depth[static_cast<std::size_t>(i)] == d) {
                p.order.push_back(i);
            }
        }
        p.bounds.push_back(static_cast<std::int64_t>(p.order.size()));
    }
    return p;
}

// Parents from the `span` animals before (unknown with chance 1/5), the dam
// now and then the sire (selfing), and runs of full sibs.
inline Layers random_pedigree(std::int32_t n, std::int32_t span, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::int32_t> sire(static_cast<std::size_t>(n)), dam(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < sire.size(); ++i) {
        if (i > 0 && rng() % 3 == 0) {
            sire[i] = sire[i - 1];
            dam[i] = dam[i - 1];
            continue;
        }
        const auto parent = [&] {
            const auto at = static_cast<std::int32_t>(i);
            const std::int32_t low = std::max(0, at - span);
            return i == 0 || rng() % 5 == 0 ? n
                                            : low + static_cast<std::int32_t>(rng() % static_cast<unsigned>(at - low));
        };
        sire[i] = parent();
        dam[i] = sire[i] != n && rng() % 10 == 0 ? sire[i] : parent();
    }
    return layered(std::move(sire), std::move(dam));
}

}  // namespace tolmkit::testing
