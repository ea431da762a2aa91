// The rows of the relationship matrix and the sparse rearrangements around
// TOLM's lower-triangle format (the dominance matrix's diagonal among them).
#include <cstdint>
#include <stdexcept>

#include "bindings.hpp"
#include "relationships.hpp"

namespace tolmkit {

namespace {

std::int32_t animals(const Integers& sire) {
    if (sire.size() >= INT32_MAX) {
        throw std::invalid_argument("more animals than int32 numbers");
    }
    return static_cast<std::int32_t>(sire.size());
}

Herd herd_of(const Integers& sire, const Integers& dam, const Reals& sampling_var, const Integers& members,
             const Integers& position, const Integers* oldest) {
    const std::int32_t n = animals(sire);
    require_size(dam, n, "dam");
    require_size(sampling_var, n, "sampling_var");
    require_size(members, n, "members");
    require_size(position, n, "position");
    if (oldest != nullptr) {
        require_size(*oldest, n, "oldest");
    }
    return {n,
            sire.data(),
            dam.data(),
            sampling_var.data(),
            members.data(),
            position.data(),
            oldest != nullptr ? oldest->data() : nullptr};
}

// A compressed-row matrix of n rows, its index arrays checked against each other.
std::int32_t rows_of(const Integers& indptr, const Integers& indices, const Reals& data) {
    if (indptr.size() < 1 || indptr.size() - 1 >= INT32_MAX) {
        throw std::invalid_argument("indptr holds no row start, or more than int32 numbers");
    }
    const auto n = static_cast<std::int32_t>(indptr.size() - 1);
    if (indptr.data()[0] < 0) {
        throw std::invalid_argument("indptr starts below 0");
    }
    require_size(indices, indptr.data()[n], "indices");
    require_size(data, indptr.data()[n], "data");
    return n;
}

// The call of a routine over a matrix without the interpreter's lock, at the
// pace of signal_pacer.
template <typename Routine>
auto paced(Routine routine) {
    const py::gil_scoped_release released;
    Pacer pace = signal_pacer();
    return routine(pace);
}

// Registers `name`, a function of a compressed-row matrix (indptr, indices,
// data) checked as rows_of checks it, whose result `routine` gives from its
// rows and arrays.
template <typename Routine>
void def_over_matrix(py::module_& m, const char* name, Routine routine) {
    m.def(
        name,
        [routine](const Integers& indptr, const Integers& indices, const Reals& data) {
            return routine(rows_of(indptr, indices, data), indptr, indices, data);
        },
        py::arg("indptr").noconvert(), py::arg("indices").noconvert(), py::arg("data").noconvert());
}

}  // namespace

void register_relationships(py::module_& m) {
    m.def(
        "oldest_ancestors",
        [](const Integers& sire, const Integers& dam, const Reals& sampling_var, const Integers& members,
           const Integers& position) {
            const Herd herd = herd_of(sire, dam, sampling_var, members, position, nullptr);
            auto oldest = new_array<std::int32_t>(herd.n);
            oldest_ancestors(herd, oldest.mutable_data());
            return oldest;
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sampling_var").noconvert(),
        py::arg("members").noconvert(), py::arg("position").noconvert());
    m.def(
        "count_relationships",
        [](const Integers& sire, const Integers& dam, const Reals& sampling_var, const Integers& members,
           const Integers& position, const Integers& oldest, bool lower, std::int64_t max_elements) {
            const Herd herd = herd_of(sire, dam, sampling_var, members, position, &oldest);
            auto counts = new_array<std::int32_t>(herd.n);
            std::int32_t* const out = counts.mutable_data();
            const Count count =
                paced([&](Pacer& pace) { return count_relationships(herd, lower, max_elements, out, pace); });
            return py::make_tuple(counts, count.rows, count.elements);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sampling_var").noconvert(),
        py::arg("members").noconvert(), py::arg("position").noconvert(), py::arg("oldest").noconvert(),
        py::arg("lower"), py::arg("max_elements"));
    m.def(
        "fill_relationships",
        [](const Integers& sire, const Integers& dam, const Reals& sampling_var, const Integers& members,
           const Integers& position, const Integers& oldest, double scale, const Integers& indptr, bool lower) {
            const Herd herd = herd_of(sire, dam, sampling_var, members, position, &oldest);
            require_size(indptr, py::ssize_t{herd.n} + 1, "indptr");
            const std::int32_t elements = indptr.data()[herd.n];
            auto indices = new_array<std::int32_t>(elements);
            auto data = new_array<double>(elements);
            std::int32_t* const out_indices = indices.mutable_data();
            double* const out_data = data.mutable_data();
            paced([&](Pacer& pace) {
                fill_relationships(herd, scale, indptr.data(), lower, out_indices, out_data, pace);
            });
            return py::make_tuple(indices, data);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sampling_var").noconvert(),
        py::arg("members").noconvert(), py::arg("position").noconvert(), py::arg("oldest").noconvert(),
        py::arg("scale"), py::arg("indptr").noconvert(), py::arg("lower"));
    m.def(
        "with_diagonal",
        [](const Integers& indptr, const Integers& indices, const Reals& data, const Reals& diagonal, bool lower) {
            const std::int32_t n = rows_of(indptr, indices, data);
            require_size(diagonal, n, "diagonal");
            auto out_indptr = new_array<std::int32_t>(py::ssize_t{n} + 1);
            with_diagonal_rows(n, indptr.data(), indices.data(), lower, out_indptr.mutable_data());
            const std::int32_t elements = out_indptr.data()[n];
            auto out_indices = new_array<std::int32_t>(elements);
            auto out_data = new_array<double>(elements);
            std::int32_t* const to_indices = out_indices.mutable_data();
            double* const to_data = out_data.mutable_data();
            paced([&](Pacer& pace) {
                with_diagonal(n, indptr.data(), indices.data(), data.data(), diagonal.data(), lower, out_indptr.data(),
                              to_indices, to_data, pace);
            });
            return py::make_tuple(out_indptr, out_indices, out_data);
        },
        py::arg("indptr").noconvert(), py::arg("indices").noconvert(), py::arg("data").noconvert(),
        py::arg("diagonal").noconvert(), py::arg("lower"));
    def_over_matrix(m, "count_triangles",
                    [](std::int32_t n, const Integers& indptr, const Integers& indices, const Reals&) {
                        const Triangles found =
                            paced([&](Pacer& pace) { return count_triangles(n, indptr.data(), indices.data(), pace); });
                        return py::make_tuple(found.below, found.above);
                    });
    def_over_matrix(
        m, "symmetric", [](std::int32_t n, const Integers& indptr, const Integers& indices, const Reals& data) {
            return paced([&](Pacer& pace) { return symmetric(n, indptr.data(), indices.data(), data.data(), pace); });
        });
    def_over_matrix(
        m, "first_asymmetric", [](std::int32_t n, const Integers& indptr, const Integers& indices, const Reals& data) {
            const Element found = paced(
                [&](Pacer& pace) { return first_asymmetric(n, indptr.data(), indices.data(), data.data(), pace); });
            return py::make_tuple(found.row, found.column);
        });
    def_over_matrix(
        m, "lower_part", [](std::int32_t n, const Integers& indptr, const Integers& indices, const Reals& data) {
            const Triangles found =
                paced([&](Pacer& pace) { return count_triangles(n, indptr.data(), indices.data(), pace); });
            const auto kept = static_cast<py::ssize_t>(indptr.data()[n] - indptr.data()[0] - found.above);
            auto out_indptr = new_array<std::int32_t>(py::ssize_t{n} + 1);
            auto out_indices = new_array<std::int32_t>(kept);
            auto out_data = new_array<double>(kept);
            std::int32_t* const to_indptr = out_indptr.mutable_data();
            std::int32_t* const to_indices = out_indices.mutable_data();
            double* const to_data = out_data.mutable_data();
            paced([&](Pacer& pace) {
                lower_part(n, indptr.data(), indices.data(), data.data(), to_indptr, to_indices, to_data, pace);
            });
            return py::make_tuple(out_indptr, out_indices, out_data);
        });
}

}  // namespace tolmkit
