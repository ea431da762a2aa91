// One element of a symmetric relationship matrix stored as its lower triangle
// in compressed rows: row r holds columns c ≤ r, ascending, at positions
// a_rowstart[r] … a_rowstart[r + 1] − 1 of a_col and a_val.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "arguments.hpp"

namespace tolm {

// Benchmark builds may switch off a mechanism of the search below to measure
// what it brings (TOLM_PLAIN_LOOKUP_*); the module keeps both.
#ifdef TOLM_PLAIN_LOOKUP_MASKS
inline constexpr bool lookup_steps_by_masks = false;
#else
inline constexpr bool lookup_steps_by_masks = true;
#endif
#ifdef TOLM_PLAIN_LOOKUP_PREFETCH
inline constexpr bool lookup_prefetches = false;
#else
inline constexpr bool lookup_prefetches = true;
#endif

// N lookups at once: for each k, element (max(x[k], y[k]), min(x[k], y[k]))
// if stored, else 0.0. Each is a lower-bound search over the first
// length − 1 positions of its row, then one test of the position it ends on;
// the probes are those of that search in every row, sorted or not, and a row
// with no stored element reads as 0.0 without being read. The searches step
// together, each step without a branch and prefetching both possible next
// probes, so the memory reads of all N are in flight at the same time
// instead of one after the other. Every search
// takes floor(log2(count)) + 1 steps at most, as its count at least halves;
// the shared steps beyond a search's own change nothing of it.
template <std::size_t N>
std::array<double, N> lower_csr_lookups(const std::int32_t* a_rowstart, const std::int32_t* a_col, const double* a_val,
                                        const std::array<std::int32_t, N>& x, const std::array<std::int32_t, N>& y) {
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
        // Masks rather than conditions: compilers turn a condition of this
        // loop into a branch, and a mispredicted branch stalls every lane.
#pragma GCC unroll 16
        for (std::size_t k = 0; k < N; ++k) {
            const std::int32_t half = count[k] >> 1;
            if constexpr (lookup_prefetches) {
                // The next probe whichever way this one goes, so that the
                // next step finds its line on the way.
                __builtin_prefetch(cols[k] + lo[k] + (half >> 1));
                __builtin_prefetch(cols[k] + lo[k] + half + 1 + ((count[k] - half - 1) >> 1));
            }
            const bool below = (static_cast<int>(cols[k][lo[k] + half] < c[k]) & static_cast<int>(count[k] > 0)) != 0;
            if constexpr (lookup_steps_by_masks) {
                const std::int32_t less = -static_cast<std::int32_t>(below);
                lo[k] += (half + 1) & less;
                count[k] = half + ((count[k] - 2 * half - 1) & less);
            } else if (below) {
                lo[k] += half + 1;
                count[k] -= half + 1;
            } else {
                count[k] = half;
            }
        }
    }
    std::array<double, N> found{};
    for (std::size_t k = 0; k < N; ++k) {
        found[k] = cols[k] == a_col && a_col[lo[k]] == c[k] ? a_val[lo[k]] : 0.0;
    }
    return found;
}

// One element, the same as one lane of the batch.
inline double lower_csr_lookup(const std::int32_t* a_rowstart, const std::int32_t* a_col, const double* a_val,
                               std::int32_t x, std::int32_t y) {
    return lower_csr_lookups<1>(a_rowstart, a_col, a_val, {x}, {y})[0];
}

// Whether the first length − 1 columns of every row r < rows ascend (equal
// neighbours allowed). In such a row the lower-bound search of
// lower_csr_lookup has one possible end, the first of those positions whose
// column is not below the one sought (else the last position), whatever
// positions it probes; so any search that finds it gives the same element.
bool lower_csr_rows_sorted(const std::int32_t* a_rowstart, const std::int32_t* a_col, std::int32_t rows);

// In a row of sorted columns (as lower_csr_rows_sorted requires), the
// position where the lower-bound search for c over [first, last) ends.
// The search starts where column c would sit if row r held every column
// 0 … r, which in the dense rows of a relationship matrix is at or near its
// place, and gallops from there: it reads one or two cache lines where a
// bisection of the row reads a dozen, one after the other.
inline std::int32_t galloping_lower_bound(const std::int32_t* a_col, std::int32_t first, std::int32_t last,
                                          std::int32_t r, std::int32_t c) {
    // The answer lies in (below, above], with col[below] < c where below is
    // a position, and col[above] ≥ c where above is not the last.
    std::int32_t below = first - 1, above = last;
    if (last > first) {
        const std::int64_t span = last - first;
        const std::int64_t guess = static_cast<std::int64_t>(c) * span / (static_cast<std::int64_t>(r) + 1);
        const auto probe = first + static_cast<std::int32_t>(guess < 0 ? 0 : guess >= span ? span - 1 : guess);
        if (a_col[probe] < c) {
            for (std::int64_t step = 1, at = probe;; step *= 2) {
                below = static_cast<std::int32_t>(at);
                at = below + step;
                if (at >= last || a_col[at] >= c) {
                    above = at < last ? static_cast<std::int32_t>(at) : last;
                    break;
                }
            }
        } else {
            for (std::int64_t step = 1, at = probe;; step *= 2) {
                above = static_cast<std::int32_t>(at);
                at = above - step;
                if (at < first || a_col[at] < c) {
                    below = at >= first ? static_cast<std::int32_t>(at) : first - 1;
                    break;
                }
            }
        }
    }
    while (above - below > 1) {
        const std::int32_t middle = below + (above - below) / 2;
        (a_col[middle] < c ? below : above) = middle;
    }
    return above;
}

// The element of lower_csr_lookup in a matrix whose rows are sorted.
inline double sorted_lower_csr_lookup(const std::int32_t* a_rowstart, const std::int32_t* a_col, const double* a_val,
                                      std::int32_t x, std::int32_t y) {
    const std::int32_t r = x > y ? x : y;
    const std::int32_t c = x > y ? y : x;
    const std::int32_t first = a_rowstart[r];
    const std::int32_t last = a_rowstart[r + 1] - 1;
    if (last < first) {
        return 0.0;
    }
    const std::int32_t end = galloping_lower_bound(a_col, first, last, r, c);
    return a_col[end] == c ? a_val[end] : 0.0;
}

// Row r lies within the first `stored` elements: its start is not negative
// and its end not before its start nor past them.
inline bool lower_csr_row_within(const std::int32_t* a_rowstart, std::int32_t r, std::int64_t stored) {
    return a_rowstart[r] >= 0 && a_rowstart[r + 1] >= a_rowstart[r] && a_rowstart[r + 1] <= stored;
}

// Row r lies within the stored elements: its start is not negative, its end
// not before its start and not past the elements of a_col or a_val (given as
// argument indexes of the call; a_rowstart must hold entry r + 1).
Verdict check_lower_csr_row(const Arguments& args, std::size_t a_col, std::size_t a_rowstart, std::size_t a_val,
                            std::int32_t r);

}  // namespace tolm
