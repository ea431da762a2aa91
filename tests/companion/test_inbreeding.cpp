#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "fcoeff.hpp"
#include "inbreeding.hpp"
#include "layers.hpp"
#include "no_threads.hpp"

namespace {

using Codes = std::vector<std::int32_t>;
using tolmkit::testing::layered;
using tolmkit::testing::Layers;
using tolmkit::testing::random_pedigree;
using Reals = std::vector<double>;

bool same_bits(const Reals& a, const Reals& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Threads, and animals a thread takes at a time.
class InbreedingByLayers : public testing::TestWithParam<std::pair<int, std::int32_t>> {};

// The kernel's bits, for threads that start and for threads that cannot.
TEST_P(InbreedingByLayers, GivesTheBitsOfTheKernel) {
    const auto [threads, batch] = GetParam();
    for (const auto& [n, span, startable] : {std::tuple{0, 1, true},
                                             {1, 1, true},
                                             {7, 3, true},
                                             {3000, 3000, true},
                                             {3000, 40, true},
                                             {2000, 4, true},
                                             {3000, 3000, false}}) {
        const std::optional<tolmkit::testing::NoThreads> none =
            startable ? std::nullopt : std::make_optional<tolmkit::testing::NoThreads>();
        const Layers p = random_pedigree(n, span, static_cast<unsigned>(n + span));
        ASSERT_EQ(tolmkit::layering_problem(p.view()), "");
        Reals f(static_cast<std::size_t>(n) + 1, 0.0), var(static_cast<std::size_t>(n));
        f.back() = -1.0;
        Reals kernel_f = f, kernel_var = var;
        const std::int32_t mode = 1;
        tolm::fcoeff_kernel(p.sire.data(), p.dam.data(), kernel_f.data(), kernel_var.data(), &n, &mode);
        tolmkit::Pacer pace;
        tolmkit::inbreeding_by_layers(p.view(), threads, f.data(), var.data(), pace, batch);
        EXPECT_TRUE(same_bits(f, kernel_f)) << n << " animals, parents within " << span;
        EXPECT_TRUE(same_bits(var, kernel_var)) << n << " animals, parents within " << span;
    }
}

TEST_P(InbreedingByLayers, StopsEveryThreadWhenThePacerThrows) {
    const Layers p = random_pedigree(20000, 20000, 1);
    Reals f(20001, 0.0), var(20000);
    f.back() = -1.0;
    tolmkit::Pacer pace([] { throw std::runtime_error("interrupted"); }, std::chrono::nanoseconds(0));
    EXPECT_THROW(
        tolmkit::inbreeding_by_layers(p.view(), GetParam().first, f.data(), var.data(), pace, GetParam().second),
        std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(Threads, InbreedingByLayers,
                         testing::Values(std::pair{1, tolmkit::default_batch}, std::pair{2, tolmkit::default_batch},
                                         std::pair{3, tolmkit::default_batch}, std::pair{3, 1}, std::pair{2, 5}));

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
