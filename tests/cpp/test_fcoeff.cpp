#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "fcoeff.hpp"

namespace {

using Codes = std::vector<std::int32_t>;
using Reals = std::vector<double>;

struct Result {
    Reals inbreeding;
    Reals sampling_var;
};

// Runs the kernel on a pedigree coded with n for unknown parents; inbreeding
// holds n + 1 entries, its last the −1.0 of an unknown parent.
Result run(const Codes& sire, const Codes& dam, std::int32_t mode, Reals inbreeding = {},
           double sampling_var_on_entry = 0.0) {
    const auto n = static_cast<std::int32_t>(sire.size());
    if (inbreeding.empty()) {
        inbreeding.assign(sire.size(), 0.0);
        inbreeding.push_back(-1.0);
    }
    Result result{inbreeding, Reals(sire.size(), sampling_var_on_entry)};
    tolm::fcoeff_kernel(sire.data(), dam.data(), result.inbreeding.data(), result.sampling_var.data(), &n, &mode);
    return result;
}

const Codes worked_sire{7, 7, 0, 0, 2, 4, 4};
const Codes worked_dam{7, 7, 1, 1, 3, 1, 4};

TEST(FcoeffKernel, WorkedPedigreeComputesCoefficientsAndVariances) {
    const Result r = run(worked_sire, worked_dam, 1);
    EXPECT_EQ(r.inbreeding, (Reals{0.0, 0.0, 0.0, 0.0, 0.25, 0.25, 0.625, -1.0}));
    EXPECT_EQ(r.sampling_var, (Reals{1.0, 1.0, 0.5, 0.5, 0.5, 0.4375, 0.375}));
}

class FcoeffVariancesOnly : public testing::TestWithParam<std::int32_t> {};

TEST_P(FcoeffVariancesOnly, UseTheSuppliedCoefficients) {
    const Result r = run(worked_sire, worked_dam, GetParam());
    EXPECT_EQ(r.inbreeding, (Reals{0, 0, 0, 0, 0, 0, 0, -1.0}));
    EXPECT_EQ(r.sampling_var, (Reals{1.0, 1.0, 0.5, 0.5, 0.5, 0.5, 0.5}));

    const Result supplied = run(worked_sire, worked_dam, GetParam(), {0.0, 0.0, 0.0, 0.0, 0.25, 0.25, 0.625, -1.0});
    EXPECT_EQ(supplied.sampling_var, (Reals{1.0, 1.0, 0.5, 0.5, 0.5, 0.4375, 0.375}));
}

INSTANTIATE_TEST_SUITE_P(Modes, FcoeffVariancesOnly, testing::Values(0, 2, -1, 1 << 30));

TEST(FcoeffKernel, ContentOnEntryDoesNotMatterInModeOne) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Result r = run(worked_sire, worked_dam, 1, {nan, 5, nan, -3, nan, 9, nan, -1.0}, nan);
    EXPECT_EQ(r.inbreeding, run(worked_sire, worked_dam, 1).inbreeding);
    EXPECT_EQ(r.sampling_var, run(worked_sire, worked_dam, 1).sampling_var);
}

TEST(FcoeffKernel, SingleFounder) {
    const Result r = run({1}, {1}, 1);
    EXPECT_EQ(r.inbreeding, (Reals{0.0, -1.0}));
    EXPECT_EQ(r.sampling_var, (Reals{1.0}));
}

TEST(FcoeffKernel, OneUnknownParent) {
    const Result r = run({5, 5, 0, 2, 2}, {5, 5, 1, 5, 5}, 1);
    EXPECT_EQ(r.inbreeding, (Reals{0, 0, 0, 0, 0, -1.0}));
    EXPECT_EQ(r.sampling_var, (Reals{1.0, 1.0, 0.5, 0.75, 0.75}));
}

TEST(FcoeffKernel, RepeatedParentsApartGetTheSameCoefficientByAFullPass) {
    // Animal 5 has the parents of animal 3, with animal 4 between them.
    const Result r = run({6, 6, 0, 2, 0, 2}, {6, 6, 1, 1, 1, 1}, 1);
    EXPECT_EQ(r.inbreeding[5], r.inbreeding[3]);
    EXPECT_EQ(r.inbreeding[3], 0.25);
}

TEST(FcoeffKernel, SelfingTwice) {
    // 1 is selfed from founder 0, 2 from 1: F = 0.5, then 0.5 × (1 + 0.5).
    const Result r = run({3, 0, 1}, {3, 0, 1}, 1);
    EXPECT_EQ(r.inbreeding, (Reals{0.0, 0.5, 0.75, -1.0}));
    EXPECT_EQ(r.sampling_var, (Reals{1.0, 0.5, 0.25}));
}

// Coefficients by the tabular method, an independent route to the same
// numbers (up to rounding).
Reals tabular_coefficients(const Codes& sire, const Codes& dam) {
    const std::size_t n = sire.size();
    std::vector<Reals> a(n, Reals(n, 0.0));
    const auto rel = [&](std::int32_t x, std::size_t y) {
        return static_cast<std::size_t>(x) == n ? 0.0 : a[static_cast<std::size_t>(x)][y];
    };
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            a[i][j] = a[j][i] = 0.5 * (rel(sire[i], j) + rel(dam[i], j));
        }
        const bool both = static_cast<std::size_t>(sire[i]) != n && static_cast<std::size_t>(dam[i]) != n;
        a[i][i] = 1.0 + (both ? 0.5 * a[static_cast<std::size_t>(sire[i])][static_cast<std::size_t>(dam[i])] : 0.0);
    }
    Reals f(n);
    for (std::size_t i = 0; i < n; ++i) {
        f[i] = a[i][i] - 1.0;
    }
    return f;
}

TEST(FcoeffKernel, AgreesWithTheTabularMethodOnRandomPedigrees) {
    std::mt19937 rng(20261209);
    for (int trial = 0; trial < 200; ++trial) {
        const auto n = static_cast<std::int32_t>(1 + rng() % 60);
        Codes sire(static_cast<std::size_t>(n)), dam(static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) {
            const auto pick = [&] {
                return (i == 0 || rng() % 4 == 0) ? n
                                                  : static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(i));
            };
            sire[static_cast<std::size_t>(i)] = pick();
            dam[static_cast<std::size_t>(i)] = rng() % 8 == 0 ? sire[static_cast<std::size_t>(i)] : pick();
        }
        const Result r = run(sire, dam, 1);
        const Reals expected = tabular_coefficients(sire, dam);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_NEAR(r.inbreeding[i], expected[i], 1e-12) << "trial " << trial << ", animal " << i;
        }
    }
}

TEST(FcoeffKernel, DeepChainStaysWithinTheAncestorList) {
    // Every animal from 2 on is the offspring of the two animals before it;
    // the sanitized build traps any write past the 2n entries.
    const std::int32_t n = 300;
    Codes sire{n, n}, dam{n, n};
    for (std::int32_t i = 2; i < n; ++i) {
        sire.push_back(i - 1);
        dam.push_back(i - 2);
    }
    const Result r = run(sire, dam, 1);
    const Reals expected = tabular_coefficients(sire, dam);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NEAR(r.inbreeding[i], expected[i], 1e-12) << "animal " << i;
    }
}

TEST(FcoeffKernel, NoAnimalsWritesNothing) {
    const std::int32_t n = 0, mode = 1, sentinel_code = 7;
    double inbreeding = 3.0, sampling_var = 4.0;
    tolm::fcoeff_kernel(&sentinel_code, &sentinel_code, &inbreeding, &sampling_var, &n, &mode);
    EXPECT_EQ(inbreeding, 3.0);
    EXPECT_EQ(sampling_var, 4.0);
}

class FcoeffRefusedCount : public testing::TestWithParam<std::int32_t> {};

TEST_P(FcoeffRefusedCount, FailsBeforeWritingAnything) {
    const std::int32_t n = GetParam(), mode = 1;
    Codes sire(4, 0);
    Reals inbreeding(5, 3.0), sampling_var(4, 4.0);
    EXPECT_THROW(tolm::fcoeff_kernel(sire.data(), sire.data(), inbreeding.data(), sampling_var.data(), &n, &mode),
                 std::bad_array_new_length);
    EXPECT_EQ(inbreeding, Reals(5, 3.0));
    EXPECT_EQ(sampling_var, Reals(4, 4.0));
}

INSTANTIATE_TEST_SUITE_P(Counts, FcoeffRefusedCount,
                         testing::Values(-1, -2, std::numeric_limits<std::int32_t>::min(), 1 << 30,
                                         std::numeric_limits<std::int32_t>::max()));

}  // namespace
