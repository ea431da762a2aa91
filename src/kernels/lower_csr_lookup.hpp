// One element of a symmetric relationship matrix stored as its lower triangle
// in compressed rows: row r holds columns c ≤ r, ascending, at positions
// a_rowstart[r] … a_rowstart[r + 1] − 1 of a_col and a_val.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "arguments.hpp"

namespace tolm {

// N lookups at once: for each k, element (max(x[k], y[k]), min(x[k], y[k]))
// if stored, else 0.0. Each is a lower-bound search over the first
// length − 1 positions of its row, then one test of the position it ends on;
// the probes are those of that search in every row, sorted or not, and a row
// with no stored element reads as 0.0 without being read. The searches step
// together, each step a conditional move, so the memory reads of all N are
// in flight at the same time instead of one after the other. Every search
// takes floor(log2(count)) + 1 steps at most, as its count at least halves;
// the shared steps beyond a search's own change nothing of it.
template <std::size_t N>
std::array<double, N> lower_csr_lookups(const std::int32_t* a_rowstart, const std::int32_t* a_col,
                                        const double* a_val, const std::array<std::int32_t, N>& x,
                                        const std::array<std::int32_t, N>& y) {
    // A search in a row with no stored element reads this instead.
    static constexpr std::int32_t no_column = -1;
    std::array<const std::int32_t*, N> cols{};
    std::array<std::int32_t, N> lo{}, count{}, c{};
    int steps = 0;
    for (std::size_t k = 0; k < N; ++k) {
        const std::int32_t r = x[k] > y[k] ? x[k] : y[k];
        c[k] = x[k] > y[k] ? y[k] : x[k];
        lo[k] = a_rowstart[r];
        count[k] = a_rowstart[r + 1] - lo[k] - 1;
        cols[k] = a_col;
        if (count[k] < 0) {
            cols[k] = &no_column;
            lo[k] = count[k] = 0;
        }
        const int own = count[k] > 0 ? 32 - __builtin_clz(static_cast<unsigned>(count[k])) : 0;
        steps = own > steps ? own : steps;
    }
    for (; steps > 0; --steps) {
        for (std::size_t k = 0; k < N; ++k) {
            const std::int32_t half = count[k] / 2;
            const bool less = (static_cast<int>(cols[k][lo[k] + half] < c[k]) & static_cast<int>(count[k] > 0)) != 0;
            lo[k] = less ? lo[k] + half + 1 : lo[k];
            count[k] = less ? count[k] - half - 1 : half;
        }
    }
    std::array<double, N> found{};
    for (std::size_t k = 0; k < N; ++k) {
        found[k] = cols[k] == a_col && a_col[lo[k]] == c[k] ? a_val[lo[k]] : 0.0;
    }
    return found;
}

// One element, the same as one lane of the batch.
inline double lower_csr_lookup(const std::int32_t* a_rowstart, const std::int32_t* a_col,
                               const double* a_val, std::int32_t x, std::int32_t y) {
    return lower_csr_lookups<1>(a_rowstart, a_col, a_val, {x}, {y})[0];
}

// Row r lies within the stored elements: its start is not negative, its end
// not before its start and not past the elements of a_col or a_val (given as
// argument indexes of the call; a_rowstart must hold entry r + 1).
Verdict check_lower_csr_row(const Arguments& args, std::size_t a_col, std::size_t a_rowstart,
                            std::size_t a_val, std::int32_t r);

}  // namespace tolm
