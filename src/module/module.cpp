#include <pybind11/pybind11.h>

#include "cald.hpp"
#include "checked_call.hpp"
#include "dijp.hpp"
#include "fcoeff.hpp"

PYBIND11_MODULE(TOLM, m) {
    using tolm::binding::checked_call;
    m.def("fcoeff", checked_call<&tolm::fcoeff_kernel, &tolm::check_fcoeff_arguments>);
    m.def("cald", checked_call<&tolm::cald_kernel, &tolm::check_cald_arguments>);
    m.def("dijp", checked_call<&tolm::dijp_kernel, &tolm::check_dijp_arguments>);
}
