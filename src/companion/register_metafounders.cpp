// Inbreeding relative to metafounders related by Γ.
#include <cstdint>
#include <stdexcept>

#include "bindings.hpp"
#include "metafounders.hpp"

namespace tolmkit {

void register_metafounders(py::module_& m) {
    m.def(
        "metafounder_inbreeding",
        [](const Integers& sire, const Integers& dam, const Integers& sire_group, const Integers& dam_group,
           const Reals& gamma) {
            const py::ssize_t n = sire.size();
            if (n >= INT32_MAX || gamma.ndim() != 2 || gamma.shape(0) != gamma.shape(1)) {
                throw std::invalid_argument("metafounder_inbreeding: more animals than int32 numbers, or Γ not square");
            }
            require_size(dam, n, "dam");
            require_size(sire_group, n, "sire_group");
            require_size(dam_group, n, "dam_group");
            const py::ssize_t g = gamma.shape(0);
            for (py::ssize_t i = 0; i < n; ++i) {
                for (const auto& [parent, group] :
                     {std::pair{sire.data()[i], sire_group.data()[i]}, std::pair{dam.data()[i], dam_group.data()[i]}}) {
                    if (parent < -1 || parent >= i || group < -1 || group >= g) {
                        throw std::invalid_argument(
                            "metafounder_inbreeding: a parent not numbered below its offspring, or a group outside "
                            "-1 .. g - 1");
                    }
                }
            }
            auto inbreeding = new_array<double>(n);
            auto sampling_var = new_array<double>(n);
            const GroupedHerd herd{n, sire.data(), dam.data(), sire_group.data(), dam_group.data(), g, gamma.data()};
            std::int64_t stopped = -1;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                stopped = metafounder_inbreeding(herd, inbreeding.mutable_data(), sampling_var.mutable_data(), pace);
            }
            return py::make_tuple(inbreeding, sampling_var, stopped);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sire_group").noconvert(),
        py::arg("dam_group").noconvert(), py::arg("gamma").noconvert());
}

}  // namespace tolmkit
