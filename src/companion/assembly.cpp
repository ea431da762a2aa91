#include "assembly.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

namespace tolmkit {

namespace {

// Calls visit(row, column, value) for each term strictly below the
// diagonal, in their order: the animal and its sire, the animal and its dam,
// then its sire and dam unless it is selfed.
template <typename Visit>
void each_term(const Parents& p, Visit&& visit) {
    for (const std::int32_t* parent : {p.sire, p.dam}) {
        for (std::int32_t i = 0; i < p.animals; ++i) {
            const std::int32_t a = parent[i];
            if (a >= 0) {
                // A known parent is numbered below its offspring, a group above it.
                visit(std::max(i, a), std::min(i, a), -0.5 * p.weight[i]);
            }
        }
    }
    for (std::int32_t i = 0; i < p.animals; ++i) {
        const std::int32_t s = p.sire[i];
        const std::int32_t d = p.dam[i];
        if (s >= 0 && d >= 0 && s != d) {
            visit(std::max(s, d), std::min(s, d), 0.25 * p.weight[i]);
        }
    }
}

// The diagonal: each animal's own weight, then a quarter of its offspring's
// as sire, then as dam, then half of its selfed offspring's (whose cross
// term falls twice on it). Each part is summed whole before it is added,
// in the order of the animals.
std::vector<double> diagonal_of(const Parents& p) {
    const auto size = static_cast<std::size_t>(p.size);
    std::vector<double> diagonal(size, 0.0);
    std::copy(p.weight, p.weight + p.animals, diagonal.begin());
    std::vector<double> part(size);
    const auto add = [&](double factor, auto&& parent_of) {
        std::fill(part.begin(), part.end(), 0.0);
        for (std::int32_t i = 0; i < p.animals; ++i) {
            const std::int32_t a = parent_of(i);
            if (a >= 0) {
                part[static_cast<std::size_t>(a)] += factor * p.weight[i];
            }
        }
        for (std::size_t k = 0; k < size; ++k) {
            diagonal[k] += part[k];
        }
    };
    add(0.25, [&](std::int32_t i) { return p.sire[i]; });
    add(0.25, [&](std::int32_t i) { return p.dam[i]; });
    add(0.5, [&](std::int32_t i) { return p.sire[i] >= 0 && p.sire[i] == p.dam[i] ? p.sire[i] : -1; });
    return diagonal;
}

// Sorts a row's columns, carrying their values, keeping the order of equal
// columns: the order in which their terms are summed.
void sort_row(std::int32_t* columns, double* values, std::size_t count,
              std::vector<std::pair<std::int32_t, double>>& scratch) {
    if (count <= 16) {
        for (std::size_t k = 1; k < count; ++k) {
            const std::int32_t c = columns[k];
            const double v = values[k];
            std::size_t at = k;
            for (; at > 0 && columns[at - 1] > c; --at) {
                columns[at] = columns[at - 1];
                values[at] = values[at - 1];
            }
            columns[at] = c;
            values[at] = v;
        }
        return;
    }
    scratch.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        scratch[k] = {columns[k], values[k]};
    }
    std::stable_sort(scratch.begin(), scratch.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (std::size_t k = 0; k < count; ++k) {
        columns[k] = scratch[k].first;
        values[k] = scratch[k].second;
    }
}

}  // namespace

std::string parents_problem(const Parents& p) {
    if (p.animals < 0 || p.size < p.animals) {
        return "fewer rows than animals";
    }
    for (const auto& [parent, role] : {std::pair{p.sire, "sire"}, std::pair{p.dam, "dam"}}) {
        for (std::int32_t i = 0; i < p.animals; ++i) {
            const std::int32_t a = parent[i];
            if (a < -1 || (a >= i && a < p.animals) || a >= p.size) {
                return std::string("the ") + role + " of animal " + std::to_string(i) + ", " + std::to_string(a) +
                       ", is neither unknown, nor an animal before it, nor a group";
            }
        }
    }
    return "";
}

Compressed relationship_inverse(const Parents& p, Pacer& pace) {
    const auto size = static_cast<std::size_t>(p.size);
    const std::vector<double> diagonal = diagonal_of(p);
    // The terms by row, in their order within each row.
    std::vector<std::int64_t> starts(size + 1, 0);
    each_term(p, [&](std::int32_t row, std::int32_t, double) { ++starts[static_cast<std::size_t>(row) + 1]; });
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    const auto count = static_cast<std::size_t>(starts[size]);
    std::vector<std::int32_t> columns(count);
    std::vector<double> values(count);
    {
        std::vector<std::int64_t> next(starts.begin(), starts.end() - 1);
        each_term(p, [&](std::int32_t row, std::int32_t column, double value) {
            const auto to = static_cast<std::size_t>(next[static_cast<std::size_t>(row)]++);
            columns[to] = column;
            values[to] = value;
        });
    }
    pace(static_cast<std::int64_t>(count));
    // Each row's columns in order, duplicates summed, zeros left out, in place.
    std::vector<std::int64_t> above(size + 1, 0);
    std::vector<std::pair<std::int32_t, double>> scratch;
    std::size_t kept = 0;
    for (std::size_t r = 0; r < size; ++r) {
        auto at = static_cast<std::size_t>(starts[r]);
        const auto end = static_cast<std::size_t>(starts[r + 1]);
        sort_row(columns.data() + at, values.data() + at, end - at, scratch);
        starts[r] = static_cast<std::int64_t>(kept);
        while (at < end) {
            const std::int32_t c = columns[at];
            double sum = values[at++];
            while (at < end && columns[at] == c) {
                sum += values[at++];
            }
            if (sum != 0.0) {
                columns[kept] = c;
                values[kept++] = sum;
                ++above[static_cast<std::size_t>(c) + 1];
            }
        }
    }
    starts[size] = static_cast<std::int64_t>(kept);
    pace(static_cast<std::int64_t>(count));
    // Each row: its lower part, the diagonal, then the mirror, whose columns
    // (the rows below) come in order as the rows are visited.
    Compressed out;
    out.indptr.resize(size + 1, 0);
    for (std::size_t r = 0; r < size; ++r) {
        out.indptr[r + 1] = out.indptr[r] + (starts[r + 1] - starts[r]) + 1 + above[r + 1];
    }
    above = {};
    out.indices.resize(static_cast<std::size_t>(out.indptr[size]));
    out.data.resize(out.indices.size());
    std::vector<std::int64_t> mirror(size);
    for (std::size_t r = 0; r < size; ++r) {
        auto to = static_cast<std::size_t>(out.indptr[r]);
        for (auto at = static_cast<std::size_t>(starts[r]); at < static_cast<std::size_t>(starts[r + 1]); ++at, ++to) {
            out.indices[to] = columns[at];
            out.data[to] = values[at];
        }
        out.indices[to] = static_cast<std::int32_t>(r);
        out.data[to] = diagonal[r];
        mirror[r] = static_cast<std::int64_t>(to) + 1;
    }
    for (std::size_t r = 0; r < size; ++r) {
        for (auto at = static_cast<std::size_t>(starts[r]); at < static_cast<std::size_t>(starts[r + 1]); ++at) {
            const auto to = static_cast<std::size_t>(mirror[static_cast<std::size_t>(columns[at])]++);
            out.indices[to] = static_cast<std::int32_t>(r);
            out.data[to] = values[at];
        }
    }
    pace(out.indptr[size]);
    return out;
}

}  // namespace tolmkit
