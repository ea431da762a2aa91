#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cald.hpp"
#include "helpers.hpp"

namespace {

using namespace tolm::testing_support;
using tolm::MISSING_PARENT;

constexpr double sentinel = -7.0;
constexpr std::int32_t code_sentinel = -7;

// cald on the five animals, outputs pre-filled with sentinels.
struct CaldCall : FiveAnimals {
    Codes n_animals{5};
    Reals d_val = Reals(16, sentinel);
    Codes d_col = Codes(16, code_sentinel);
    Codes d_rowstart = Codes(6, code_sentinel);
    Codes d_count{0};

    CaldCall() = default;
    CaldCall(const CaldCall&) = delete;

    void run() {
        tolm::cald_kernel(sire.data(), dam.data(), a_col.data(), a_rowstart.data(), a_val.data(), n_animals.data(),
                          d_val.data(), d_col.data(), d_rowstart.data(), d_count.data());
    }

    std::array<tolm::BufferLayout, 10> layouts() const {
        return {layout_of(sire),      layout_of(dam),   layout_of(a_col), layout_of(a_rowstart), layout_of(a_val),
                layout_of(n_animals), layout_of(d_val), layout_of(d_col), layout_of(d_rowstart), layout_of(d_count)};
    }
    tolm::Verdict check() const { return tolm::check_cald_arguments(layouts()); }
};

TEST(CaldKernel, WorkedExample) {
    CaldCall call;
    call.run();
    EXPECT_EQ(call.d_rowstart, (Codes{0, 0, 0, 0, 1, code_sentinel}));
    EXPECT_EQ(Reals(call.d_val.begin(), call.d_val.begin() + 4), (Reals{1.0, 0.5, 0.5, sentinel}));
    EXPECT_EQ(Codes(call.d_col.begin(), call.d_col.begin() + 4), (Codes{2, 2, 3, code_sentinel}));
    EXPECT_EQ(call.d_count[0], 3);
}

TEST(CaldKernel, CountOnEntryShiftsEveryPosition) {
    CaldCall call;
    call.d_count[0] = 10;
    call.run();
    EXPECT_EQ(call.d_rowstart, (Codes{10, 10, 10, 10, 11, code_sentinel}));
    EXPECT_EQ(Reals(call.d_val.begin(), call.d_val.begin() + 10), Reals(10, sentinel));
    EXPECT_EQ(Reals(call.d_val.begin() + 10, call.d_val.begin() + 14), (Reals{1.0, 0.5, 0.5, sentinel}));
    EXPECT_EQ(Codes(call.d_col.begin() + 10, call.d_col.begin() + 13), (Codes{2, 2, 3}));
    EXPECT_EQ(call.d_count[0], 13);
}

class CaldNoAnimals : public testing::TestWithParam<std::int32_t> {};

TEST_P(CaldNoAnimals, WriteNothing) {
    CaldCall call;
    call.n_animals[0] = GetParam();
    call.d_count[0] = 4;
    call.run();
    EXPECT_EQ(call.d_rowstart, Codes(6, code_sentinel));
    EXPECT_EQ(call.d_val, Reals(16, sentinel));
    EXPECT_EQ(call.d_count[0], 4);
}

INSTANTIATE_TEST_SUITE_P(Counts, CaldNoAnimals, testing::Values(0, -1, MISSING_PARENT));

TEST(CaldKernel, OneMissingParentEmptiesTheRowAndTheColumn) {
    CaldCall call;
    call.dam[3] = MISSING_PARENT;
    call.run();
    EXPECT_EQ(call.d_rowstart, (Codes{0, 0, 0, 0, 0, code_sentinel}));
    EXPECT_EQ(call.d_col[0], 2);
    EXPECT_EQ(call.d_count[0], 1);
}

TEST(CaldKernel, NaNIsStoredAndZeroIsNot) {
    CaldCall call;
    call.a_val[0] = std::numeric_limits<double>::quiet_NaN();  // a(0, 0): used by (3, 2) only
    call.run();
    EXPECT_TRUE(std::isnan(call.d_val[0]));
    EXPECT_EQ(call.d_count[0], 3);

    CaldCall zero;
    zero.a_val[0] = 0.0;  // a stored zero makes D(3, 2) = 1 · 0 + 0 · 0
    zero.run();
    EXPECT_EQ(zero.d_rowstart, (Codes{0, 0, 0, 0, 0, code_sentinel}));
    EXPECT_EQ(Codes(zero.d_col.begin(), zero.d_col.begin() + 3), (Codes{2, 3, code_sentinel}));
    EXPECT_EQ(zero.d_count[0], 2);
}

TEST(CaldKernel, NegativeZeroIsNotStored) {
    CaldCall call;
    // a(3, 0) = a(3, 1) = −0.0: D(4, 2) and D(4, 3) are −0.0 · 0.5 + −0.0 · 0.5.
    call.a_val[5] = call.a_val[6] = -0.0;
    call.run();
    EXPECT_EQ(call.d_count[0], 1);
    EXPECT_EQ(call.d_col[0], 2);
    EXPECT_EQ(call.d_col[1], code_sentinel);
}

TEST(CaldKernel, UpperElementsGiveUpperElementsOfD) {
    CaldCall call;
    // Rows 2 and 3 also store their elements above the diagonal.
    call.a_rowstart = {0, 1, 2, 7, 12, 17};
    call.a_col = {0, 1, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4};
    call.a_val = {1.0, 1.0, 0.5, 0.5, 1.0, 0.5, 0.75, 0.5, 0.5, 0.5, 1.0, 0.75, 0.5, 0.5, 0.75, 0.75, 1.25};
    call.run();
    EXPECT_EQ(call.d_rowstart, (Codes{0, 0, 0, 2, 4, code_sentinel}));
    EXPECT_EQ(Codes(call.d_col.begin(), call.d_col.begin() + 6), (Codes{3, 4, 2, 4, 2, 3}));
    EXPECT_EQ(Reals(call.d_val.begin(), call.d_val.begin() + 6), (Reals{1.0, 0.5, 1.0, 0.5, 0.5, 0.5}));
}

TEST(CaldKernel, RowStartsNeedNotBeginAtZero) {
    CaldCall call;
    call.a_col.insert(call.a_col.begin(), {4, 4, 4});
    call.a_val.insert(call.a_val.begin(), {9.0, 9.0, 9.0});
    for (auto& start : call.a_rowstart) {
        start += 3;
    }
    call.run();
    EXPECT_EQ(call.d_rowstart, (Codes{0, 0, 0, 0, 1, code_sentinel}));
    EXPECT_EQ(Reals(call.d_val.begin(), call.d_val.begin() + 3), (Reals{1.0, 0.5, 0.5}));
}

TEST(CaldArguments, WellFormedCallPasses) { expect_accepted(CaldCall{}.check()); }

TEST(CaldArguments, ShortPedigreeAndRowStartsAreRefused) {
    CaldCall call;
    call.dam.pop_back();
    expect_value_error(call.check(), "cald(): argument 1 (dam) needs at least 5 int32 elements, got 4");
    CaldCall rows;
    rows.a_rowstart.pop_back();
    expect_value_error(rows.check(), "cald(): argument 3 (a_rowstart) needs at least 6 int32 elements, got 5");
    CaldCall out;
    out.d_rowstart.resize(4);
    expect_value_error(out.check(), "cald(): argument 8 (d_rowstart) needs at least 5 int32 elements, got 4");
}

TEST(CaldArguments, ParentsMustBeMissingOrAnimals) {
    CaldCall call;
    call.sire[3] = 5;
    expect_value_error(call.check(), "cald(): sire[3] = 5 must be -999 (missing) or an animal number below 5");
    CaldCall negative;
    negative.dam[0] = -1;
    expect_value_error(negative.check(), "cald(): dam[0] = -1 must be -999 (missing) or an animal number below 5");
}

TEST(CaldArguments, RowStartsMustStayWithinTheMatrix) {
    CaldCall negative;
    negative.a_rowstart[0] = -1;
    expect_value_error(negative.check(), "cald(): a_rowstart[0] = -1 must not be negative");
    CaldCall decreasing;
    decreasing.a_rowstart[3] = 1;
    expect_value_error(decreasing.check(), "cald(): a_rowstart[3] = 1 must not be below a_rowstart[2] = 2");
    CaldCall past;
    past.a_rowstart[5] = 15;
    expect_value_error(past.check(), "cald(): a_rowstart[5] = 15 must not exceed the 14 elements of a_col");
    CaldCall values;
    values.a_val.pop_back();
    expect_value_error(values.check(), "cald(): a_rowstart[5] = 14 must not exceed the 13 elements of a_val");
}

TEST(CaldArguments, ColumnsWithinTheRowsMustBeAnimals) {
    CaldCall call;
    call.a_col[6] = 5;
    expect_value_error(call.check(), "cald(): a_col[6] = 5 must be an animal number below 5");
    CaldCall outside;  // an element after the last row is never read
    outside.a_col.push_back(-3);
    outside.a_val.push_back(0.0);
    expect_accepted(outside.check());
}

TEST(CaldArguments, OutputsMustHoldEveryCandidate) {
    CaldCall call;
    call.d_count[0] = 10;
    call.d_val.resize(12);
    expect_value_error(call.check(), "cald(): argument 6 (d_val) needs at least 13 float64 elements, got 12");
    call.d_val.resize(13);
    call.d_col.resize(12);
    expect_value_error(call.check(), "cald(): argument 7 (d_col) needs at least 13 int32 elements, got 12");
    call.d_col.resize(13);
    expect_accepted(call.check());
}

TEST(CaldArguments, CountMustNotBeNegativeNorOverflow) {
    CaldCall negative;
    negative.d_count[0] = -1;
    expect_value_error(negative.check(), "cald(): d_count[0] = -1 must not be negative");
    CaldCall overflow;
    overflow.d_count[0] = std::numeric_limits<std::int32_t>::max() - 2;
    expect_value_error(overflow.check(),
                       "cald(): d_count[0] = 2147483645 plus 3 candidate elements does not stay below 2^31");
    CaldCall last;
    last.d_count[0] = std::numeric_limits<std::int32_t>::max() - 3;
    expect_value_error(last.check(), "cald(): argument 6 (d_val) needs at least 2147483647 float64 elements, got 16");
}

TEST(CaldArguments, NoAnimalsNeedNoArrays) {
    CaldCall call;
    call.n_animals[0] = -4;
    call.sire.clear();
    call.a_rowstart.clear();
    call.d_val.clear();
    expect_accepted(call.check());
}

TEST(CaldArguments, OutputsMustNotShareMemory) {
    CaldCall call;
    auto layouts = call.layouts();
    layouts[8] = layout_of(call.d_col);
    expect_value_error(tolm::check_cald_arguments(layouts),
                       "cald(): argument 7 (d_col) is written and must not share memory with "
                       "argument 8 (d_rowstart)");
}

}  // namespace
