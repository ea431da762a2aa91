// The dominance kernels at the edges of their number ranges: output counts
// that end at the largest int32, the last animals of a large matrix, rows of
// a single element. (fcoeff's largest animal numbers are compared with the
// literal pass in test_against_literal.cpp.)
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "cald.hpp"
#include "dijp.hpp"
#include "helpers.hpp"
#include "literal.hpp"

namespace {

using namespace tolm::testing_support;
using tolm::MISSING_PARENT;

// An array of which only the elements from `first` on exist: the kernel is
// handed a base pointer `first` elements before real memory, so that it
// indexes with numbers near 2^31 without 16 GiB behind them.
template <typename T>
struct Tail {
    std::int32_t first;
    std::vector<T> stored;

    T* base() {
        return reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(stored.data()) -
                                    static_cast<std::uintptr_t>(first) * sizeof(T));
    }
};

TEST(CaldLimits, OutputCountEndsAtTheLargestInt32) {
    FiveAnimals p;
    const std::int32_t n = 5, first = std::numeric_limits<std::int32_t>::max() - 3;
    Tail<double> d_val{first, Reals(3, -7.0)};
    Tail<std::int32_t> d_col{first, Codes(3, -7)};
    Codes d_rowstart(5, -7), d_count{first};
    tolm::cald_kernel(p.sire.data(), p.dam.data(), p.a_col.data(), p.a_rowstart.data(), p.a_val.data(), &n,
                      d_val.base(), d_col.base(), d_rowstart.data(), d_count.data());
    EXPECT_EQ(d_count[0], std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(d_val.stored, (Reals{1.0, 0.5, 0.5}));
    EXPECT_EQ(d_col.stored, (Codes{2, 2, 3}));
    EXPECT_EQ(d_rowstart, (Codes{first, first, first, first, first + 1}));
}

// A matrix of 2^20 rows holding only their diagonal, but for the last few
// animals, which are related: the pairs among them read the last rows.
struct LargeMatrix {
    static constexpr std::int32_t n = 1 << 20;
    Codes sire = Codes(n, MISSING_PARENT), dam = Codes(n, MISSING_PARENT);
    Codes rowstart, col;
    Reals val;

    LargeMatrix() {
        sire[n - 2] = n - 4;
        dam[n - 2] = n - 3;
        sire[n - 1] = n - 4;
        dam[n - 1] = n - 3;
        for (std::int32_t r = 0; r < n; ++r) {
            rowstart.push_back(static_cast<std::int32_t>(col.size()));
            if (r >= n - 2) {
                for (std::int32_t c = n - 4; c < r; ++c) {
                    col.push_back(c);
                    val.push_back(0.5);
                }
            }
            col.push_back(r);
            val.push_back(1.0);
        }
        rowstart.push_back(static_cast<std::int32_t>(col.size()));
    }
};

TEST(DijpLimits, PairsOfTheLastAnimals) {
    const LargeMatrix m;
    const std::int32_t last = LargeMatrix::n - 1, before = last - 1, pairs = 4;
    const Codes pair_i{last, before, last, 0}, pair_j{before, last, last, last};
    Reals d(4, 9.0), d_literal = d;
    tolm::dijp_kernel(m.sire.data(), m.dam.data(), &pairs, pair_i.data(), pair_j.data(), m.col.data(),
                      m.rowstart.data(), m.val.data(), d.data());
    literal_dijp(m.sire.data(), m.dam.data(), &pairs, pair_i.data(), pair_j.data(), m.col.data(), m.rowstart.data(),
                 m.val.data(), d_literal.data());
    EXPECT_TRUE(same_bits(d, d_literal));
    // Full sibs of two unrelated founders: a(dam, dam) · a(sire, sire) = 1; an
    // animal with itself and a founder keep the caller's value.
    EXPECT_EQ(d, (Reals{1.0, 1.0, 9.0, 9.0}));
}

// Rows of one element: the diagonal alone, or one off-diagonal element alone.
TEST(CaldLimits, RowsOfOneElement) {
    const Codes sire{MISSING_PARENT, MISSING_PARENT, 0, 0, 2};
    const Codes dam{MISSING_PARENT, MISSING_PARENT, 1, 1, 3};
    const Codes rowstart{0, 1, 2, 3, 4, 5};
    const Codes col{0, 1, 2, 2, 3};
    const Reals val{1.0, 1.0, 1.0, 0.5, 0.75};
    const std::int32_t n = 5;
    Reals d_val(5, -7.0), d_val_literal = d_val;
    Codes d_col(5, -7), d_col_literal = d_col, start(5, -7), start_literal = start, count{0}, count_literal{0};
    tolm::cald_kernel(sire.data(), dam.data(), col.data(), rowstart.data(), val.data(), &n, d_val.data(), d_col.data(),
                      start.data(), count.data());
    literal_cald(sire.data(), dam.data(), col.data(), rowstart.data(), val.data(), &n, d_val_literal.data(),
                 d_col_literal.data(), start_literal.data(), count_literal.data());
    EXPECT_TRUE(same_bits(d_val, d_val_literal));
    EXPECT_EQ(d_col, d_col_literal);
    EXPECT_EQ(start, start_literal);
    EXPECT_EQ(count, count_literal);
}

}  // namespace
