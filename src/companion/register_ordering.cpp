// generations: animals ordered parents first, with their generations.
#include <stdexcept>

#include "bindings.hpp"
#include "ordering.hpp"

namespace tolmkit {

void register_ordering(py::module_& m) {
    m.def(
        "generations",
        [](const Longs& sire, const Longs& dam) {
            const py::ssize_t n = sire.size();
            require_size(dam, n, "dam");
            for (py::ssize_t i = 0; i < n; ++i) {
                if (sire.data()[i] < -1 || sire.data()[i] >= n || dam.data()[i] < -1 || dam.data()[i] >= n) {
                    throw std::invalid_argument("generations: a parent outside -1 .. n - 1");
                }
            }
            auto generation = new_array<std::int64_t>(n);
            auto order = new_array<std::int64_t>(n);
            std::int64_t placed = 0;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                placed = generations(n, sire.data(), dam.data(), generation.mutable_data(), order.mutable_data(), pace);
            }
            return py::make_tuple(order[py::slice(0, placed, 1)], generation);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert());
}

}  // namespace tolmkit
