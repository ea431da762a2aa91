#include <gtest/gtest.h>

#include <vector>

#include "metafounders.hpp"

namespace {

using tolmkit::GroupedHerd;
using tolmkit::Pacer;

struct Result {
    std::vector<double> f, sampling_var;
    std::int64_t stopped;
};

Result run(const std::vector<std::int32_t>& sire, const std::vector<std::int32_t>& dam,
           const std::vector<std::int32_t>& sire_group, const std::vector<std::int32_t>& dam_group,
           const std::vector<double>& gamma, std::int64_t g) {
    const auto n = static_cast<std::int64_t>(sire.size());
    Result r{std::vector<double>(sire.size()), std::vector<double>(sire.size()), 0};
    const GroupedHerd herd{n, sire.data(), dam.data(), sire_group.data(), dam_group.data(), g, gamma.data()};
    Pacer pace;
    r.stopped = tolmkit::metafounder_inbreeding(herd, r.f.data(), r.sampling_var.data(), pace);
    return r;
}

// Worked by hand with the tabular method, M and N metafounders with
// γ_MM = 0.4, γ_MN = 0.1, γ_NN = 0.3: 0 = M × N, 1 = M × M, 2 = 0 × 1,
// 3 = 2 × (unknown, no group), 4 = 2 × 2 (selfed).
TEST(MetafounderInbreeding, AgreesWithTheTabularMethod) {
    const Result r =
        run({-1, -1, 0, 2, 2}, {-1, -1, 1, -1, 2}, {0, 0, -1, -1, -1}, {1, 0, -1, -1, -1}, {0.4, 0.1, 0.1, 0.3}, 2);
    EXPECT_EQ(r.stopped, -1);
    // A(0, 1) = (γ_MM + γ_NM) / 2 = 0.25; A(2, 2) = 1 + 0.125; A(2, 2) for the selfed 4.
    const std::vector<double> f{0.05, 0.2, 0.125, 0.0, 0.5625};
    const std::vector<double> b{1.0 - 0.1 - 0.075, 1.0 - 0.2, 0.5 - 0.25 * (0.05 + 0.2), 0.75 - 0.25 * 0.125,
                                0.5 - 0.5 * 0.125};
    for (std::size_t i = 0; i < f.size(); ++i) {
        EXPECT_NEAR(r.f[i], f[i], 1e-15) << i;
        EXPECT_NEAR(r.sampling_var[i], b[i], 1e-15) << i;
    }
}

// A variance of 0 (parents fully inbred) leaves F defined; one below 0 makes
// A^Γ no matrix of relationships.
TEST(MetafounderInbreeding, StopsAtAVarianceBelowZeroAlone) {
    const Result none = run({-1, -1}, {-1, -1}, {-1, 0}, {-1, 0}, {2.0}, 1);
    EXPECT_EQ(none.stopped, -1);
    EXPECT_EQ(none.sampling_var[1], 0.0);
    EXPECT_EQ(none.f[1], 1.0);
    const Result below = run({-1, -1}, {-1, -1}, {-1, 0}, {-1, 0}, {2.5}, 1);
    EXPECT_EQ(below.stopped, 1);
    EXPECT_EQ(below.sampling_var[1], -0.25);
}

}  // namespace
