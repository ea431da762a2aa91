// One element of a symmetric relationship matrix stored as its lower triangle
// in compressed rows: row r holds columns c ≤ r, ascending, at positions
// a_rowstart[r] … a_rowstart[r + 1] − 1 of a_col and a_val.
#pragma once

#include <cstddef>
#include <cstdint>

#include "arguments.hpp"

namespace tolm {

// Element (max(x, y), min(x, y)) if stored, else 0.0. A lower-bound search
// over the first length − 1 positions of the row, then one test of the
// position it ends on; a row with no stored element reads as 0.0.
inline double lower_csr_lookup(const std::int32_t* a_rowstart, const std::int32_t* a_col,
                               const double* a_val, std::int32_t x, std::int32_t y) {
    const std::int32_t r = x > y ? x : y;
    const std::int32_t c = x > y ? y : x;
    std::int32_t lo = a_rowstart[r];
    std::int32_t count = a_rowstart[r + 1] - lo - 1;
    if (count < 0) {
        return 0.0;
    }
    while (count > 0) {
        const std::int32_t half = count / 2;
        const std::int32_t mid = lo + half;
        if (a_col[mid] < c) {
            lo = mid + 1;
            count = count - half - 1;
        } else {
            count = half;
        }
    }
    return a_col[lo] == c ? a_val[lo] : 0.0;
}

// Row r lies within the stored elements: its start is not negative, its end
// not before its start and not past the elements of a_col or a_val (given as
// argument indexes of the call; a_rowstart must hold entry r + 1).
Verdict check_lower_csr_row(const Arguments& args, std::size_t a_col, std::size_t a_rowstart,
                            std::size_t a_val, std::int32_t r);

}  // namespace tolm
