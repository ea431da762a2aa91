#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "helpers.hpp"
#include "lower_csr_lookup.hpp"

namespace {

using tolm::lower_csr_lookup;
using namespace tolm::testing_support;

struct LookupCase {
    std::int32_t x, y;
    double expected;
};

class ExampleLookups : public testing::TestWithParam<LookupCase> {};

TEST_P(ExampleLookups, ReadTheLowerTriangle) {
    const LookupCase c = GetParam();
    EXPECT_EQ(FiveAnimals{}.a(c.x, c.y), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Elements, ExampleLookups,
                         testing::Values(LookupCase{2, 2, 1.0}, LookupCase{1, 0, 0.0}, LookupCase{0, 1, 0.0},
                                         LookupCase{4, 3, 0.75}, LookupCase{3, 4, 0.75}, LookupCase{4, 4, 1.25},
                                         LookupCase{0, 0, 1.0}, LookupCase{4, 0, 0.5}, LookupCase{2, 4, 0.75}),
                         [](const testing::TestParamInfo<LookupCase>& info) {
                             return "At" + std::to_string(info.param.x) + "_" + std::to_string(info.param.y);
                         });

TEST(LowerCsrLookup, ColumnsNotStoredReadAsZero) {
    // Row 3 stores columns 1 and 2 only; row starts need not begin at 0.
    const Codes rowstart{3, 4, 5, 6, 8};
    const Codes col{9, 9, 9, 0, 1, 2, 1, 2};
    const Reals val{9, 9, 9, 1.0, 1.0, 1.0, 0.25, 0.5};
    const auto a = [&](std::int32_t x, std::int32_t y) {
        return lower_csr_lookup(rowstart.data(), col.data(), val.data(), x, y);
    };
    EXPECT_EQ(a(3, 0), 0.0);  // below the first stored column
    EXPECT_EQ(a(3, 1), 0.25);
    EXPECT_EQ(a(3, 2), 0.5);
    EXPECT_EQ(a(3, 3), 0.0);  // above the last stored column
    EXPECT_EQ(a(0, 0), 1.0);
}

TEST(LowerCsrLookup, BetweenStoredColumnsReadsZero) {
    // Row 4 stores columns 0, 2 and 4.
    const Codes rowstart{0, 1, 2, 3, 4, 7};
    const Codes col{0, 1, 2, 3, 0, 2, 4};
    const Reals val{1.0, 1.0, 1.0, 1.0, 2.0, 3.0, 4.0};
    for (std::int32_t c = 0; c < 5; ++c) {
        EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.data(), val.data(), 4, c), c % 2 == 0 ? 2.0 + c / 2 : 0.0) << c;
    }
}

TEST(LowerCsrLookup, StoredZeroAndNaNAreReturnedAsStored) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Codes rowstart{0, 1, 3};
    const Codes col{0, 0, 1};
    const Reals val{-0.0, nan, 2.0};
    EXPECT_TRUE(std::signbit(lower_csr_lookup(rowstart.data(), col.data(), val.data(), 0, 0)));
    EXPECT_TRUE(std::isnan(lower_csr_lookup(rowstart.data(), col.data(), val.data(), 0, 1)));
}

TEST(LowerCsrLookup, RowsWithUpperElementsStillFindTheLowerOnes) {
    // Full symmetric storage: every row holds all its columns.
    const Codes rowstart{0, 3, 6, 9};
    const Codes col{0, 1, 2, 0, 1, 2, 0, 1, 2};
    const Reals val{1.0, 0.5, 0.25, 0.5, 1.0, 0.125, 0.25, 0.125, 1.0};
    EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.data(), val.data(), 0, 2), 0.25);
    EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.data(), val.data(), 1, 2), 0.125);
    EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.data(), val.data(), 1, 0), 0.5);
    EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.data(), val.data(), 0, 0), 1.0);
}

TEST(LowerCsrLookup, EmptyRowReadsZeroWithoutLeavingTheRow) {
    // The last row is empty and ends the arrays: a read at its start would
    // be past them (which the sanitized build reports).
    const Codes rowstart{0, 1, 1};
    const auto col = std::make_unique<std::int32_t[]>(1);
    const auto val = std::make_unique<double[]>(1);
    col[0] = 0;
    val[0] = 1.0;
    EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.get(), val.get(), 1, 0), 0.0);
    EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.get(), val.get(), 1, 1), 0.0);
    EXPECT_EQ(lower_csr_lookup(rowstart.data(), col.get(), val.get(), 0, 0), 1.0);
}

}  // namespace
