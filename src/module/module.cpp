#include <pybind11/pybind11.h>

#include "checked_call.hpp"
#include "fcoeff.hpp"

PYBIND11_MODULE(TOLM, m) {
    using tolm::binding::checked_call;
    m.def("fcoeff", checked_call<&tolm::fcoeff_kernel, &tolm::check_fcoeff_arguments>);
}
