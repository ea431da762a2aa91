#include "relationships.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tolmkit {
namespace {

// Stored values compare as equal where they are, NaN matching NaN.
bool same_value(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// The members of a component from place `low` to place `top`, both included.
struct Span {
    std::int32_t low;
    std::int32_t top;
};

// Column i of A = T B Tᵀ, with T the contributions of ancestors and B the
// sampling variances, by Colleau's indirect method: x = Tᵀ e_i down the
// ancestors of i, then T (B x) forward, in place in `work`, whose entry n
// takes what unknown parents get.
// Both loops run without branches on the values: a zero added or scaled
// costs less than a mispredicted test.
Span relationship_row(const Herd& herd, std::int32_t i, double* work) {
    const Span span{herd.oldest[i], herd.position[i]};
    work[static_cast<std::size_t>(i)] = 1.0;
    for (std::int32_t m = span.top; m >= span.low; --m) {
        const std::int32_t k = herd.members[m];
        const double half = 0.5 * work[static_cast<std::size_t>(k)];
        work[herd.sire[k]] += half;
        work[herd.dam[k]] += half;
    }
    work[herd.n] = 0.0;
    for (std::int32_t m = span.low; m <= span.top; ++m) {
        const std::int32_t k = herd.members[m];
        work[static_cast<std::size_t>(k)] =
            herd.sampling_var[k] * work[static_cast<std::size_t>(k)] + 0.5 * (work[herd.sire[k]] + work[herd.dam[k]]);
    }
    return span;
}

}  // namespace

void oldest_ancestors(const Herd& herd, std::int32_t* oldest) {
    for (std::int32_t i = 0; i < herd.n; ++i) {
        std::int32_t low = herd.position[i];
        for (const std::int32_t parent : {herd.sire[i], herd.dam[i]}) {
            if (parent != herd.n) {
                low = std::min(low, oldest[parent]);
            }
        }
        oldest[i] = low;
    }
}

Count count_relationships(const Herd& herd, bool lower, std::int64_t max_elements, std::int32_t* counts, Pacer& pace) {
    std::vector<double> work(static_cast<std::size_t>(herd.n) + 1, 0.0);
    std::fill(counts, counts + herd.n, 0);
    std::int64_t total = 0;
    for (std::int32_t i = 0; i < herd.n; ++i) {
        const Span span = relationship_row(herd, i, work.data());
        // Row i's lower part, and its mirror in the columns of the rows
        // before it, which are counted already: members below i's place are
        // numbered below i.
        std::int32_t count = 1;  // the diagonal, at the top
        for (std::int32_t m = span.low; m < span.top; ++m) {
            const std::int32_t k = herd.members[m];
            const std::int32_t related = work[static_cast<std::size_t>(k)] != 0.0 ? 1 : 0;
            count += related;
            if (!lower) {
                counts[k] += related;
            }
            work[static_cast<std::size_t>(k)] = 0.0;
        }
        work[static_cast<std::size_t>(i)] = 0.0;
        counts[i] += count;
        total += lower ? count : 2 * std::int64_t{count} - 1;
        pace(span.top - span.low + 1);
        if (total > max_elements) {
            return {i + 1, total};
        }
    }
    return {herd.n, total};
}

namespace {

// Rows of the mirror written at once: few enough that the places they are
// appended to stay in the caches and the TLB, unlike one row of each of
// thousands of columns.
constexpr std::int32_t mirror_block = 512;

// Appends to each row j, at cursor[static_cast<std::size_t>(j)], the elements (i, j) of the rows below
// it, i ascending; the lower part of row i starts at reading[static_cast<std::size_t>(i)] and ends with
// its diagonal.
void mirror_lower(std::int32_t n, std::int32_t* cursor, std::int32_t* reading, std::int32_t* indices, double* data,
                  Pacer& pace) {
    for (std::int32_t block = 0; block < n; block += mirror_block) {
        const std::int32_t end = std::min(n, block + mirror_block);
        for (std::int32_t i = block + 1; i < n; ++i) {
            const std::int32_t stop = std::min(end, i);
            std::int32_t e = reading[static_cast<std::size_t>(i)];
            for (; indices[e] < stop; ++e) {
                const std::int32_t mirror = cursor[indices[e]]++;
                indices[mirror] = i;
                data[mirror] = data[e];
            }
            pace(e - reading[static_cast<std::size_t>(i)] + 1);
            reading[static_cast<std::size_t>(i)] = e;
        }
    }
}

}  // namespace

void fill_relationships(const Herd& herd, double scale, const std::int32_t* indptr, bool lower, std::int32_t* indices,
                        double* data, Pacer& pace) {
    std::vector<double> work(static_cast<std::size_t>(herd.n) + 1, 0.0);
    // Where the mirror of each row is appended next, and where each row's
    // lower part is read from next.
    std::vector<std::int32_t> cursor(lower ? 0 : static_cast<std::size_t>(herd.n));
    std::vector<std::int32_t> reading(cursor.size());
    for (std::int32_t i = 0; i < herd.n; ++i) {
        const Span span = relationship_row(herd, i, work.data());
        // A zero is written too and then overwritten: the diagonal, never
        // zero, comes last, so every write stays within the row.
        std::int32_t place = indptr[i];
        for (std::int32_t m = span.low; m <= span.top; ++m) {
            const std::int32_t k = herd.members[m];
            const double value = work[static_cast<std::size_t>(k)];
            work[static_cast<std::size_t>(k)] = 0.0;
            indices[place] = k;
            data[place] = scale * value;
            place += value != 0.0 ? 1 : 0;
        }
        if (!lower) {
            cursor[static_cast<std::size_t>(i)] = place;
            reading[static_cast<std::size_t>(i)] = indptr[i];
        }
        pace(span.top - span.low + 1);
    }
    if (!lower) {
        mirror_lower(herd.n, cursor.data(), reading.data(), indices, data, pace);
    }
}

void with_diagonal_rows(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, bool lower,
                        std::int32_t* out_indptr) {
    // Each row's length at out_indptr[i + 1], summed in place.
    out_indptr[0] = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        out_indptr[i + 1] = indptr[i + 1] - indptr[i] + 1;
    }
    if (!lower) {
        for (std::int32_t e = indptr[0]; e < indptr[n]; ++e) {
            ++out_indptr[indices[e] + 1];
        }
    }
    for (std::int32_t i = 0; i < n; ++i) {
        out_indptr[i + 1] += out_indptr[i];
    }
}

void with_diagonal(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
                   const double* diagonal, bool lower, const std::int32_t* out_indptr, std::int32_t* out_indices,
                   double* out_data, Pacer& pace) {
    // Where the mirror of each row is appended next: row j's mirror comes
    // from the rows below it, after its own lower part.
    std::vector<std::int32_t> cursor(lower ? 0 : static_cast<std::size_t>(n));
    std::copy(out_indptr, out_indptr + cursor.size(), cursor.begin());
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t place = lower ? out_indptr[i] : cursor[static_cast<std::size_t>(i)];
        for (std::int32_t e = indptr[i]; e < indptr[i + 1]; ++e) {
            const std::int32_t j = indices[e];
            out_indices[place] = j;
            out_data[place] = data[e];
            ++place;
            if (!lower) {
                const std::int32_t mirror = cursor[static_cast<std::size_t>(j)]++;
                out_indices[mirror] = i;
                out_data[mirror] = data[e];
            }
        }
        out_indices[place] = i;
        out_data[place] = diagonal[i];
        if (!lower) {
            cursor[static_cast<std::size_t>(i)] = place + 1;
        }
        pace(indptr[i + 1] - indptr[i] + 1);
    }
}

Triangles count_triangles(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, Pacer& pace) {
    Triangles found{0, 0};
    for (std::int32_t r = 0; r < n; ++r) {
        for (std::int32_t e = indptr[r]; e < indptr[r + 1]; ++e) {
            found.below += indices[e] < r ? 1 : 0;
            found.above += indices[e] > r ? 1 : 0;
        }
        pace(indptr[r + 1] - indptr[r] + 1);
    }
    return found;
}

bool symmetric(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
               Pacer& pace) {
    // next[static_cast<std::size_t>(c)]: the first element of row c below the diagonal not yet matched
    // with its mirror above; rows r ascend, so those mirrors come in order.
    std::vector<std::int32_t> next(indptr, indptr + n);
    for (std::int32_t r = 0; r < n; ++r) {
        for (std::int32_t e = indptr[r]; e < indptr[r + 1]; ++e) {
            const std::int32_t c = indices[e];
            if (c <= r) {
                continue;
            }
            const std::int32_t end = indptr[c + 1];
            std::int32_t p = next[static_cast<std::size_t>(c)];
            for (; p < end && indices[p] < r; ++p) {
                if (data[p] != 0.0) {
                    return false;
                }
            }
            const bool stored = p < end && indices[p] == r;
            if (!same_value(data[e], stored ? data[p] : 0.0)) {
                return false;
            }
            next[static_cast<std::size_t>(c)] = stored ? p + 1 : p;
        }
        pace(indptr[r + 1] - indptr[r] + 1);
    }
    for (std::int32_t c = 0; c < n; ++c) {
        for (std::int32_t p = next[static_cast<std::size_t>(c)]; p < indptr[c + 1] && indices[p] < c; ++p) {
            if (data[p] != 0.0) {
                return false;
            }
        }
    }
    return true;
}

Element first_asymmetric(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
                         Pacer& pace) {
    for (std::int32_t r = 0; r < n; ++r) {
        for (std::int32_t e = indptr[r]; e < indptr[r + 1]; ++e) {
            const std::int32_t c = indices[e];
            const std::int32_t* row_begin = indices + indptr[c];
            const std::int32_t* row_end = indices + indptr[c + 1];
            const std::int32_t* found = std::lower_bound(row_begin, row_end, r);
            const double mirror = found != row_end && *found == r ? data[found - indices] : 0.0;
            if (!same_value(data[e], mirror)) {
                return {r, c};
            }
        }
        pace(indptr[r + 1] - indptr[r] + 1);
    }
    return {-1, -1};
}

void lower_part(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
                std::int32_t* out_indptr, std::int32_t* out_indices, double* out_data, Pacer& pace) {
    std::int32_t place = 0;
    out_indptr[0] = 0;
    for (std::int32_t r = 0; r < n; ++r) {
        for (std::int32_t e = indptr[r]; e < indptr[r + 1] && indices[e] <= r; ++e) {
            out_indices[place] = indices[e];
            out_data[place] = data[e];
            ++place;
        }
        out_indptr[r + 1] = place;
        pace(indptr[r + 1] - indptr[r] + 1);
    }
}

}  // namespace tolmkit
