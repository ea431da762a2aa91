// cald and dijp as the module runs them, the check and then the kernel, with
// C entry points that the dominance benchmark loads with ctypes: one library
// per benchmark build, each with some speed mechanisms switched off.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "arguments.hpp"
#include "cald.hpp"
#include "dijp.hpp"

namespace {

// Contiguous one-dimensional arrays of the kernel's element types, as numpy
// exports them; on a refusal the message goes to stderr and the result is 1.
template <typename... Pointer, std::size_t... k>
void run(void (*kernel)(Pointer...), void* const* data, std::index_sequence<k...>) {
    kernel(static_cast<Pointer>(data[k])...);
}

template <typename... Pointer, std::size_t N = sizeof...(Pointer)>
int checked_run(void (*kernel)(Pointer...), tolm::Verdict (*check)(const std::array<tolm::BufferLayout, N>&),
                void* const* data, const std::int64_t* lengths) {
    std::array<tolm::BufferLayout, N> layouts;
    constexpr std::array<tolm::Element, N> elements{tolm::element_of<Pointer>...};
    for (std::size_t k = 0; k < N; ++k) {
        const bool real = elements[k] == tolm::Element::float64;
        const std::ptrdiff_t itemsize = real ? 8 : 4;
        layouts[k] = {data[k], real ? "d" : "i", itemsize, {lengths[k]}, {itemsize}};
    }
    if (const tolm::Verdict problem = check(layouts)) {
        std::fprintf(stderr, "%s\n", problem->message.c_str());
        return 1;
    }
    run(kernel, data, std::index_sequence_for<Pointer...>{});
    return 0;
}

}  // namespace

extern "C" {

int bench_cald(void* const* data, const std::int64_t* lengths) {
    return checked_run(&tolm::cald_kernel, &tolm::check_cald_arguments, data, lengths);
}

int bench_dijp(void* const* data, const std::int64_t* lengths) {
    return checked_run(&tolm::dijp_kernel, &tolm::check_dijp_arguments, data, lengths);
}
}
