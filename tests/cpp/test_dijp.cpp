#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dijp.hpp"
#include "helpers.hpp"

namespace {

using namespace tolm::testing_support;
using tolm::MISSING_PARENT;

struct DijpCall : FiveAnimals {
    Codes pair_i{3, 4, 4, 2, 0, 4, 1};
    Codes pair_j{2, 2, 4, 3, 4, 3, 0};
    Codes n_pairs{7};
    Reals d_pair = Reals(7, 9.0);

    DijpCall() = default;
    DijpCall(const DijpCall&) = delete;

    void run() {
        tolm::dijp_kernel(sire.data(), dam.data(), n_pairs.data(), pair_i.data(), pair_j.data(), a_col.data(),
                          a_rowstart.data(), a_val.data(), d_pair.data());
    }
    tolm::Verdict check() const {
        return tolm::check_dijp_arguments({layout_of(sire), layout_of(dam), layout_of(n_pairs), layout_of(pair_i),
                                           layout_of(pair_j), layout_of(a_col), layout_of(a_rowstart), layout_of(a_val),
                                           layout_of(d_pair)});
    }
};

TEST(DijpKernel, WorkedExample) {
    DijpCall call;
    call.run();
    EXPECT_EQ(call.d_pair, (Reals{1.0, 0.5, 9.0, 1.0, 9.0, 0.5, 9.0}));
}

class DijpNoPairs : public testing::TestWithParam<std::int32_t> {};

TEST_P(DijpNoPairs, WriteNothing) {
    DijpCall call;
    call.n_pairs[0] = GetParam();
    call.run();
    EXPECT_EQ(call.d_pair, Reals(7, 9.0));
}

INSTANTIATE_TEST_SUITE_P(Counts, DijpNoPairs, testing::Values(0, -1, -999));

TEST(DijpKernel, NaNIsWrittenAndZeroIsNot) {
    DijpCall call;
    call.a_val[0] = std::numeric_limits<double>::quiet_NaN();
    call.run();
    EXPECT_TRUE(std::isnan(call.d_pair[0]));
    EXPECT_TRUE(std::isnan(call.d_pair[3]));
    EXPECT_EQ(call.d_pair[1], 0.5);

    DijpCall zero;
    zero.a_val[0] = 0.0;
    zero.run();
    EXPECT_EQ(zero.d_pair[0], 9.0);
}

TEST(DijpKernel, NegativeZeroIsNotWritten) {
    DijpCall call;
    call.a_val[5] = call.a_val[6] = -0.0;  // a(3, 0) and a(3, 1)
    call.run();
    EXPECT_EQ(call.d_pair, (Reals{1.0, 9.0, 9.0, 1.0, 9.0, 9.0, 9.0}));
}

TEST(DijpArguments, WellFormedCallPasses) { expect_accepted(DijpCall{}.check()); }

TEST(DijpArguments, PairsMustNameAnimals) {
    DijpCall call;
    call.pair_j[5] = 5;
    expect_value_error(call.check(), "dijp(): pair_j[5] = 5 must be an animal number below 5 (the length of sire)");
    DijpCall negative;
    negative.pair_i[2] = MISSING_PARENT;
    expect_value_error(negative.check(),
                       "dijp(): pair_i[2] = -999 must be an animal number below 5 (the length of sire)");
}

TEST(DijpArguments, ParentsOfPairedAnimalsMustBeRows) {
    DijpCall call;
    call.a_rowstart.resize(3);  // rows 0 and 1
    expect_value_error(call.check(),
                       "dijp(): sire[4] = 2 must be -999 (missing) or a row of the relationship matrix, below 2");
}

TEST(DijpArguments, OnlyPairedAnimalsAreChecked) {
    DijpCall call;
    call.pair_i = {3};
    call.pair_j = {2};
    call.n_pairs[0] = 1;
    call.sire[4] = 100;
    expect_accepted(call.check());
    call.pair_j[0] = 4;
    expect_value_error(call.check(),
                       "dijp(): sire[4] = 100 must be -999 (missing) or a row of the relationship matrix, below 5");
}

TEST(DijpArguments, OnlyRowsThatAreReadAreChecked) {
    DijpCall call;
    call.pair_i = {3, 4};
    call.pair_j = {2, 2};
    call.n_pairs[0] = 2;
    call.a_rowstart[5] = 1000;  // row 4: read by no lookup of these pairs
    expect_accepted(call.check());
    call.a_rowstart[4] = 1000;  // row 3: read for pair (4, 2)
    expect_value_error(call.check(), "dijp(): a_rowstart[4] = 1000 must not exceed the 14 elements of a_col");
}

TEST(DijpArguments, CountMustFitEveryArray) {
    DijpCall call;
    call.n_pairs[0] = 8;
    expect_value_error(call.check(), "dijp(): argument 3 (pair_i) needs at least 8 int32 elements, got 7");
    DijpCall out;
    out.d_pair.pop_back();
    expect_value_error(out.check(), "dijp(): argument 8 (d_pair) needs at least 7 float64 elements, got 6");
    DijpCall dam;
    dam.dam.pop_back();
    expect_value_error(dam.check(), "dijp(): argument 1 (dam) needs at least 5 int32 elements, got 4");
}

}  // namespace
