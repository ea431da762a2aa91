#include "dijp.hpp"

#include <algorithm>

#include "dominance.hpp"
#include "lower_csr_lookup.hpp"

namespace tolm {

void dijp_kernel(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* n_pairs,
                 const std::int32_t* pair_i, const std::int32_t* pair_j, const std::int32_t* a_col,
                 const std::int32_t* a_rowstart, const double* a_val, double* d_pair) {
    const std::int32_t pairs = n_pairs[0];
    for (std::int32_t k = 0; k < pairs; ++k) {
        const std::int32_t x = pair_i[k];
        const std::int32_t sire_x = sire[x];
        const std::int32_t dam_x = dam[x];
        if (!has_both_parents(sire_x, dam_x)) {
            continue;
        }
        const std::int32_t y = pair_j[k];
        if (y == x) {
            continue;
        }
        const std::int32_t sire_y = sire[y];
        const std::int32_t dam_y = dam[y];
        if (!has_both_parents(sire_y, dam_y)) {
            continue;
        }
        const double v = dominance_relationship(a_col, a_rowstart, a_val, sire_x, dam_x, sire_y, dam_y);
        if (v != 0.0) {
            d_pair[k] = v;
        }
    }
}

namespace {

enum Dijp : std::size_t { sire, dam, n_pairs, pair_i, pair_j, a_col, a_rowstart, a_val, d_pair };

constexpr std::array<Parameter, 9> dijp_parameters{{
    {"sire", Element::int32, false},
    {"dam", Element::int32, false},
    {"n_pairs", Element::int32, false},
    {"pair_i", Element::int32, false},
    {"pair_j", Element::int32, false},
    {"a_col", Element::int32, false},
    {"a_rowstart", Element::int32, false},
    {"a_val", Element::float64, false},
    {"d_pair", Element::float64, true},
}};
static_assert(matches_kernel(dijp_parameters, &dijp_kernel));

Verdict check_animal(const Arguments& args, std::size_t pair, std::int32_t k) {
    const std::int32_t animal = args.integers(pair)[k];
    if (animal >= 0 && animal < args.length(sire)) {
        return std::nullopt;
    }
    return args.value_error(args.element(pair, k) + " must be an animal number below " +
                            std::to_string(args.length(sire)) + " (the length of sire)");
}

// The parents of one animal of a pair are rows of the matrix.
Verdict check_parents_of(const Arguments& args, std::int32_t animal, std::int64_t rows) {
    const std::string limit_is = "a row of the relationship matrix,";
    return first_problem(check_parent_code(args, sire, animal, rows, limit_is),
                         check_parent_code(args, dam, animal, rows, limit_is));
}

// The four rows that the lookups of pair (x, y) read.
Verdict check_rows_read(const Arguments& args, std::int32_t x, std::int32_t y) {
    const std::int32_t* s = args.integers(sire);
    const std::int32_t* d = args.integers(dam);
    const auto row = [](std::int32_t u, std::int32_t v) { return u > v ? u : v; };
    for (const std::int32_t r : {row(s[x], d[y]), row(s[x], s[y]), row(d[x], s[y]), row(d[x], d[y])}) {
        if (Verdict problem = check_lower_csr_row(args, a_col, a_rowstart, a_val, r)) {
            return problem;
        }
    }
    return std::nullopt;
}

Verdict check_pair(const Arguments& args, std::int32_t k, std::int64_t rows) {
    if (Verdict problem = first_problem(check_animal(args, pair_i, k), check_animal(args, pair_j, k))) {
        return problem;
    }
    const std::int32_t x = args.integers(pair_i)[k];
    const std::int32_t y = args.integers(pair_j)[k];
    if (Verdict problem = first_problem(check_parents_of(args, x, rows), check_parents_of(args, y, rows))) {
        return problem;
    }
    const std::int32_t* s = args.integers(sire);
    const std::int32_t* d = args.integers(dam);
    if (x == y || !has_both_parents(s[x], d[x]) || !has_both_parents(s[y], d[y])) {
        return std::nullopt;
    }
    return check_rows_read(args, x, y);
}

}  // namespace

Verdict check_dijp_arguments(const std::array<BufferLayout, 9>& arguments) {
    Arguments args("dijp", dijp_parameters, arguments);
    if (Verdict problem = args.check_memory()) {
        return problem;
    }
    if (Verdict problem = args.require_length(n_pairs, 1)) {
        return problem;
    }
    const std::int32_t pairs = args.integers(n_pairs)[0];
    if (pairs <= 0) {
        return std::nullopt;
    }
    if (Verdict problem = first_problem(
            args.require_length(dam, args.length(sire)), args.require_length(pair_i, pairs),
            args.require_length(pair_j, pairs), args.require_length(d_pair, pairs))) {
        return problem;
    }
    const std::int64_t rows = std::max<std::int64_t>(args.length(a_rowstart) - 1, 0);
    for (std::int32_t k = 0; k < pairs; ++k) {
        if (Verdict problem = check_pair(args, k, rows)) {
            return problem;
        }
    }
    return std::nullopt;
}

}  // namespace tolm
