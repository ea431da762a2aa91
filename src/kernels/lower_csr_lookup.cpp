#include "lower_csr_lookup.hpp"

#include <algorithm>
#include <string>

namespace tolm {

Verdict check_lower_csr_row(const Arguments& args, std::size_t a_col, std::size_t a_rowstart,
                            std::size_t a_val, std::int32_t r) {
    const std::int32_t* rowstart = args.integers(a_rowstart);
    if (rowstart[r] < 0) {
        return args.value_error(args.element(a_rowstart, r) + " must not be negative");
    }
    if (rowstart[r + 1] < rowstart[r]) {
        return args.value_error(args.element(a_rowstart, r + 1) + " must not be below " +
                                args.element(a_rowstart, r));
    }
    const std::size_t shorter = args.length(a_val) < args.length(a_col) ? a_val : a_col;
    if (rowstart[r + 1] > args.length(shorter)) {
        return args.value_error(args.element(a_rowstart, r + 1) + " must not exceed the " +
                                std::to_string(args.length(shorter)) + " elements of " +
                                args.name(shorter));
    }
    return std::nullopt;
}

}  // namespace tolm
