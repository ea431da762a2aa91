// Checks of the memory that a caller hands to a kernel.
//
// The kernels trust their arguments completely. Before one of them runs, the
// routine's check (beside each kernel) looks at what every argument's exporter
// reports and at the content the kernel will index with, and describes the
// first thing that would make the kernel read or write outside the arrays or
// never finish. These functions know nothing of Python.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace tolm {

enum class Element { int32, float64 };

// The element type that a kernel reads through a pointer parameter.
template <typename Pointer>
inline constexpr Element element_of =
    std::is_same_v<std::remove_cv_t<std::remove_pointer_t<Pointer>>, double> ? Element::float64 : Element::int32;

// Whether a kernel writes through a pointer parameter: only the non-const ones.
template <typename Pointer>
inline constexpr bool written_through = !std::is_const_v<std::remove_pointer_t<Pointer>>;

struct Parameter {
    const char* name;
    Element element;
    bool written;
};

// A routine's parameter table agrees with its kernel's pointer types.
template <std::size_t N, typename... Pointer>
constexpr bool matches_kernel(const std::array<Parameter, N>& parameters, void (*)(Pointer...)) {
    if constexpr (sizeof...(Pointer) != N) {
        return false;
    } else {
        const Element elements[] = {element_of<Pointer>...};
        const bool written[] = {written_through<Pointer>...};
        for (std::size_t k = 0; k < N; ++k) {
            if (parameters[k].element != elements[k] || parameters[k].written != written[k]) {
                return false;
            }
        }
        return true;
    }
}

// What the exporter of one argument reports about its memory.
struct BufferLayout {
    const void* data = nullptr;
    std::string format;  // struct-module syntax, as the buffer protocol gives it
    std::ptrdiff_t itemsize = 0;
    std::vector<std::ptrdiff_t> shape;
    std::vector<std::ptrdiff_t> strides;  // in bytes, one per dimension
};

struct ArgumentError {
    enum class Kind { type, value };
    Kind kind;
    std::string message;
};

// Empty when the arguments may be handed to the kernel.
using Verdict = std::optional<ArgumentError>;

// The first of several verdicts that describes a problem.
template <typename... Verdicts>
Verdict first_problem(Verdicts&&... verdicts) {
    Verdict found;
    ((found = found ? found : std::forward<Verdicts>(verdicts)), ...);
    return found;
}

// The arguments of one call, as a routine's check examines them.
class Arguments {
public:
    template <std::size_t N>
    Arguments(const char* function, const std::array<Parameter, N>& parameters,
              const std::array<BufferLayout, N>& layouts)
        : function_(function), parameters_(parameters.data()), layouts_(layouts.data()), count_(N) {}

    // Element type and layout of every argument, then that no argument the
    // kernel writes shares memory with another argument. The accessors below
    // may be used once this has passed.
    Verdict check_memory();

    // Number of elements of the parameter's type that argument `index` holds;
    // a raw byte buffer holds as many as fit in its bytes.
    std::int64_t length(std::size_t index) const { return lengths_[index]; }
    Verdict require_length(std::size_t index, std::int64_t needed) const;
    const std::int32_t* integers(std::size_t index) const {
        return static_cast<const std::int32_t*>(layouts_[index].data);
    }

    const char* name(std::size_t index) const { return parameters_[index].name; }

    // A ValueError whose message starts with the function's name.
    ArgumentError value_error(const std::string& detail) const;
    // "name[k] = value", the way messages quote one element of an argument.
    std::string element(std::size_t index, std::int64_t k) const;

private:
    Verdict check_element_type(std::size_t index) const;
    Verdict check_layout(std::size_t index) const;
    Verdict check_overlap(std::size_t written, std::size_t other) const;
    std::string argument(std::size_t index) const;

    const char* function_;
    const Parameter* parameters_;
    const BufferLayout* layouts_;
    std::size_t count_;
    std::vector<std::int64_t> lengths_;
};

}  // namespace tolm
