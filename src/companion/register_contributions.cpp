// The contributions of ancestors and the ancestors taken by marginal
// contribution, for founder_statistics.
#include <stdexcept>
#include <string>

#include "bindings.hpp"
#include "contributions.hpp"

namespace tolmkit {

namespace {

Lineage lineage_of(const Integers& sire, const Integers& dam, const Longs& generation) {
    if (sire.size() >= INT32_MAX) {
        throw std::invalid_argument("more animals than int32 numbers");
    }
    const auto n = static_cast<std::int32_t>(sire.size());
    require_size(dam, n, "dam");
    require_size(generation, n, "generation");
    const Lineage lineage{n, sire.data(), dam.data(), generation.data()};
    const std::string wrong = lineage_error(lineage);
    if (!wrong.empty()) {
        throw std::invalid_argument(wrong);
    }
    return lineage;
}

}  // namespace

void register_contributions(py::module_& m) {
    m.def(
        "contributions",
        [](const Integers& sire, const Integers& dam, const Longs& generation, const Reals& weight) {
            const Lineage lineage = lineage_of(sire, dam, generation);
            require_size(weight, lineage.n, "weight");
            auto out = new_array<double>(lineage.n);
            double* const to = out.mutable_data();
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                contributions(lineage, weight.data(), to, pace);
            }
            return out;
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("generation").noconvert(),
        py::arg("weight").noconvert());
    m.def(
        "marginal_ancestors",
        [](const Integers& sire, const Integers& dam, const Longs& generation, const Reals& weight,
           const Reals& contribution, const Bytes& eligible, std::int64_t most, double enough) {
            const Lineage lineage = lineage_of(sire, dam, generation);
            require_size(weight, lineage.n, "weight");
            require_size(contribution, lineage.n, "contribution");
            require_size(eligible, lineage.n, "eligible");
            Ancestors found;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                found = marginal_ancestors(lineage, weight.data(), contribution.data(), eligible.data(), most, enough,
                                           pace);
            }
            const auto taken = static_cast<py::ssize_t>(found.order.size());
            return py::make_tuple(new_array<std::int32_t>(taken, found.order.data()),
                                  new_array<double>(taken, found.marginal.data()), found.explained);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("generation").noconvert(),
        py::arg("weight").noconvert(), py::arg("contribution").noconvert(), py::arg("eligible").noconvert(),
        py::arg("most"), py::arg("enough"));
}

}  // namespace tolmkit
