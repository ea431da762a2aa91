#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "contributions.hpp"

namespace {

using namespace tolmkit;

using Ints = std::vector<std::int32_t>;

// s1 d1 s2 d2, a = (s1, d1), b = (s2, d2), g = (a, b), h = (a, unknown),
// i = (g, h), numbered 0 .. 8; the reference is i. Worked by hand.
struct Herd {
    Ints sire{-1, -1, -1, -1, 0, 2, 4, 4, 6}, dam{-1, -1, -1, -1, 1, 3, 5, -1, 7};
    std::vector<std::int64_t> generation{0, 0, 0, 0, 1, 1, 2, 2, 3};
    std::vector<double> weight{0, 0, 0, 0, 0, 0, 0, 0, 1.0};
    std::vector<std::uint8_t> eligible{1, 1, 1, 1, 1, 1, 1, 1, 0};

    Lineage lineage() const { return {9, sire.data(), dam.data(), generation.data()}; }
};

TEST(Contributions, TakenByMarginalContributionTheLowestNumberAmongEquals) {
    const Herd herd;
    Pacer pace;
    std::vector<double> contribution(9);
    contributions(herd.lineage(), herd.weight.data(), contribution.data(), pace);
    EXPECT_EQ(contribution, std::vector<double>({0.25, 0.25, 0.125, 0.125, 0.5, 0.25, 0.5, 0.5, 1.0}));
    // a first (0.5, as g and h); then b, g and h at 0.25 each: b; then h
    // (g's genes all come from a and b). With no bound on Σ q, the search
    // stops there, every q left being 0.
    for (const double enough : {0.999, 2.0}) {
        const Ancestors found = marginal_ancestors(herd.lineage(), herd.weight.data(), contribution.data(),
                                                   herd.eligible.data(), 1000, enough, pace);
        EXPECT_EQ(found.order, Ints({4, 5, 7}));
        EXPECT_EQ(found.marginal, std::vector<double>({0.5, 0.25, 0.25}));
        EXPECT_EQ(found.explained, 1.0);
    }
    const Ancestors two = marginal_ancestors(herd.lineage(), herd.weight.data(), contribution.data(),
                                             herd.eligible.data(), 2, 0.999, pace);
    EXPECT_EQ(two.order, Ints({4, 5}));
}

TEST(Contributions, WrongParentsAndGenerationsNamed) {
    Herd herd;
    EXPECT_EQ(lineage_error(herd.lineage()), "");
    herd.generation[7] = 3;
    EXPECT_EQ(lineage_error(herd.lineage()), "animal 7 is of generation 3, not 2");
    herd.dam[7] = 7;
    EXPECT_EQ(lineage_error(herd.lineage()), "animal 7 has a parent outside -1 .. 6");
}

TEST(Contributions, StoppedByThePacersCheck) {
    // A line of descent long enough for the pacer to look at its clock.
    const std::int32_t n = 4 * static_cast<std::int32_t>(Pacer::steps_between_looks);
    Ints sire(static_cast<std::size_t>(n)), dam(static_cast<std::size_t>(n), -1);
    std::vector<std::int64_t> generation(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        sire[static_cast<std::size_t>(i)] = i - 1;
        generation[static_cast<std::size_t>(i)] = i;
    }
    std::vector<double> weight(static_cast<std::size_t>(n), 1.0), out(weight.size());
    Pacer stop([] { throw std::runtime_error("stopped"); }, std::chrono::nanoseconds(0));
    EXPECT_THROW(contributions({n, sire.data(), dam.data(), generation.data()}, weight.data(), out.data(), stop),
                 std::runtime_error);
}

}  // namespace
