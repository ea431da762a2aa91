#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "assembly.hpp"

namespace {

using namespace tolmkit;

// The stored element (r, c), or NaN.
double element(const Compressed& out, std::int32_t r, std::int32_t c) {
    for (auto at = out.indptr[static_cast<std::size_t>(r)]; at < out.indptr[static_cast<std::size_t>(r) + 1]; ++at) {
        if (out.indices[static_cast<std::size_t>(at)] == c) {
            return out.data[static_cast<std::size_t>(at)];
        }
    }
    return std::nan("");
}

TEST(Assembly, TermsSummedInTheirOrderZerosLeftOutGroupsAndSelfing) {
    // 2, 3 and 4 full sibs, whose mates' terms (1, 0) add to 1.0 only in
    // their order (1.0 + 2e-16 would not); 5, of 0 and 2, whose mates' term
    // cancels 2's sire term (2, 0); 6 selfed from 3; 7 of the group 8.
    const std::vector<std::int32_t> sire{-1, -1, 0, 0, 0, 0, 3, 8}, dam{-1, -1, 1, 1, 1, 2, 3, -1};
    const std::vector<double> weight{1.0, 1.0, 4.0, 4e-16, 4e-16, 8.0, 2.0, 2.0};
    const Parents parents{8, 9, sire.data(), dam.data(), weight.data()};
    ASSERT_EQ(parents_problem(parents), "");
    Pacer pace;
    const Compressed out = relationship_inverse(parents, pace);
    ASSERT_EQ(out.indptr.size(), 10U);
    for (std::int32_t r = 0; r < 9; ++r) {
        for (auto at = out.indptr[static_cast<std::size_t>(r)]; at < out.indptr[static_cast<std::size_t>(r) + 1];
             ++at) {
            const auto k = static_cast<std::size_t>(at);
            if (at > out.indptr[static_cast<std::size_t>(r)]) {
                EXPECT_LT(out.indices[k - 1], out.indices[k]);
            }
            EXPECT_EQ(element(out, out.indices[k], r), out.data[k]);
        }
    }
    EXPECT_EQ(element(out, 1, 0), 1.0);
    EXPECT_TRUE(std::isnan(element(out, 2, 0)));
    EXPECT_EQ(element(out, 6, 3), -2.0);
    EXPECT_EQ(element(out, 3, 3), ((4e-16 + 0.25 * 2.0) + 0.25 * 2.0) + 0.5 * 2.0);
    EXPECT_EQ(element(out, 8, 7), -1.0);
    EXPECT_EQ(element(out, 8, 8), 0.5);
}

TEST(Assembly, ParentOutOfRangeNamed) {
    const std::vector<double> weight{1.0, 1.0};
    for (const std::vector<std::int32_t>& sire : {std::vector<std::int32_t>{-1, 1}, {-2, -1}, {-1, 3}}) {
        const std::vector<std::int32_t> dam{-1, -1};
        EXPECT_NE(parents_problem({2, 3, sire.data(), dam.data(), weight.data()}), "") << sire[0] << " " << sire[1];
        EXPECT_NE(parents_problem({2, 3, dam.data(), sire.data(), weight.data()}), "");
    }
    const std::vector<std::int32_t> sire{-1, 0}, dam{-1, 2};
    EXPECT_EQ(parents_problem({2, 3, sire.data(), dam.data(), weight.data()}), "");
}

}  // namespace
