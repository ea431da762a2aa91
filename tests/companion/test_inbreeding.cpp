#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "fcoeff.hpp"
#include "inbreeding.hpp"

namespace {

using Codes = std::vector<std::int32_t>;
using Longs = std::vector<std::int64_t>;
using Reals = std::vector<double>;

// A pedigree numbered parents first (unknown = n) with its generation layers.
struct Layers {
    Codes sire, dam;
    Longs order, bounds;

    tolmkit::Layered view() const {
        return {static_cast<std::int32_t>(sire.size()),      sire.data(), dam.data(), order.data(), bounds.data(),
                static_cast<std::int64_t>(bounds.size()) - 1};
    }
};

Layers layered(Codes sire, Codes dam) {
    const auto n = static_cast<std::int32_t>(sire.size());
    Longs depth(sire.size(), 0);
    for (std::int32_t i = 0; i < n; ++i) {
        for (const std::int32_t parent : {sire[i], dam[i]}) {
            if (parent != n) {
                depth[i] = std::max(depth[i], depth[parent] + 1);
            }
        }
    }
    Layers p{std::move(sire), std::move(dam), {}, {0}};
    const std::int64_t deepest = n == 0 ? -1 : *std::max_element(depth.begin(), depth.end());
    for (std::int64_t d = 0; d <= deepest; ++d) {
        for (std::int32_t i = 0; i < n; ++i) {
            if (depth[i] == d) {
                p.order.push_back(i);
            }
        }
        p.bounds.push_back(static_cast<std::int64_t>(p.order.size()));
    }
    return p;
}

// Parents from the `span` animals before (unknown with chance 1/5), the dam
// now and then the sire (selfing), and runs of full sibs.
Layers random_pedigree(std::int32_t n, std::int32_t span, unsigned seed) {
    std::mt19937 rng(seed);
    Codes sire(static_cast<std::size_t>(n)), dam(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        if (i > 0 && rng() % 3 == 0) {
            sire[i] = sire[i - 1];
            dam[i] = dam[i - 1];
            continue;
        }
        const auto parent = [&] {
            const std::int32_t low = std::max(0, i - span);
            return i == 0 || rng() % 5 == 0 ? n : low + static_cast<std::int32_t>(rng() % (i - low));
        };
        sire[i] = parent();
        dam[i] = sire[i] != n && rng() % 10 == 0 ? sire[i] : parent();
    }
    return layered(std::move(sire), std::move(dam));
}

bool same_bits(const Reals& a, const Reals& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

class InbreedingByLayers : public testing::TestWithParam<int> {};

TEST_P(InbreedingByLayers, GivesTheBitsOfTheKernel) {
    for (const auto& [n, span] : {std::pair{0, 1}, {1, 1}, {7, 3}, {3000, 3000}, {3000, 40}, {2000, 4}}) {
        const Layers p = random_pedigree(n, span, static_cast<unsigned>(n + span));
        ASSERT_EQ(tolmkit::layering_problem(p.view()), "");
        Reals f(static_cast<std::size_t>(n) + 1, 0.0), var(static_cast<std::size_t>(n));
        f.back() = -1.0;
        Reals kernel_f = f, kernel_var = var;
        const std::int32_t mode = 1;
        tolm::fcoeff_kernel(p.sire.data(), p.dam.data(), kernel_f.data(), kernel_var.data(), &n, &mode);
        tolmkit::Pacer pace;
        tolmkit::inbreeding_by_layers(p.view(), GetParam(), f.data(), var.data(), pace);
        EXPECT_TRUE(same_bits(f, kernel_f)) << n << " animals, parents within " << span;
        EXPECT_TRUE(same_bits(var, kernel_var)) << n << " animals, parents within " << span;
    }
}

TEST_P(InbreedingByLayers, StopsEveryThreadWhenThePacerThrows) {
    const Layers p = random_pedigree(5000, 5000, 1);
    Reals f(5001, 0.0), var(5000);
    f.back() = -1.0;
    int checks = 0;
    tolmkit::Pacer pace(
        [&checks] {
            if (++checks == 2) {
                throw std::runtime_error("interrupted");
            }
        },
        std::chrono::nanoseconds(0));
    EXPECT_THROW(tolmkit::inbreeding_by_layers(p.view(), GetParam(), f.data(), var.data(), pace), std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(Threads, InbreedingByLayers, testing::Values(1, 2, 3));

TEST(LayeringProblem, NamesWhatBreaksTheContract) {
    const Layers good = layered({3, 3, 0}, {3, 3, 1});  // layers {0, 1}, {2}
    const auto problem = [&](auto change) {
        Layers p = good;
        change(p);
        return tolmkit::layering_problem(p.view());
    };
    EXPECT_EQ(problem([](Layers&) {}), "");
    EXPECT_EQ(problem([](Layers& p) { p.bounds = {0, 2, 4}; }), "bounds must rise from 0 to the number of animals");
    EXPECT_EQ(problem([](Layers& p) { p.bounds = {0, 3, 2, 3}; }), "bounds must rise from 0 to the number of animals");
    EXPECT_EQ(problem([](Layers& p) { p.order = {0, 0, 2}; }), "order must hold every animal once");
    EXPECT_EQ(problem([](Layers& p) { p.order = {1, 0, 2}; }), "each layer must be in ascending numbers");
    EXPECT_EQ(problem([](Layers& p) { p.bounds = {0, 3}; }), "the parents of animal 2 must be in earlier layers");
    EXPECT_EQ(problem([](Layers& p) { p.sire[1] = 2; }),
              "the parents of animal 1 must be numbered below it, or 3 for unknown");
}

}  // namespace
