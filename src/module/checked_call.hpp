// The one mechanism behind every module function: hold a view of each buffer
// argument, have the routine's check examine them, then hand the kernel the
// data pointers in argument order.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <utility>

#include "arguments.hpp"

namespace tolm::binding {

namespace py = pybind11;

// Any object that exposes a buffer, under the name that the signatures give it
// whichever pybind11 renders the type: from 2.12 on py::buffer reads "Buffer".
class buffer_argument : public py::buffer {
public:
    PYBIND11_OBJECT_DEFAULT(buffer_argument, py::buffer, PyObject_CheckBuffer)
};

}  // namespace tolm::binding

template <>
struct pybind11::detail::handle_type_name<tolm::binding::buffer_argument> {
    static constexpr auto name = pybind11::detail::const_name("buffer");
};

namespace tolm::binding {

inline BufferLayout layout_of(const py::buffer_info& view) {
    return {view.ptr,
            view.format,
            view.itemsize,
            {view.shape.begin(), view.shape.end()},
            {view.strides.begin(), view.strides.end()}};
}

[[noreturn]] inline void raise(const ArgumentError& problem) {
    if (problem.kind == ArgumentError::Kind::type) {
        throw py::type_error(problem.message);
    }
    throw py::value_error(problem.message);
}

template <typename Kernel>
struct checked;

template <typename... Pointer>
struct checked<void (*)(Pointer...)> {
    static constexpr std::size_t arity = sizeof...(Pointer);
    using Check = Verdict (*)(const std::array<BufferLayout, arity>&);

    template <typename>
    using buffer = buffer_argument;

    template <void (*kernel)(Pointer...), Check check>
    static void call(buffer<Pointer>... arguments) {
        const std::array<py::buffer, arity> objects{std::move(arguments)...};
        constexpr std::array<bool, arity> written{written_through<Pointer>...};
        // Views are requested in argument order. Array elements are destroyed
        // last to first, so on every way out, a refused request included, the
        // views held so far are released in reverse order.
        std::array<py::buffer_info, arity> views;
        std::array<BufferLayout, arity> layouts;
        for (std::size_t k = 0; k < arity; ++k) {
            views[k] = objects[k].request(written[k]);
            layouts[k] = layout_of(views[k]);
        }
        if (const Verdict problem = check(layouts)) {
            raise(*problem);
        }
        run<kernel>(views, std::index_sequence_for<Pointer...>{});
    }

private:
    template <void (*kernel)(Pointer...), std::size_t... k>
    static void run(const std::array<py::buffer_info, arity>& views, std::index_sequence<k...>) {
        kernel(static_cast<Pointer>(views[k].ptr)...);
    }
};

// The binding of one module function: a plain function of one buffer per
// kernel parameter.
template <auto kernel, auto check>
constexpr auto checked_call = &checked<decltype(kernel)>::template call<kernel, check>;

}  // namespace tolm::binding
