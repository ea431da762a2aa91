#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "relationships.hpp"

namespace {

using namespace tolmkit;

using Dense = std::vector<std::vector<double>>;
using Ints = std::vector<std::int32_t>;

// Compressed rows scattered into a dense matrix.
Dense dense(std::int32_t n, const std::vector<std::int32_t>& indptr, const std::vector<std::int32_t>& indices,
            const std::vector<double>& data) {
    Dense out(n, std::vector<double>(n, 0.0));
    for (std::int32_t i = 0; i < n; ++i) {
        for (std::int32_t e = indptr[i]; e < indptr[i + 1]; ++e) {
            out[i][indices[e]] = data[e];
        }
    }
    return out;
}

// x = (a, b) and y = (x, b), numbered a, b, x, y; worked by hand with the
// tabular method.
struct FourAnimals {
    std::vector<std::int32_t> sire{4, 4, 0, 2}, dam{4, 4, 1, 1}, members{0, 1, 2, 3}, position{0, 1, 2, 3},
        oldest = std::vector<std::int32_t>(4);
    std::vector<double> sampling_var{1.0, 1.0, 0.5, 0.5};
    Dense a{{1.0, 0.0, 0.5, 0.25}, {0.0, 1.0, 0.5, 0.75}, {0.5, 0.5, 1.0, 0.75}, {0.25, 0.75, 0.75, 1.25}};

    Herd herd() {
        Herd h{4, sire.data(), dam.data(), sampling_var.data(), members.data(), position.data(), oldest.data()};
        oldest_ancestors(h, oldest.data());
        return h;
    }
};

TEST(Relationships, CountedAndFilledAsTheTabularMethodGivesThem) {
    for (const bool lower : {true, false}) {
        FourAnimals pedigree;
        const Herd herd = pedigree.herd();
        Pacer pace;
        std::vector<std::int32_t> counts(4), indptr{0};
        const Count count = count_relationships(herd, lower, 100, counts.data(), pace);
        EXPECT_EQ(counts, lower ? Ints({1, 1, 3, 4}) : Ints({3, 3, 4, 4}));
        EXPECT_EQ(count.elements, lower ? 9 : 14);
        for (const std::int32_t c : counts) {
            indptr.push_back(indptr.back() + c);
        }
        std::vector<std::int32_t> indices(static_cast<std::size_t>(count.elements));
        std::vector<double> data(indices.size());
        fill_relationships(herd, 2.0, indptr.data(), lower, indices.data(), data.data(), pace);
        const Dense got = dense(4, indptr, indices, data);
        for (std::int32_t i = 0; i < 4; ++i) {
            for (std::int32_t j = 0; j < 4; ++j) {
                EXPECT_EQ(got[i][j], lower && j > i ? 0.0 : 2.0 * pedigree.a[i][j]) << i << ", " << j;
            }
        }
        const Count stopped = count_relationships(herd, lower, 4, counts.data(), pace);
        EXPECT_EQ(stopped.rows, 3);  // 5 elements in the lower triangle, 7 in both
        EXPECT_EQ(stopped.elements, lower ? 5 : 7);
    }
}

TEST(Relationships, DiagonalAddedLowerPartAndMirrorsCompared) {
    // Strictly lower: (1, 0) = 2, (2, 0) = 3, (2, 1) = NaN.
    const std::vector<std::int32_t> indptr{0, 0, 1, 3}, indices{0, 0, 1};
    const std::vector<double> data{2.0, 3.0, std::nan("")}, diagonal{7.0, 8.0, 9.0};
    Pacer pace;
    for (const bool lower : {true, false}) {
        std::vector<std::int32_t> out_indptr(4);
        with_diagonal_rows(3, indptr.data(), indices.data(), lower, out_indptr.data());
        std::vector<std::int32_t> out_indices(static_cast<std::size_t>(out_indptr[3]));
        std::vector<double> out_data(out_indices.size());
        with_diagonal(3, indptr.data(), indices.data(), data.data(), diagonal.data(), lower, out_indptr.data(),
                      out_indices.data(), out_data.data(), pace);
        EXPECT_EQ(out_indptr, lower ? Ints({0, 1, 3, 6}) : Ints({0, 3, 6, 9}));
        EXPECT_EQ(out_indices, lower ? Ints({0, 0, 1, 0, 1, 2}) : Ints({0, 1, 2, 0, 1, 2, 0, 1, 2}));
        EXPECT_EQ(symmetric(3, out_indptr.data(), out_indices.data(), out_data.data(), pace), !lower);
        const Triangles triangles = count_triangles(3, out_indptr.data(), out_indices.data(), pace);
        EXPECT_EQ(triangles.below, 3);
        EXPECT_EQ(triangles.above, lower ? 0 : 3);
        if (!lower) {
            std::vector<std::int32_t> part_indptr(4), part_indices(6);
            std::vector<double> part_data(6);
            lower_part(3, out_indptr.data(), out_indices.data(), out_data.data(), part_indptr.data(),
                       part_indices.data(), part_data.data(), pace);
            EXPECT_EQ(part_indptr, Ints({0, 1, 3, 6}));
            EXPECT_EQ(part_data[3], 3.0);
            out_data[1] = 5.0;  // (0, 1) against (1, 0) = 2
            const Element found = first_asymmetric(3, out_indptr.data(), out_indices.data(), out_data.data(), pace);
            EXPECT_EQ(found.row, 0);
            EXPECT_EQ(found.column, 1);
            EXPECT_FALSE(symmetric(3, out_indptr.data(), out_indices.data(), out_data.data(), pace));
        }
    }
}

TEST(Relationships, CountingStopsWhenThePacersCheckThrows) {
    const std::int32_t n = 400;  // each animal the calf of the one before: every pair related
    std::vector<std::int32_t> sire(n), dam(n, n), members(n), position(n), oldest(n, 0), counts(n);
    std::vector<double> sampling_var(n, 0.75);
    for (std::int32_t i = 0; i < n; ++i) {
        sire[i] = i == 0 ? n : i - 1;
        members[i] = position[i] = i;
    }
    const Herd herd{n, sire.data(), dam.data(), sampling_var.data(), members.data(), position.data(), oldest.data()};
    Pacer pace([] { throw std::runtime_error("stop"); }, std::chrono::nanoseconds(0));
    EXPECT_THROW(count_relationships(herd, false, INT64_MAX, counts.data(), pace), std::runtime_error);
}

}  // namespace
