// squared_contributions: Σ_k T_ik² w_k over every animal's ancestors.
#include <stdexcept>

#include "bindings.hpp"
#include "kinship.hpp"

namespace tolmkit {

void register_kinship(py::module_& m) {
    m.def(
        "squared_contributions",
        [](const Integers& sire, const Integers& dam, const Reals& weight, int threads) {
            if (sire.size() >= INT32_MAX) {
                throw std::invalid_argument("more animals than int32 numbers");
            }
            const auto n = static_cast<std::int32_t>(sire.size());
            require_size(dam, n, "dam");
            require_size(weight, n, "weight");
            for (std::int32_t i = 0; i < n; ++i) {
                if (sire.data()[i] < -1 || sire.data()[i] >= i || dam.data()[i] < -1 || dam.data()[i] >= i) {
                    throw std::invalid_argument("squared_contributions: a parent not numbered below its offspring");
                }
            }
            auto out = new_array<double>(n);
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                squared_contributions(n, sire.data(), dam.data(), weight.data(), out.mutable_data(), pace, threads);
            }
            return out;
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("weight").noconvert(), py::arg("threads") = 1);
}

}  // namespace tolmkit
