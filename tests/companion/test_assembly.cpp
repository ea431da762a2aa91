#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "assembly.hpp"

namespace {

using namespace tolmkit;

TEST(Assembly, DuplicatesAddedInTheirOrderZerosLeftOutMirrorCopied) {
    // (2, 0) three times, in an order that a sum in another order rounds
    // differently; (3, 1) summing to zero; (3, 0) once; row 1 has no term.
    const std::vector<std::int32_t> row{2, 3, 2, 3, 2, 3}, column{0, 1, 0, 0, 0, 1};
    const std::vector<double> value{1.0, 0.5, 1e-16, 4.0, 1e-16, -0.5}, diagonal{1.0, 2.0, 3.0, 4.0};
    const Terms terms{6, row.data(), column.data(), value.data()};
    EXPECT_EQ(first_outside(4, terms), -1);
    Pacer pace;
    const Compressed out = symmetric_from_lower(4, terms, diagonal.data(), pace);
    EXPECT_EQ(out.indptr, std::vector<std::int64_t>({0, 3, 4, 6, 8}));
    EXPECT_EQ(out.indices, std::vector<std::int32_t>({0, 2, 3, 1, 0, 2, 0, 3}));
    const double summed = (1.0 + 1e-16) + 1e-16;
    EXPECT_EQ(summed, 1.0);
    EXPECT_EQ(out.data, std::vector<double>({1.0, summed, 4.0, 2.0, summed, 3.0, 4.0, 4.0}));
    const std::vector<std::int32_t> below{2, 1}, above{1, 2};
    EXPECT_EQ(first_outside(4, {2, below.data(), above.data(), value.data()}), 1);  // (1, 2)
    EXPECT_EQ(first_outside(2, {2, below.data(), above.data(), value.data()}), 0);  // row 2 of 2
}

}  // namespace
