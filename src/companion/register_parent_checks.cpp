// parent_fault: the reader's checks of each animal's parents.
#include "bindings.hpp"
#include "parent_checks.hpp"

namespace tolmkit {

namespace {

const char* name_of(ParentFault fault) {
    switch (fault) {
        case ParentFault::own_sire:
            return "own_sire";
        case ParentFault::own_dam:
            return "own_dam";
        case ParentFault::selfed:
            return "selfed";
        case ParentFault::sire_and_dam:
            return "sire_and_dam";
        case ParentFault::female_sire:
            return "female_sire";
        case ParentFault::male_dam:
            return "male_dam";
        case ParentFault::none:
            break;
    }
    return "";
}

}  // namespace

void register_parent_checks(py::module_& m) {
    // The fault's name ("" for none) and the first animal with it (−1).
    m.def(
        "parent_fault",
        [](const Integers& sire, const Integers& dam, const py::object& sex, bool selfing) {
            require_size(dam, sire.size(), "dam");
            Array<std::int8_t> sexes;
            if (!sex.is_none()) {
                sexes = sex.cast<Array<std::int8_t>>();
                require_size(sexes, sire.size(), "sex");
            }
            ParentFinding found{};
            {
                const py::gil_scoped_release released;
                found =
                    parent_fault(sire.data(), dam.data(), sire.size(), sex.is_none() ? nullptr : sexes.data(), selfing);
            }
            return py::make_tuple(name_of(found.fault), found.animal);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sex") = py::none(),
        py::arg("selfing") = false);
}

}  // namespace tolmkit
