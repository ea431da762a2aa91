#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "ordering.hpp"

namespace {

using tolmkit::Pacer;

struct Ordered {
    std::vector<std::int64_t> order, generation;
};

Ordered ordered(const std::vector<std::int64_t>& sire, const std::vector<std::int64_t>& dam) {
    const auto n = static_cast<std::int64_t>(sire.size());
    Ordered result{std::vector<std::int64_t>(sire.size()), std::vector<std::int64_t>(sire.size())};
    Pacer pace;
    result.order.resize(static_cast<std::size_t>(
        tolmkit::generations(n, sire.data(), dam.data(), result.generation.data(), result.order.data(), pace)));
    return result;
}

struct Case {
    const char* name;
    std::vector<std::int64_t> sire, dam, order, generation;
};

class Generations : public testing::TestWithParam<Case> {};

TEST_P(Generations, ParentsComeFirstGenerationByGeneration) {
    const Case& c = GetParam();
    const Ordered got = ordered(c.sire, c.dam);
    EXPECT_EQ(got.order, c.order);
    EXPECT_EQ(got.generation, c.generation);
}

INSTANTIATE_TEST_SUITE_P(Pedigrees, Generations,
                         testing::Values(
                             // 0 is the calf of 2 and 1; 2 the calf of 1 and an unknown dam.
                             Case{"OffspringBeforeParents", {2, -1, 1}, {1, -1, -1}, {1, 2, 0}, {2, 0, 1}},
                             // 0 and 1 are each other's sire; 2 descends from them; 3 is a founder.
                             Case{"LoopAndItsDescendantLeftOut", {1, 0, 0, -1}, {-1, -1, -1, -1}, {3}, {-1, -1, -1, 0}},
                             Case{"OwnParent", {0}, {-1}, {}, {-1}}, Case{"NoAnimals", {}, {}, {}, {}}),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Generations, AChainDeeperThanTheCallStackWouldHold) {
    const std::int64_t n = 1000000;
    std::vector<std::int64_t> sire(n), dam(n, -1);
    for (std::int64_t i = 0; i < n; ++i) {
        sire[i] = i + 1 < n ? i + 1 : -1;  // each animal the calf of the next
    }
    const Ordered got = ordered(sire, dam);
    EXPECT_EQ(got.order.front(), n - 1);
    EXPECT_EQ(got.generation.front(), n - 1);
}

TEST(Generations, StopsWhenThePacersCheckThrows) {
    std::vector<std::int64_t> sire(100000, -1), dam(100000, -1), generation(100000), order(100000);
    Pacer pace([] { throw std::runtime_error("stop"); }, std::chrono::nanoseconds(0));
    EXPECT_THROW(tolmkit::generations(100000, sire.data(), dam.data(), generation.data(), order.data(), pace),
                 std::runtime_error);
}

}  // namespace
