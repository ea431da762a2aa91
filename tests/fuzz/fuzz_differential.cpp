// The kernels against the literal transcriptions, on inputs that meet the
// contract: pedigrees in both codings and relationship matrices in and out of
// the usual form (stored zeros, NaN, upper and repeated columns, unsorted
// rows, empty rows, row starts after 0); and the companion's passes a
// generation at a time, on one to three threads, against fcoeff_kernel. Any
// difference of a bit aborts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "arguments.hpp"
#include "cald.hpp"
#include "dijp.hpp"
#include "dominance.hpp"
#include "fcoeff.hpp"
#include "fuzz_source.hpp"
#include "inbreeding.hpp"
#include "layers.hpp"
#include "literal.hpp"

namespace {

using tolm::fuzzing::FuzzSource;
using Codes = std::vector<std::int32_t>;
using Reals = std::vector<double>;

// Equal bits, except that any NaN equals any NaN: which operand's NaN a sum
// or product passes on depends on the order in which the compiler puts its
// operands, which C++ leaves free, so sign and payload are not results.
bool same(double kernel, double literal) {
    return std::memcmp(&kernel, &literal, sizeof kernel) == 0 || (std::isnan(kernel) && std::isnan(literal));
}

bool same(std::int32_t kernel, std::int32_t literal) { return kernel == literal; }

template <typename T>
void require_same(const std::vector<T>& kernel, const std::vector<T>& literal) {
    if (kernel.size() != literal.size() ||
        !std::equal(kernel.begin(), kernel.end(), literal.begin(), [](T a, T b) { return same(a, b); })) {
        std::abort();
    }
}

void require_accepted(const tolm::Verdict& verdict) {
    if (verdict) {
        std::abort();
    }
}

template <typename T>
tolm::BufferLayout layout_of(const std::vector<T>& values) {
    const auto size = static_cast<std::ptrdiff_t>(sizeof(T));
    return {values.data(), sizeof(T) == 8 ? "d" : "i", size, {static_cast<std::ptrdiff_t>(values.size())}, {size}};
}

Codes one(std::int32_t value) { return Codes{value}; }

// The companion's coefficients of a pedigree in fcoeff's coding, on one to
// three threads taking a few animals at a time, against the kernel's.
void same_by_layers(FuzzSource& in, Codes sire, Codes dam, const Reals& f, const Reals& var) {
    const tolmkit::testing::Layers p = tolmkit::testing::layered(std::move(sire), std::move(dam));
    if (!tolmkit::layering_problem(p.view()).empty()) {
        std::abort();
    }
    Reals f_layers(f.size(), 0.0), var_layers(var.size());
    f_layers.back() = -1.0;
    const auto threads = static_cast<int>(1 + in.below(3));
    const auto batch = static_cast<std::int32_t>(1 + in.below(8));
    tolmkit::Pacer pace;
    tolmkit::inbreeding_by_layers(p.view(), threads, f_layers.data(), var_layers.data(), pace, batch);
    require_same(f_layers, f);
    require_same(var_layers, var);
}

// fcoeff's coding: unknown is n; in mode 1 known parents come first.
void fcoeff_case(FuzzSource& in) {
    const auto n = static_cast<std::int32_t>(in.below(48));
    static constexpr std::int32_t modes[] = {1, 1, 1, 0, 2, -1};
    const Codes mode = one(modes[in.below(6)]);
    const auto parent = [&](std::int32_t i) {
        if (mode[0] != 1) {
            return static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(n) + 1));
        }
        return i == 0 || in.chance(5) ? n : static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(i)));
    };
    Codes sire(static_cast<std::size_t>(n)), dam(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        sire[at] = parent(i);
        dam[at] = in.chance(6) ? sire[at] : parent(i);
    }
    Reals f(static_cast<std::size_t>(n) + 1), var(static_cast<std::size_t>(n));
    for (double& x : f) {
        x = in.real();
    }
    // Mostly the coefficient of an unknown parent; sometimes any value, which
    // can make variances infinite or NaN.
    f.back() = in.chance(4) ? in.real() : -1.0;
    for (double& x : var) {
        x = in.real();
    }
    Reals f_literal = f, var_literal = var;
    const Codes count = one(n);
    require_accepted(tolm::check_fcoeff_arguments(
        {layout_of(sire), layout_of(dam), layout_of(f), layout_of(var), layout_of(count), layout_of(mode)}));
    tolm::fcoeff_kernel(sire.data(), dam.data(), f.data(), var.data(), count.data(), mode.data());
    if (literal_fcoeff(sire.data(), dam.data(), f_literal.data(), var_literal.data(), count.data(), mode.data()) != 0) {
        std::abort();
    }
    require_same(f, f_literal);
    require_same(var, var_literal);
    if (mode[0] == 1 && f.back() == -1.0) {
        same_by_layers(in, std::move(sire), std::move(dam), f, var);
    }
}

// The dominance routines' coding: unknown is MISSING_PARENT, parents in any order.
struct Pedigree {
    Codes sire, dam;
};

Pedigree dominance_pedigree(FuzzSource& in, std::int32_t n) {
    Pedigree p{Codes(static_cast<std::size_t>(n)), Codes(static_cast<std::size_t>(n))};
    for (Codes* parents : {&p.sire, &p.dam}) {
        for (std::int32_t& code : *parents) {
            code = in.chance(4) ? tolm::MISSING_PARENT
                                : static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(n)));
        }
    }
    return p;
}

struct Matrix {
    Codes rowstart, col;
    Reals val;
};

// Rows of random length over the animal numbers, sorted ascending or not,
// after a prefix of elements that no row owns.
Matrix odd_matrix(FuzzSource& in, std::int32_t rows) {
    Matrix m;
    const auto prefix = static_cast<std::int32_t>(in.below(3));
    m.rowstart.push_back(prefix);
    m.col.assign(static_cast<std::size_t>(prefix), -7);
    m.val.assign(static_cast<std::size_t>(prefix), 9.0);
    const bool sorted = !in.chance(4);
    for (std::int32_t r = 0; r < rows; ++r) {
        const std::uint32_t length = in.below(7);
        std::int32_t column = -1;
        for (std::uint32_t e = 0; e < length; ++e) {
            column = sorted ? column + 1 + static_cast<std::int32_t>(in.below(3))
                            : static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(rows)));
            m.col.push_back(column % rows);
            m.val.push_back(in.real());
        }
        if (sorted && in.chance(2)) {
            m.col.push_back(r);
            m.val.push_back(in.real());
        }
        m.rowstart.push_back(static_cast<std::int32_t>(m.col.size()));
    }
    return m;
}

void cald_case(FuzzSource& in) {
    const auto n = static_cast<std::int32_t>(1 + in.below(32));
    const Pedigree p = dominance_pedigree(in, n);
    const Matrix m = odd_matrix(in, n);
    const Codes count = one(n);
    const auto first = static_cast<std::int32_t>(in.below(4));
    const std::size_t capacity = static_cast<std::size_t>(first) + m.col.size() + in.below(3);
    Reals d_val(capacity, -5.0);
    Codes d_col(capacity, -5), d_rowstart(static_cast<std::size_t>(n), -5), d_count = one(first);
    Reals d_val_literal = d_val;
    Codes d_col_literal = d_col, d_rowstart_literal = d_rowstart, d_count_literal = d_count;
    require_accepted(tolm::check_cald_arguments(
        {layout_of(p.sire), layout_of(p.dam), layout_of(m.col), layout_of(m.rowstart), layout_of(m.val),
         layout_of(count), layout_of(d_val), layout_of(d_col), layout_of(d_rowstart), layout_of(d_count)}));
    tolm::cald_kernel(p.sire.data(), p.dam.data(), m.col.data(), m.rowstart.data(), m.val.data(), count.data(),
                      d_val.data(), d_col.data(), d_rowstart.data(), d_count.data());
    literal_cald(p.sire.data(), p.dam.data(), m.col.data(), m.rowstart.data(), m.val.data(), count.data(),
                 d_val_literal.data(), d_col_literal.data(), d_rowstart_literal.data(), d_count_literal.data());
    require_same(d_val, d_val_literal);
    require_same(d_col, d_col_literal);
    require_same(d_rowstart, d_rowstart_literal);
    require_same(d_count, d_count_literal);
}

void dijp_case(FuzzSource& in) {
    const auto n = static_cast<std::int32_t>(1 + in.below(32));
    const Pedigree p = dominance_pedigree(in, n);
    const Matrix m = odd_matrix(in, n);
    const auto pairs = static_cast<std::int32_t>(in.below(40));
    Codes pair_i(static_cast<std::size_t>(pairs)), pair_j(static_cast<std::size_t>(pairs));
    for (std::size_t k = 0; k < pair_i.size(); ++k) {
        pair_i[k] = static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(n)));
        pair_j[k] = in.chance(8) ? pair_i[k] : static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(n)));
    }
    Reals d_pair(static_cast<std::size_t>(pairs) + in.below(2));
    for (double& x : d_pair) {
        x = in.real();
    }
    Reals d_pair_literal = d_pair;
    const Codes n_pairs = one(pairs);
    require_accepted(tolm::check_dijp_arguments({layout_of(p.sire), layout_of(p.dam), layout_of(n_pairs),
                                                 layout_of(pair_i), layout_of(pair_j), layout_of(m.col),
                                                 layout_of(m.rowstart), layout_of(m.val), layout_of(d_pair)}));
    tolm::dijp_kernel(p.sire.data(), p.dam.data(), n_pairs.data(), pair_i.data(), pair_j.data(), m.col.data(),
                      m.rowstart.data(), m.val.data(), d_pair.data());
    literal_dijp(p.sire.data(), p.dam.data(), n_pairs.data(), pair_i.data(), pair_j.data(), m.col.data(),
                 m.rowstart.data(), m.val.data(), d_pair_literal.data());
    require_same(d_pair, d_pair_literal);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzSource in(data, size);
    switch (in.below(3)) {
        case 0:
            fcoeff_case(in);
            break;
        case 1:
            cald_case(in);
            break;
        default:
            dijp_case(in);
    }
    return 0;
}
