// cald with free arguments: refused by its check, or run without touching
// memory outside them.
#include "cald.hpp"
#include "fuzz_arguments.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tolm::fuzzing::fuzz_call(data, size, &tolm::cald_kernel, &tolm::check_cald_arguments);
    return 0;
}
