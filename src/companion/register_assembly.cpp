// The inverse of a relationship matrix in compressed rows, from the parents.
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
        "relationship_inverse",
        [](const Integers& sire, const Integers& dam, const Reals& weight, std::int64_t size) {
            if (sire.size() >= INT32_MAX || size >= INT32_MAX) {
                throw std::invalid_argument("more rows than int32 numbers");
            }
            require_size(dam, sire.size(), "dam");
            require_size(weight, sire.size(), "weight");
            const Parents parents{static_cast<std::int32_t>(sire.size()), static_cast<std::int32_t>(size), sire.data(),
                                  dam.data(), weight.data()};
            if (const std::string problem = parents_problem(parents); !problem.empty()) {
                throw std::invalid_argument(problem);
            }
            Compressed out;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                out = relationship_inverse(parents, pace);
            }
            return py::make_tuple(owned(std::move(out.indptr)), owned(std::move(out.indices)),
                                  owned(std::move(out.data)));
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("weight").noconvert(), py::arg("size"));
}

}  // namespace tolmkit
