#include "assembly.hpp"

#include <numeric>

namespace tolmkit {

namespace {

// Starts of the groups of `keys` (n groups) from their counts.
std::vector<std::int64_t> starts_of(std::int32_t n, std::int64_t count, const std::int32_t* keys) {
    std::vector<std::int64_t> starts(static_cast<std::size_t>(n) + 1, 0);
    for (std::int64_t t = 0; t < count; ++t) {
        ++starts[static_cast<std::size_t>(keys[t]) + 1];
    }
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    return starts;
}

}  // namespace

std::int64_t first_outside(std::int32_t n, const Terms& terms) {
    for (std::int64_t t = 0; t < terms.count; ++t) {
        if (terms.column[t] < 0 || terms.row[t] <= terms.column[t] || terms.row[t] >= n) {
            return t;
        }
    }
    return -1;
}

Compressed symmetric_from_lower(std::int32_t n, const Terms& terms, const double* diagonal, Pacer& pace) {
    const auto size = static_cast<std::size_t>(n);
    // By column, in the order of the terms; then by row, visiting the
    // columns in order: the rows' columns ascend, duplicates side by side.
    // Each pass reads in order what it places.
    const std::vector<std::int64_t> by_column = starts_of(n, terms.count, terms.column);
    std::vector<std::int64_t> next(by_column.begin(), by_column.end() - 1);
    std::vector<std::int32_t> rows(static_cast<std::size_t>(terms.count));
    std::vector<double> values(static_cast<std::size_t>(terms.count));
    for (std::int64_t t = 0; t < terms.count; ++t) {
        const auto to = static_cast<std::size_t>(next[static_cast<std::size_t>(terms.column[t])]++);
        rows[to] = terms.row[t];
        values[to] = terms.value[t];
    }
    pace(terms.count);
    std::vector<std::int64_t> lower_starts = starts_of(n, terms.count, terms.row);
    next.assign(lower_starts.begin(), lower_starts.end() - 1);
    std::vector<std::int32_t> lower_columns(static_cast<std::size_t>(terms.count));
    std::vector<double> lower_values(static_cast<std::size_t>(terms.count));
    for (std::int32_t c = 0; c < n; ++c) {
        for (auto at = static_cast<std::size_t>(by_column[static_cast<std::size_t>(c)]);
             at < static_cast<std::size_t>(by_column[static_cast<std::size_t>(c) + 1]); ++at) {
            const auto to = static_cast<std::size_t>(next[static_cast<std::size_t>(rows[at])]++);
            lower_columns[to] = c;
            lower_values[to] = values[at];
        }
    }
    pace(terms.count);
    rows = {};
    values = {};
    // Duplicates summed and zeros left out, in place, row by row.
    std::vector<std::int64_t> above(size + 1, 0);
    std::int64_t kept = 0;
    for (std::int32_t r = 0; r < n; ++r) {
        std::int64_t at = lower_starts[static_cast<std::size_t>(r)];
        const std::int64_t end = lower_starts[static_cast<std::size_t>(r) + 1];
        lower_starts[static_cast<std::size_t>(r)] = kept;
        while (at < end) {
            const std::int32_t c = lower_columns[static_cast<std::size_t>(at)];
            double sum = lower_values[static_cast<std::size_t>(at++)];
            while (at < end && lower_columns[static_cast<std::size_t>(at)] == c) {
                sum += lower_values[static_cast<std::size_t>(at++)];
            }
            if (sum != 0.0) {
                lower_columns[static_cast<std::size_t>(kept)] = c;
                lower_values[static_cast<std::size_t>(kept++)] = sum;
                ++above[static_cast<std::size_t>(c) + 1];
            }
        }
    }
    lower_starts[size] = kept;
    pace(terms.count);
    // Each row: its lower part, the diagonal, then the mirror, whose
    // columns (the rows below) come in order as the rows are visited.
    Compressed out;
    out.indptr.resize(size + 1, 0);
    for (std::size_t r = 0; r < size; ++r) {
        out.indptr[r + 1] = out.indptr[r] + (lower_starts[r + 1] - lower_starts[r]) + 1 + above[r + 1];
    }
    out.indices.resize(static_cast<std::size_t>(out.indptr[size]));
    out.data.resize(out.indices.size());
    std::vector<std::int64_t> mirror(size);
    for (std::size_t r = 0; r < size; ++r) {
        auto to = static_cast<std::size_t>(out.indptr[r]);
        for (auto at = static_cast<std::size_t>(lower_starts[r]); at < static_cast<std::size_t>(lower_starts[r + 1]);
             ++at, ++to) {
            out.indices[to] = lower_columns[at];
            out.data[to] = lower_values[at];
        }
        out.indices[to] = static_cast<std::int32_t>(r);
        out.data[to] = diagonal[r];
        mirror[r] = static_cast<std::int64_t>(to) + 1;
    }
    for (std::size_t r = 0; r < size; ++r) {
        for (auto at = static_cast<std::size_t>(lower_starts[r]); at < static_cast<std::size_t>(lower_starts[r + 1]);
             ++at) {
            const auto to = static_cast<std::size_t>(mirror[static_cast<std::size_t>(lower_columns[at])]++);
            out.indices[to] = static_cast<std::int32_t>(r);
            out.data[to] = lower_values[at];
        }
    }
    pace(out.indptr[size]);
    return out;
}

}  // namespace tolmkit
