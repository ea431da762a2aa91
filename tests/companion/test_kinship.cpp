#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "kinship.hpp"
#include "layers.hpp"

namespace {

std::vector<double> squared(const std::vector<std::int32_t>& sire, const std::vector<std::int32_t>& dam,
                            const std::vector<double>& weight, int threads = 1) {
    std::vector<double> out(sire.size());
    tolmkit::Pacer pace;
    tolmkit::squared_contributions(static_cast<std::int32_t>(sire.size()), sire.data(), dam.data(), weight.data(),
                                   out.data(), pace, threads);
    return out;
}

// Founders 0 and 1; 2 and 3 their full sibs; 4 of 2 and 3; 5 of 4 selfed.
// With the Mendelian-sampling variances as weights the sums are A's diagonal,
// 1 + F: F_4 = 1/4, F_5 = (1 + F_4)/2.
TEST(SquaredContributions, AreTheDiagonalOfAWithTheSamplingVariances) {
    const std::vector<std::int32_t> sire{-1, -1, 0, 0, 2, 4}, dam{-1, -1, 1, 1, 3, 4};
    const std::vector<double> d{1.0, 1.0, 0.5, 0.5, 0.5, 0.5 - 0.25 * 0.5};
    EXPECT_EQ(squared(sire, dam, d), (std::vector<double>{1.0, 1.0, 1.0, 1.0, 1.25, 1.625}));
}

// Σ_f p_if² with the founders' weights 1 and a half-founder's unknown parent
// 1/4: animal 2 of 0 and an unknown dam has shares 1/2 and 1/2; 3 of 2 and
// 1 has 1/4, 1/4 and 1/2.
TEST(SquaredContributions, AreTheSumsOfSquaredFounderShares) {
    const std::vector<std::int32_t> sire{-1, -1, 0, 2, 2}, dam{-1, -1, -1, 1, 1};
    EXPECT_EQ(squared(sire, dam, {1.0, 1.0, 0.25, 0.0, 0.0}), (std::vector<double>{1.0, 1.0, 0.5, 0.375, 0.375}));
}

// Walks in batches on threads: the same sums to the bit on any number, over
// batches of walks taken in turn and full sibs between them.
TEST(SquaredContributions, AreTheSameOnAnyThreads) {
    for (const std::int32_t span : {40, 3000}) {
        tolmkit::testing::Layers p = tolmkit::testing::random_pedigree(3000, span, 11);
        const auto n = static_cast<std::int32_t>(p.sire.size());
        std::replace(p.sire.begin(), p.sire.end(), n, -1);
        std::replace(p.dam.begin(), p.dam.end(), n, -1);
        std::vector<double> weight;
        for (std::int32_t i = 0; i < n; ++i) {
            weight.push_back(1.0 / (3.0 + i % 7));
        }
        const std::vector<double> one = squared(p.sire, p.dam, weight);
        for (const int threads : {2, 3}) {
            const std::vector<double> more = squared(p.sire, p.dam, weight, threads);
            EXPECT_EQ(std::memcmp(one.data(), more.data(), one.size() * sizeof(double)), 0) << span << " " << threads;
        }
    }
}

}  // namespace
