// A symmetric matrix in compressed rows from the terms of its lower
// triangle, for the inverse of the relationship matrix.
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "assembly.hpp"
#include "bindings.hpp"

namespace tolmkit {

namespace {

// The vector's elements as an array that owns them: no copy, and no new
// pages to fill, of a result that may take gigabytes.
template <typename T>
Array<T> owned(std::vector<T>&& elements) {
    auto* held = new std::vector<T>(std::move(elements));
    const py::capsule release(held, [](void* vector) { delete static_cast<std::vector<T>*>(vector); });
    return Array<T>(std::vector<py::ssize_t>{static_cast<py::ssize_t>(held->size())}, held->data(), release);
}

}  // namespace

void register_assembly(py::module_& m) {
    m.def(
        "symmetric_from_lower",
        [](const Integers& row, const Integers& column, const Reals& value, const Reals& diagonal) {
            if (diagonal.size() >= INT32_MAX) {
                throw std::invalid_argument("more rows than int32 numbers");
            }
            const auto n = static_cast<std::int32_t>(diagonal.size());
            if (row.size() >= INT32_MAX) {
                throw std::invalid_argument("more terms than int32 numbers");
            }
            require_size(column, row.size(), "column");
            require_size(value, row.size(), "value");
            const Terms terms{row.size(), row.data(), column.data(), value.data()};
            const std::int64_t outside = first_outside(n, terms);
            if (outside >= 0) {
                throw std::invalid_argument("term " + std::to_string(outside) + " is not below the diagonal");
            }
            Compressed out;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                out = symmetric_from_lower(n, terms, diagonal.data(), pace);
            }
            return py::make_tuple(owned(std::move(out.indptr)), owned(std::move(out.indices)),
                                  owned(std::move(out.data)));
        },
        py::arg("row").noconvert(), py::arg("column").noconvert(), py::arg("value").noconvert(),
        py::arg("diagonal").noconvert());
}

}  // namespace tolmkit
