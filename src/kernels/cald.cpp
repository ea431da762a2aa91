#include "cald.hpp"

#include <limits>
#include <type_traits>

#include "dominance.hpp"
#include "lower_csr_lookup.hpp"

namespace tolm {

namespace {

// Benchmark builds may switch off a mechanism of the kernel to measure what
// it brings (TOLM_PLAIN_CALD_*); the module keeps both.
#ifdef TOLM_PLAIN_CALD_MEMO
constexpr bool memoize_parents = false;
#else
constexpr bool memoize_parents = true;
#endif
#ifdef TOLM_PLAIN_CALD_GALLOP
constexpr bool gallop_in_sorted_rows = false;
#else
constexpr bool gallop_in_sorted_rows = true;
#endif

// Lookups that gallop when every row of the matrix is sorted, and bisect as
// the format's lookup does otherwise.
class Lookup {
public:
    Lookup(const std::int32_t* a_col, const std::int32_t* a_rowstart, const double* a_val, std::int32_t rows)
        : a_col_(a_col),
          a_rowstart_(a_rowstart),
          a_val_(a_val),
          sorted_(gallop_in_sorted_rows && lower_csr_rows_sorted(a_rowstart, a_col, rows)) {}

    double operator()(std::int32_t x, std::int32_t y) const {
        return sorted_ ? sorted_lower_csr_lookup(a_rowstart_, a_col_, a_val_, x, y)
                       : lower_csr_lookup(a_rowstart_, a_col_, a_val_, x, y);
    }

    // a(u, x) and a(v, x).
    std::array<double, 2> both(std::int32_t u, std::int32_t v, std::int32_t x) const {
        if (sorted_) {
            return {(*this)(u, x), (*this)(v, x)};
        }
        return lower_csr_lookups<2>(a_rowstart_, a_col_, a_val_, {u, v}, {x, x});
    }

private:
    const std::int32_t* a_col_;
    const std::int32_t* a_rowstart_;
    const double* a_val_;
    bool sorted_;
};

// The four relationships p, q, r, t of element (i, j), each looked up.
class DirectRelationships {
public:
    explicit DirectRelationships(const Lookup& lookup) : lookup_(lookup) {}

    std::array<double, 4> of(std::int32_t, std::int32_t sire_i, std::int32_t dam_i, std::int32_t sire_j,
                             std::int32_t dam_j) const {
        return {lookup_(sire_i, dam_j), lookup_(sire_i, sire_j), lookup_(dam_i, sire_j), lookup_(dam_i, dam_j)};
    }

private:
    const Lookup& lookup_;
};

// The relationships of the two parents of animal i with other animals x, for
// the x that are parents of the animals in row i. Sires recur through a row
// (few sires, many offspring each), so most of the four lookups of an element
// are answered from here. A fixed table on the stack, tagged with the row:
// nothing is allocated and nothing needs clearing between rows.
class ParentRelationships {
public:
    explicit ParentRelationships(const Lookup& lookup) : lookup_(lookup) {
        for (Slot& slot : slots_) {
            slot.row = -1;
        }
    }

    std::array<double, 4> of(std::int32_t i, std::int32_t sire_i, std::int32_t dam_i, std::int32_t sire_j,
                             std::int32_t dam_j) {
        const auto [p, t] = with_parents(i, sire_i, dam_i, dam_j);
        const auto [q, r] = with_parents(i, sire_i, dam_i, sire_j);
        return {p, q, r, t};
    }

private:
    // a(sire_i, x) and a(dam_i, x), for the row of animal i.
    const std::array<double, 2>& with_parents(std::int32_t i, std::int32_t sire_i, std::int32_t dam_i, std::int32_t x) {
        Slot& slot = slots_[static_cast<std::uint32_t>(x) & (size - 1)];
        if (slot.row != i || slot.animal != x) {
            slot = {i, x, lookup_.both(sire_i, dam_i, x)};
        }
        return slot.pair;
    }

    static constexpr std::size_t size = 1024;
    struct Slot {
        std::int32_t row;
        std::int32_t animal;
        std::array<double, 2> pair;
    };

    const Lookup& lookup_;
    std::array<Slot, size> slots_;
};

using Relationships = std::conditional_t<memoize_parents, ParentRelationships, DirectRelationships>;

}  // namespace

void cald_kernel(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* a_col,
                 const std::int32_t* a_rowstart, const double* a_val, const std::int32_t* n_animals, double* d_val,
                 std::int32_t* d_col, std::int32_t* d_rowstart, std::int32_t* d_count) {
    const std::int32_t n = n_animals[0];
    const Lookup lookup(a_col, a_rowstart, a_val, n);
    Relationships relationships(lookup);
    std::int32_t count = d_count[0];
    for (std::int32_t i = 0; i < n; ++i) {
        d_rowstart[i] = count;
        const std::int32_t sire_i = sire[i];
        const std::int32_t dam_i = dam[i];
        if (!has_both_parents(sire_i, dam_i)) {
            continue;
        }
        const std::int32_t row_end = a_rowstart[i + 1];
        for (std::int32_t k = a_rowstart[i]; k < row_end; ++k) {
            const std::int32_t j = a_col[k];
            if (j == i) {
                continue;
            }
            const std::int32_t sire_j = sire[j];
            const std::int32_t dam_j = dam[j];
            if (!has_both_parents(sire_j, dam_j)) {
                continue;
            }
            const auto [p, q, r, t] = relationships.of(i, sire_i, dam_i, sire_j, dam_j);
            const double v = dominance_relationship(p, q, r, t);
            if (v != 0.0) {
                d_val[count] = v;
                d_col[count] = j;
                ++count;
            }
        }
    }
    d_count[0] = count;
}

namespace {

enum Cald : std::size_t { sire, dam, a_col, a_rowstart, a_val, n_animals, d_val, d_col, d_rowstart, d_count };

constexpr std::array<Parameter, 10> cald_parameters{{
    {"sire", Element::int32, false},
    {"dam", Element::int32, false},
    {"a_col", Element::int32, false},
    {"a_rowstart", Element::int32, false},
    {"a_val", Element::float64, false},
    {"n_animals", Element::int32, false},
    {"d_val", Element::float64, true},
    {"d_col", Element::int32, true},
    {"d_rowstart", Element::int32, true},
    {"d_count", Element::int32, true},
}};
static_assert(matches_kernel(cald_parameters, &cald_kernel));

Verdict check_pedigree(const Arguments& args, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) {
        if (Verdict problem = first_problem(check_parent_code(args, sire, i, n, "an animal number"),
                                            check_parent_code(args, dam, i, n, "an animal number"))) {
            return problem;
        }
    }
    return std::nullopt;
}

Verdict check_relationship_matrix(const Arguments& args, std::int32_t n) {
    for (std::int32_t r = 0; r < n; ++r) {
        if (Verdict problem = check_lower_csr_row(args, a_col, a_rowstart, a_val, r)) {
            return problem;
        }
    }
    const std::int32_t* rowstart = args.integers(a_rowstart);
    const std::int32_t* col = args.integers(a_col);
    for (std::int32_t k = rowstart[0]; k < rowstart[n]; ++k) {
        if (col[k] < 0 || col[k] >= n) {
            return args.value_error(args.element(a_col, k) + " must be an animal number below " + std::to_string(n));
        }
    }
    return std::nullopt;
}

// The stored off-diagonal elements whose two animals both have both parents:
// an upper bound on the elements that the kernel appends.
std::int64_t candidate_pairs(const Arguments& args, std::int32_t n) {
    const std::int32_t* s = args.integers(sire);
    const std::int32_t* d = args.integers(dam);
    const std::int32_t* rowstart = args.integers(a_rowstart);
    const std::int32_t* col = args.integers(a_col);
    std::int64_t count = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        if (!has_both_parents(s[i], d[i])) {
            continue;
        }
        for (std::int32_t k = rowstart[i]; k < rowstart[i + 1]; ++k) {
            count += col[k] != i && has_both_parents(s[col[k]], d[col[k]]);
        }
    }
    return count;
}

Verdict check_output_capacity(const Arguments& args, std::int32_t n) {
    const std::int32_t first = args.integers(d_count)[0];
    if (first < 0) {
        return args.value_error(args.element(d_count, 0) + " must not be negative");
    }
    const std::int64_t needed = first + candidate_pairs(args, n);
    if (needed > std::numeric_limits<std::int32_t>::max()) {
        return args.value_error(args.element(d_count, 0) + " plus " + std::to_string(needed - first) +
                                " candidate elements does not stay below 2^31");
    }
    return first_problem(args.require_length(d_val, needed), args.require_length(d_col, needed));
}

}  // namespace

Verdict check_cald_arguments(const std::array<BufferLayout, 10>& arguments) {
    Arguments args("cald", cald_parameters, arguments);
    if (Verdict problem = args.check_memory()) {
        return problem;
    }
    if (Verdict problem = first_problem(args.require_length(n_animals, 1), args.require_length(d_count, 1))) {
        return problem;
    }
    const std::int32_t n = args.integers(n_animals)[0];
    if (n <= 0) {
        return std::nullopt;
    }
    if (Verdict problem =
            first_problem(args.require_length(sire, n), args.require_length(dam, n),
                          args.require_length(a_rowstart, std::int64_t{n} + 1), args.require_length(d_rowstart, n))) {
        return problem;
    }
    if (Verdict problem = check_pedigree(args, n)) {
        return problem;
    }
    if (Verdict problem = check_relationship_matrix(args, n)) {
        return problem;
    }
    return check_output_capacity(args, n);
}

}  // namespace tolm
