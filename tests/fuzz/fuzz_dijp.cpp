// dijp with free arguments: refused by its check, or run without touching
// memory outside them.
#include "dijp.hpp"
#include "fuzz_arguments.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tolm::fuzzing::fuzz_call(data, size, &tolm::dijp_kernel, &tolm::check_dijp_arguments);
    return 0;
}
