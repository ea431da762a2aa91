// inbreeding: F and the Mendelian-sampling variances on several threads, a
// generation layer at a time. F comes with the −1.0 of an unknown parent
// after it, as TOLM.fcoeff holds it.
#include <stdexcept>

#include "bindings.hpp"
#include "inbreeding.hpp"

namespace tolmkit {

void register_inbreeding(py::module_& m) {
    m.def(
        "inbreeding",
        [](const Integers& sire, const Integers& dam, const Longs& order, const Longs& bounds, int threads) {
            if (sire.size() >= INT32_MAX) {
                throw std::invalid_argument("more animals than int32 numbers");
            }
            const auto n = static_cast<std::int32_t>(sire.size());
            require_size(dam, n, "dam");
            require_size(order, n, "order");
            require_size(bounds, 1, "bounds");
            require_threads(threads, "inbreeding");
            const Layered pedigree{n, sire.data(), dam.data(), order.data(), bounds.data(), bounds.size() - 1};
            if (const std::string problem = layering_problem(pedigree); !problem.empty()) {
                throw std::invalid_argument(problem);
            }
            auto inbreeding = new_array<double>(py::ssize_t{n} + 1);
            auto sampling_var = new_array<double>(n);
            double* const f = inbreeding.mutable_data();
            double* const var = sampling_var.mutable_data();
            f[n] = -1.0;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                inbreeding_by_layers(pedigree, threads, f, var, pace);
            }
            return py::make_tuple(inbreeding, sampling_var);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("order").noconvert(),
        py::arg("bounds").noconvert(), py::arg("threads"));
}

}  // namespace tolmkit
