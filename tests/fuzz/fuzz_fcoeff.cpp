// fcoeff with free arguments: refused by its check, or run without touching
// memory outside them.
#include "fcoeff.hpp"
#include "fuzz_arguments.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tolm::fuzzing::fuzz_call(data, size, &tolm::fcoeff_kernel, &tolm::check_fcoeff_arguments);
    return 0;
}
