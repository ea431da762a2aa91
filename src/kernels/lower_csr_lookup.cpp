#include "lower_csr_lookup.hpp"

#include <algorithm>
#include <string>

namespace tolm {

bool lower_csr_rows_sorted(const std::int32_t* a_rowstart, const std::int32_t* a_col, std::int32_t rows) {
    for (std::int32_t r = 0; r < rows; ++r) {
        const std::int32_t searched_end = a_rowstart[r + 1] - 1;
        for (std::int32_t k = a_rowstart[r]; k + 1 < searched_end; ++k) {
            if (a_col[k] > a_col[k + 1]) {
                return false;
            }
        }
    }
    return true;
}

Verdict check_lower_csr_row(const Arguments& args, std::size_t a_col, std::size_t a_rowstart, std::size_t a_val,
                            std::int32_t r) {
    const std::int32_t* rowstart = args.integers(a_rowstart);
    const std::size_t shorter = args.length(a_val) < args.length(a_col) ? a_val : a_col;
    if (lower_csr_row_within(rowstart, r, args.length(shorter))) {
        return std::nullopt;
    }
    if (rowstart[r] < 0) {
        return args.value_error(args.element(a_rowstart, r) + " must not be negative");
    }
    if (rowstart[r + 1] < rowstart[r]) {
        return args.value_error(args.element(a_rowstart, r + 1) + " must not be below " + args.element(a_rowstart, r));
    }
    return args.value_error(args.element(a_rowstart, r + 1) + " must not exceed the " +
                            std::to_string(args.length(shorter)) + " elements of " + args.name(shorter));
}

}  // namespace tolm
