// The kernels against the literal transcriptions of the specified algorithms:
// the same bits on random inputs of the shapes where a faster method could
// go wrong (reciprocal crosses, parents repeated far apart, selfing, deep and
// wide pedigrees, dominance lookups in rows of one element).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "cald.hpp"
#include "dijp.hpp"
#include "dominance.hpp"
#include "fcoeff.hpp"
#include "helpers.hpp"
#include "literal.hpp"
#include "lower_csr_lookup.hpp"

using tolm::testing_support::same_bits;

namespace {

using Codes = std::vector<std::int32_t>;
using Reals = std::vector<double>;

struct Shape {
    const char* name;
    std::int32_t animals;
    std::int32_t window;  // parents drawn from the animals this far back
    double unknown;
    double selfing;
    double repeat_pair;       // the parents of a random earlier animal, maybe swapped
    std::int32_t cohort = 1;  // parents come before the animal's cohort of this many
    double unknown_coefficient = -1.0;
};

// Parents before offspring, coded n when unknown.
struct Pedigree {
    Codes sire, dam;
};

Pedigree random_pedigree(const Shape& shape, std::mt19937& rng) {
    const std::int32_t n = shape.animals;
    Pedigree p{Codes(static_cast<std::size_t>(n)), Codes(static_cast<std::size_t>(n))};
    std::uniform_real_distribution<double> roll(0.0, 1.0);
    for (std::int32_t i = 0; i < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const std::int32_t before = i - i % shape.cohort;
        const std::int32_t low = before > shape.window ? before - shape.window : 0;
        const auto parent = [&] {
            if (before == 0 || roll(rng) < shape.unknown) {
                return n;
            }
            return low + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(before - low));
        };
        if (before > 0 && roll(rng) < shape.repeat_pair) {
            const auto earlier = static_cast<std::size_t>(rng() % static_cast<std::uint32_t>(before));
            const bool swap = rng() % 2 == 0;
            p.sire[at] = swap ? p.dam[earlier] : p.sire[earlier];
            p.dam[at] = swap ? p.sire[earlier] : p.dam[earlier];
            continue;
        }
        p.sire[at] = parent();
        p.dam[at] = roll(rng) < shape.selfing ? p.sire[at] : parent();
    }
    return p;
}

class FcoeffAgainstLiteral : public testing::TestWithParam<Shape> {};

TEST_P(FcoeffAgainstLiteral, SameBitsInBothModes) {
    std::mt19937 rng(4242);
    for (int trial = 0; trial < 20; ++trial) {
        const Pedigree p = random_pedigree(GetParam(), rng);
        const std::int32_t n = GetParam().animals;
        for (const std::int32_t mode : {1, 0}) {
            Reals f(static_cast<std::size_t>(n) + 1, 0.0);
            for (double& x : f) {
                x = mode == 1 ? 7.0 : static_cast<double>(rng() % 100) / 128.0;
            }
            f.back() = GetParam().unknown_coefficient;
            Reals f_literal = f, var(static_cast<std::size_t>(n), 3.0), var_literal = var;
            tolm::fcoeff_kernel(p.sire.data(), p.dam.data(), f.data(), var.data(), &n, &mode);
            ASSERT_EQ(literal_fcoeff(p.sire.data(), p.dam.data(), f_literal.data(), var_literal.data(), &n, &mode), 0);
            ASSERT_TRUE(same_bits(f, f_literal)) << "trial " << trial << ", mode " << mode;
            ASSERT_TRUE(same_bits(var, var_literal)) << "trial " << trial << ", mode " << mode;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, FcoeffAgainstLiteral,
                         testing::Values(Shape{"small", 12, 12, 0.3, 0.1, 0.2}, Shape{"wide", 400, 400, 0.1, 0.0, 0.05},
                                         Shape{"deep", 400, 8, 0.02, 0.0, 0.0},
                                         Shape{"reciprocal_and_repeated", 300, 40, 0.05, 0.05, 0.5},
                                         Shape{"selfing_lines", 200, 3, 0.0, 0.6, 0.1},
                                         Shape{"across_words", 3000, 2500, 0.05, 0.01, 0.02},
                                         // Passes of several animals: sibs within a cohort, the
                                         // parents of earlier cohorts repeated, and a coefficient of
                                         // an unknown parent that makes variances infinite, where
                                         // one animal's pass must not add another's zero times it.
                                         Shape{"cohorts", 600, 300, 0.05, 0.02, 0.3, 40},
                                         Shape{"cohorts_of_sibs", 500, 10, 0.0, 0.3, 0.5, 25},
                                         Shape{"infinite_variances", 300, 100, 0.4, 0.02, 0.1, 20, -HUGE_VAL}),
                         [](const testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

// A herd of founders but for the animals bred (animal, sire, dam), in both
// modes against the literal pass.
void expect_herd_matches_literal(std::int32_t n, const std::vector<std::array<std::int32_t, 3>>& bred) {
    Codes sire(static_cast<std::size_t>(n), n), dam(static_cast<std::size_t>(n), n);
    for (const auto& [animal, s, d] : bred) {
        sire[static_cast<std::size_t>(animal)] = s;
        dam[static_cast<std::size_t>(animal)] = d;
    }
    for (const std::int32_t mode : {1, 0}) {
        Reals f(static_cast<std::size_t>(n) + 1, 0.0);
        f.back() = -1.0;
        Reals f_literal = f, var(static_cast<std::size_t>(n)), var_literal = var;
        tolm::fcoeff_kernel(sire.data(), dam.data(), f.data(), var.data(), &n, &mode);
        ASSERT_EQ(literal_fcoeff(sire.data(), dam.data(), f_literal.data(), var_literal.data(), &n, &mode), 0);
        EXPECT_TRUE(same_bits(f, f_literal)) << "mode " << mode;
        EXPECT_TRUE(same_bits(var, var_literal)) << "mode " << mode;
    }
}

// Ancestors in different blocks of 2^12 and groups of 2^18 numbers, and at
// the edges of both.
TEST(FcoeffAgainstLiteral, AncestorsFarApartInALargeHerd) {
    expect_herd_matches_literal(600000, {{4095, 0, 63},
                                         {4096, 64, 4095},
                                         {262143, 4096, 4095},
                                         {262144, 262143, 1},
                                         {262145, 262144, 262143},
                                         {524288, 262145, 4096},
                                         {524289, 4096, 262145},  // the reciprocal cross
                                         {599999, 524289, 524288}});
}

// Ancestors at both ends of the numbers and on both sides of a word of the
// top level of the ancestor set (64 groups of 2^18 animals).
TEST(FcoeffAgainstLiteral, AncestorsAtTheHighestNumbers) {
    constexpr std::int32_t top = 1 << 24, n = top + (1 << 18) + 8;
    expect_herd_matches_literal(n, {{top - 1, 0, 1},
                                    {top, top - 1, 0},
                                    {top + 1, top, top - 1},
                                    {n - 3, top + 1, top},
                                    {n - 2, top + 1, n - 3},
                                    {n - 1, n - 2, n - 3}});
}

// Passes with more ancestors than eight lanes keep in a core's cache, and the
// narrower passes after them: eight disjoint trees of 2,047 animals, then a
// cohort of their roots crossed with each other and with one of their own
// parents, then one of matings among those.
TEST(FcoeffAgainstLiteral, PassesOfManyAncestors) {
    std::vector<std::array<std::int32_t, 3>> bred;
    std::int32_t level = 0, next = 8 << 10;
    for (std::int32_t size = 4 << 10; size >= 8; size /= 2) {
        for (std::int32_t j = 0; j < size; ++j) {
            bred.push_back({next + j, level + 2 * j, level + 2 * j + 1});
        }
        level = next;
        next += size;
    }
    const std::int32_t roots = level, crosses = next;
    for (std::int32_t k = 0; k < 23; ++k) {
        const std::int32_t mate = k < 16 ? roots + (k + 1 + k / 8) % 8 : roots - 16 + 2 * (k % 8);
        bred.push_back({crosses + k, roots + k % 8, mate});
    }
    for (std::int32_t k = 0; k < 9; ++k) {
        bred.push_back({crosses + 23 + k, crosses + k, crosses + 8 + (k * 5) % 15});
    }
    expect_herd_matches_literal(crosses + 32, bred);
}

// The lower triangle of the relationship matrix by the tabular method, with
// a random share of its elements left out (but every diagonal) and, when
// asked, only the diagonal in some rows.
struct Matrix {
    Codes rowstart, col;
    Reals val;
};

Matrix relationship_matrix(const Codes& sire, const Codes& dam, double keep, std::mt19937& rng) {
    const std::size_t n = sire.size();
    std::vector<Reals> a(n, Reals(n, 0.0));
    const auto at = [](std::int32_t x) { return static_cast<std::size_t>(x); };
    for (std::size_t i = 0; i < n; ++i) {
        const bool s = sire[i] != tolm::MISSING_PARENT, d = dam[i] != tolm::MISSING_PARENT;
        for (std::size_t j = 0; j < i; ++j) {
            a[i][j] = a[j][i] = 0.5 * ((s ? a[at(sire[i])][j] : 0.0) + (d ? a[at(dam[i])][j] : 0.0));
        }
        a[i][i] = 1.0 + (s && d ? 0.5 * a[at(sire[i])][at(dam[i])] : 0.0);
    }
    Matrix m;
    std::uniform_real_distribution<double> roll(0.0, 1.0);
    for (std::size_t r = 0; r < n; ++r) {
        m.rowstart.push_back(static_cast<std::int32_t>(m.col.size()));
        const bool diagonal_only = roll(rng) < 0.1;
        for (std::size_t c = 0; c <= r; ++c) {
            if (c == r || (!diagonal_only && a[r][c] != 0.0 && roll(rng) < keep)) {
                m.col.push_back(static_cast<std::int32_t>(c));
                m.val.push_back(a[r][c]);
            }
        }
    }
    m.rowstart.push_back(static_cast<std::int32_t>(m.col.size()));
    return m;
}

Pedigree dominance_pedigree(std::int32_t n, std::mt19937& rng) {
    Pedigree p = random_pedigree(Shape{"", n, n, 0.15, 0.05, 0.2}, rng);
    for (Codes* parents : {&p.sire, &p.dam}) {
        for (std::int32_t& code : *parents) {
            code = code == n ? tolm::MISSING_PARENT : code;
        }
    }
    return p;
}

// cald and the literal transcription on the same pedigree and matrix, with
// outputs pre-filled alike and `first` elements already stored: the same
// count, values, columns and row starts.
void expect_cald_matches_literal(const Pedigree& p, const Matrix& m, std::int32_t first, int trial) {
    const auto n = static_cast<std::int32_t>(p.sire.size());
    const std::size_t capacity = m.col.size() + static_cast<std::size_t>(first) + 2;
    Reals val(capacity, -5.0), val_literal = val;
    Codes col(capacity, -5), col_literal = col, start(static_cast<std::size_t>(n), -5), start_literal = start;
    std::int32_t count = first, count_literal = first;
    tolm::cald_kernel(p.sire.data(), p.dam.data(), m.col.data(), m.rowstart.data(), m.val.data(), &n, val.data(),
                      col.data(), start.data(), &count);
    literal_cald(p.sire.data(), p.dam.data(), m.col.data(), m.rowstart.data(), m.val.data(), &n, val_literal.data(),
                 col_literal.data(), start_literal.data(), &count_literal);
    ASSERT_EQ(count, count_literal) << "trial " << trial;
    ASSERT_TRUE(same_bits(val, val_literal)) << "trial " << trial;
    ASSERT_EQ(col, col_literal) << "trial " << trial;
    ASSERT_EQ(start, start_literal) << "trial " << trial;
}

TEST(DominanceAgainstLiteral, CaldSameBitsAndPattern) {
    std::mt19937 rng(777);
    for (int trial = 0; trial < 30; ++trial) {
        const auto n = static_cast<std::int32_t>(2 + rng() % 120);
        const Pedigree p = dominance_pedigree(n, rng);
        const Matrix m = relationship_matrix(p.sire, p.dam, trial % 2 ? 1.0 : 0.7, rng);
        expect_cald_matches_literal(p, m, 3, trial);
    }
}

TEST(DominanceAgainstLiteral, DijpSameBitsOnEveryPair) {
    std::mt19937 rng(778);
    for (int trial = 0; trial < 30; ++trial) {
        const auto n = static_cast<std::int32_t>(2 + rng() % 80);
        const Pedigree p = dominance_pedigree(n, rng);
        const Matrix m = relationship_matrix(p.sire, p.dam, trial % 2 ? 1.0 : 0.7, rng);
        Codes pair_i, pair_j;
        for (std::int32_t x = 0; x < n; ++x) {
            for (std::int32_t y = 0; y < n; ++y) {
                pair_i.push_back(x);
                pair_j.push_back(y);
            }
        }
        const auto pairs = static_cast<std::int32_t>(pair_i.size());
        Reals d(pair_i.size(), -5.0), d_literal = d;
        tolm::dijp_kernel(p.sire.data(), p.dam.data(), &pairs, pair_i.data(), pair_j.data(), m.col.data(),
                          m.rowstart.data(), m.val.data(), d.data());
        literal_dijp(p.sire.data(), p.dam.data(), &pairs, pair_i.data(), pair_j.data(), m.col.data(), m.rowstart.data(),
                     m.val.data(), d_literal.data());
        ASSERT_TRUE(same_bits(d, d_literal)) << "trial " << trial;
    }
}

// A matrix of n rows, row r holding the columns that row_columns(r) gives,
// each with a random value, after up to two elements that no row owns.
template <typename Columns>
Matrix matrix_of_rows(std::int32_t n, std::mt19937& rng, Columns&& row_columns) {
    Matrix m;
    m.rowstart.push_back(static_cast<std::int32_t>(rng() % 3));
    m.col.assign(static_cast<std::size_t>(m.rowstart[0]), 0);
    m.val.assign(m.col.size(), 0.0);
    for (std::int32_t r = 0; r < n; ++r) {
        for (const std::int32_t c : row_columns(r)) {
            m.col.push_back(c);
            m.val.push_back(static_cast<double>(rng() % 1000));
        }
        m.rowstart.push_back(static_cast<std::int32_t>(m.col.size()));
    }
    return m;
}

// Rows in and out of the format: empty, unsorted, repeated and upper
// columns. The batched lookups make the probes of the specified search, so
// they agree with it on every row, and never read outside it (sanitized build).
TEST(LookupsAgainstLiteral, SameElementOnAnyRow) {
    std::mt19937 rng(91);
    for (int trial = 0; trial < 200; ++trial) {
        const auto n = static_cast<std::int32_t>(1 + rng() % 12);
        const Matrix m = matrix_of_rows(n, rng, [&](std::int32_t) {
            Codes columns(rng() % 5 == 0 ? 0 : rng() % 8);
            for (std::int32_t& c : columns) {
                c = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n + 2));
            }
            if (trial % 2 == 0) {
                std::sort(columns.begin(), columns.end());
            }
            return columns;
        });
        const auto lookup = [&m](std::int32_t x, std::int32_t y) {
            return literal_lookup(m.rowstart.data(), m.col.data(), m.val.data(), x, y);
        };
        for (std::int32_t x = 0; x < n; ++x) {
            for (std::int32_t y = 0; y < n; ++y) {
                const auto z = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n));
                const auto found = tolm::lower_csr_lookups<4>(m.rowstart.data(), m.col.data(), m.val.data(),
                                                              {x, y, z, x}, {y, z, x, x});
                const double expected[] = {lookup(x, y), lookup(y, z), lookup(z, x), lookup(x, x)};
                for (std::size_t k = 0; k < 4; ++k) {
                    ASSERT_EQ(found[k], expected[k]) << "trial " << trial << ", lane " << k;
                }
            }
        }
    }
}

// Rows whose searched columns ascend, with repeats, gaps, upper columns,
// and rows of no element or one.
TEST(LookupsAgainstLiteral, SortedRowsGiveTheSameElementByGalloping) {
    std::mt19937 rng(92);
    for (int trial = 0; trial < 300; ++trial) {
        const auto n = static_cast<std::int32_t>(1 + rng() % 40);
        const Matrix m = matrix_of_rows(n, rng, [&](std::int32_t r) {
            Codes columns(rng() % 4 == 0 ? rng() % 2 : rng() % static_cast<std::uint32_t>(r + 3));
            std::int32_t column = 0;
            for (std::int32_t& c : columns) {
                column += static_cast<std::int32_t>(rng() % 3);
                c = column;
            }
            if (!columns.empty() && rng() % 3 == 0) {
                columns.back() = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n + 1));
            }
            return columns;
        });
        ASSERT_TRUE(tolm::lower_csr_rows_sorted(m.rowstart.data(), m.col.data(), n));
        for (std::int32_t x = 0; x < n; ++x) {
            for (std::int32_t y = 0; y < n; ++y) {
                ASSERT_EQ(tolm::sorted_lower_csr_lookup(m.rowstart.data(), m.col.data(), m.val.data(), x, y),
                          literal_lookup(m.rowstart.data(), m.col.data(), m.val.data(), x, y))
                    << "trial " << trial << ", element (" << x << ", " << y << ")";
            }
        }
    }
}

TEST(LookupsAgainstLiteral, RowsAreSortedWhenTheirSearchedColumnsAscend) {
    const Codes rowstart{0, 0, 1, 4, 7, 10};
    Codes col{5, 1, 1, 0, 0, 2, 1, 0, 1, 2};
    EXPECT_TRUE(tolm::lower_csr_rows_sorted(rowstart.data(), col.data(), 5))
        << "only the last column of a row is out of order";
    col[7] = 3;
    EXPECT_FALSE(tolm::lower_csr_rows_sorted(rowstart.data(), col.data(), 5));
    EXPECT_TRUE(tolm::lower_csr_rows_sorted(rowstart.data(), col.data(), 4)) << "the unsorted row is not counted";
}

// The relationship matrix with the columns of some rows shuffled: cald reads
// them as the specified search does.
TEST(DominanceAgainstLiteral, CaldOnUnsortedRows) {
    std::mt19937 rng(779);
    for (int trial = 0; trial < 20; ++trial) {
        const auto n = static_cast<std::int32_t>(2 + rng() % 60);
        const Pedigree p = dominance_pedigree(n, rng);
        Matrix m = relationship_matrix(p.sire, p.dam, 1.0, rng);
        for (std::int32_t r = 0; r < n; r += 3) {
            const auto row = static_cast<std::size_t>(m.rowstart[static_cast<std::size_t>(r)]);
            const auto end = static_cast<std::size_t>(m.rowstart[static_cast<std::size_t>(r) + 1]);
            for (std::size_t k = row; k + 1 < end; ++k) {
                const std::size_t other = k + rng() % (end - k);
                std::swap(m.col[k], m.col[other]);
                std::swap(m.val[k], m.val[other]);
            }
        }
        expect_cald_matches_literal(p, m, 0, trial);
    }
}

}  // namespace
