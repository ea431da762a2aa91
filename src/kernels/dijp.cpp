#include "dijp.hpp"

#include <algorithm>

#include "dominance.hpp"
#include "lower_csr_lookup.hpp"

namespace tolm {

namespace {

// Benchmark builds may switch off a mechanism of the kernel or its check to
// measure what it brings (TOLM_PLAIN_DIJP_*); the module keeps both.
#ifdef TOLM_PLAIN_DIJP_BATCH
constexpr bool batch_pairs = false;
#else
constexpr bool batch_pairs = true;
#endif
#ifdef TOLM_PLAIN_DIJP_CHECK
constexpr bool test_sound_pairs_first = false;
#else
constexpr bool test_sound_pairs_first = true;
#endif

// A result that compares equal to zero leaves the caller's value.
void store_nonzero(double v, double* d_pair) {
    if (v != 0.0) {
        *d_pair = v;
    }
}

// The lookups of several pairs made together: their 16 searches step in
// lockstep, so that as many reads of the matrix are in flight at once. A
// pair's result is written when its batch is complete, or at the end.
class PairBatch {
public:
    PairBatch(const std::int32_t* a_col, const std::int32_t* a_rowstart, const double* a_val, double* d_pair)
        : a_col_(a_col), a_rowstart_(a_rowstart), a_val_(a_val), d_pair_(d_pair) {}

    void add(std::int32_t k, std::int32_t sire_x, std::int32_t dam_x, std::int32_t sire_y, std::int32_t dam_y) {
        pair_[filled_] = k;
        const std::size_t lane = 4 * filled_;
        x_[lane] = sire_x, y_[lane] = dam_y;
        x_[lane + 1] = sire_x, y_[lane + 1] = sire_y;
        x_[lane + 2] = dam_x, y_[lane + 2] = sire_y;
        x_[lane + 3] = dam_x, y_[lane + 3] = dam_y;
        if (++filled_ == pairs) {
            flush();
        }
    }

    // The lanes of pairs not added repeat the first pair; nothing is written for them.
    void flush() {
        if (filled_ == 0) {
            return;
        }
        for (std::size_t lane = 4 * filled_; lane < 4 * pairs; ++lane) {
            x_[lane] = x_[lane % 4];
            y_[lane] = y_[lane % 4];
        }
        const auto a = lower_csr_lookups<4 * pairs>(a_rowstart_, a_col_, a_val_, x_, y_);
        for (std::size_t b = 0; b < filled_; ++b) {
            store_nonzero(dominance_relationship(a[4 * b], a[4 * b + 1], a[4 * b + 2], a[4 * b + 3]),
                          d_pair_ + pair_[b]);
        }
        filled_ = 0;
    }

private:
    static constexpr std::size_t pairs = 4;

    const std::int32_t* a_col_;
    const std::int32_t* a_rowstart_;
    const double* a_val_;
    double* d_pair_;
    std::array<std::int32_t, pairs> pair_{};
    std::array<std::int32_t, 4 * pairs> x_{}, y_{};
    std::size_t filled_ = 0;
};

}  // namespace

void dijp_kernel(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* n_pairs,
                 const std::int32_t* pair_i, const std::int32_t* pair_j, const std::int32_t* a_col,
                 const std::int32_t* a_rowstart, const double* a_val, double* d_pair) {
    const std::int32_t pairs = n_pairs[0];
    PairBatch batch(a_col, a_rowstart, a_val, d_pair);
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
        if constexpr (batch_pairs) {
            batch.add(k, sire_x, dam_x, sire_y, dam_y);
        } else {
            const auto a = [&](std::int32_t u, std::int32_t v) {
                return lower_csr_lookup(a_rowstart, a_col, a_val, u, v);
            };
            store_nonzero(
                dominance_relationship(a(sire_x, dam_y), a(sire_x, sire_y), a(dam_x, sire_y), a(dam_x, dam_y)),
                d_pair + k);
        }
    }
    batch.flush();
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

bool is_animal(const Arguments& args, std::int32_t animal) { return animal >= 0 && animal < args.length(sire); }

Verdict check_animal(const Arguments& args, std::size_t pair, std::int32_t k) {
    const std::int32_t animal = args.integers(pair)[k];
    if (is_animal(args, animal)) {
        return std::nullopt;
    }
    return args.value_error(args.element(pair, k) + " must be an animal number below " +
                            std::to_string(args.length(sire)) + " (the length of sire)");
}

// The parents of one animal of a pair are rows of the matrix.
Verdict check_parents_of(const Arguments& args, std::int32_t animal, std::int64_t rows) {
    const char* limit_is = "a row of the relationship matrix,";
    return first_problem(check_parent_code(args, sire, animal, rows, limit_is),
                         check_parent_code(args, dam, animal, rows, limit_is));
}

// The four rows that the lookups of pair (x, y) read.
std::array<std::int32_t, 4> rows_read(const Arguments& args, std::int32_t x, std::int32_t y) {
    const std::int32_t* s = args.integers(sire);
    const std::int32_t* d = args.integers(dam);
    const auto row = [](std::int32_t u, std::int32_t v) { return u > v ? u : v; };
    return {row(s[x], d[y]), row(s[x], s[y]), row(d[x], s[y]), row(d[x], d[y])};
}

Verdict check_rows_read(const Arguments& args, std::int32_t x, std::int32_t y) {
    for (const std::int32_t r : rows_read(args, x, y)) {
        if (Verdict problem = check_lower_csr_row(args, a_col, a_rowstart, a_val, r)) {
            return problem;
        }
    }
    return std::nullopt;
}

// The rules of the checks below as one test that builds no message, for the
// common case of a sound pair; a pair that fails it is checked again by them,
// which describe the problem.
bool pair_is_sound(const Arguments& args, std::int32_t k, std::int64_t rows) {
    const std::int32_t x = args.integers(pair_i)[k];
    const std::int32_t y = args.integers(pair_j)[k];
    if (!is_animal(args, x) || !is_animal(args, y)) {
        return false;
    }
    const std::int32_t* s = args.integers(sire);
    const std::int32_t* d = args.integers(dam);
    if (!is_parent_code(s[x], rows) || !is_parent_code(d[x], rows) || !is_parent_code(s[y], rows) ||
        !is_parent_code(d[y], rows)) {
        return false;
    }
    if (x == y || !has_both_parents(s[x], d[x]) || !has_both_parents(s[y], d[y])) {
        return true;
    }
    const std::int32_t* rowstart = args.integers(a_rowstart);
    const std::int64_t stored = std::min(args.length(a_col), args.length(a_val));
    const auto within = [&](std::int32_t r) { return lower_csr_row_within(rowstart, r, stored); };
    const auto read = rows_read(args, x, y);
    return std::all_of(read.begin(), read.end(), within);
}

Verdict check_pair(const Arguments& args, std::int32_t k, std::int64_t rows) {
    if (test_sound_pairs_first && pair_is_sound(args, k, rows)) {
        return std::nullopt;
    }
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
    if (Verdict problem = first_problem(args.require_length(dam, args.length(sire)), args.require_length(pair_i, pairs),
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
