#include "arguments.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

namespace tolm {
namespace {

constexpr bool little_endian_host = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

bool one_of(char code, const char* codes) { return code != '\0' && std::strchr(codes, code) != nullptr; }

// A format string that names a single item, with its byte-order prefix taken
// apart; `code` stays '\0' for anything else (structures, repeat counts).
struct ItemFormat {
    char code = '\0';
    bool native_order = true;
};

ItemFormat parse(const std::string& format) {
    // The buffer protocol reads a missing format as unsigned bytes.
    if (format.empty()) {
        return {'B', true};
    }
    ItemFormat item;
    std::size_t at = 0;
    if (one_of(format[0], "@=<>!")) {
        const char order = format[0];
        item.native_order =
            order == '@' || order == '=' || (little_endian_host ? order == '<' : (order == '>' || order == '!'));
        at = 1;
    }
    if (format.size() == at + 1) {
        item.code = format[at];
    }
    return item;
}

std::string describe(const BufferLayout& layout, const ItemFormat& item) {
    const std::string bits = std::to_string(layout.itemsize * 8);
    std::string kind;
    if (one_of(item.code, "bhilqn")) {
        kind = "int" + bits;
    } else if (one_of(item.code, "BHILQN")) {
        kind = "uint" + bits;
    } else if (one_of(item.code, "efd")) {
        kind = "float" + bits;
    } else if (item.code == '?') {
        kind = "bool";
    } else if (item.code == 'c') {
        kind = "char";
    } else {
        return "items of " + std::to_string(layout.itemsize) + " bytes";
    }
    if (!item.native_order) {
        kind = (little_endian_host ? "big-endian " : "little-endian ") + kind;
    }
    return kind;
}

bool is_raw_bytes(const BufferLayout& layout, const ItemFormat& item) {
    return layout.itemsize == 1 && one_of(item.code, "Bbc");
}

bool holds(Element element, const BufferLayout& layout, const ItemFormat& item) {
    if (!item.native_order) {
        return false;
    }
    switch (element) {
        case Element::int32:
            return layout.itemsize == 4 && one_of(item.code, "il");
        case Element::float64:
            return layout.itemsize == 8 && item.code == 'd';
    }
    return false;
}

std::ptrdiff_t element_size(Element element) { return element == Element::int32 ? 4 : 8; }

const char* element_name(Element element) { return element == Element::int32 ? "int32" : "float64"; }

std::int64_t byte_count(const BufferLayout& layout) {
    const std::int64_t items =
        std::accumulate(layout.shape.begin(), layout.shape.end(), std::int64_t{1}, std::multiplies<>());
    return items * layout.itemsize;
}

bool is_c_contiguous(const BufferLayout& layout) {
    const auto& shape = layout.shape;
    if (std::find(shape.begin(), shape.end(), 0) != shape.end()) {
        return true;
    }
    std::ptrdiff_t step = layout.itemsize;
    for (std::size_t d = shape.size(); d-- > 0;) {
        if (shape[d] != 1 && layout.strides[d] != step) {
            return false;
        }
        step *= shape[d];
    }
    return true;
}

std::uintptr_t address(const void* data) { return reinterpret_cast<std::uintptr_t>(data); }

}  // namespace

Verdict Arguments::check_memory() {
    lengths_.assign(count_, 0);
    for (std::size_t k = 0; k < count_; ++k) {
        if (Verdict problem = check_element_type(k)) {
            return problem;
        }
        if (Verdict problem = check_layout(k)) {
            return problem;
        }
        lengths_[k] = byte_count(layouts_[k]) / element_size(parameters_[k].element);
    }
    for (std::size_t written = 0; written < count_; ++written) {
        if (!parameters_[written].written) {
            continue;
        }
        for (std::size_t other = 0; other < count_; ++other) {
            if (other == written || (parameters_[other].written && other < written)) {
                continue;
            }
            if (Verdict problem = check_overlap(written, other)) {
                return problem;
            }
        }
    }
    return std::nullopt;
}

Verdict Arguments::check_element_type(std::size_t index) const {
    const BufferLayout& layout = layouts_[index];
    const ItemFormat item = parse(layout.format);
    const Element wanted = parameters_[index].element;
    if (holds(wanted, layout, item) || is_raw_bytes(layout, item)) {
        return std::nullopt;
    }
    return ArgumentError{ArgumentError::Kind::type, std::string(function_) + "(): " + argument(index) + " must hold " +
                                                        element_name(wanted) + ", got " + describe(layout, item) +
                                                        " (format '" + layout.format + "')"};
}

Verdict Arguments::check_layout(std::size_t index) const {
    const BufferLayout& layout = layouts_[index];
    if (!is_c_contiguous(layout)) {
        return value_error(argument(index) + " must be C-contiguous");
    }
    const std::ptrdiff_t size = element_size(parameters_[index].element);
    if (byte_count(layout) >= size && address(layout.data) % static_cast<std::uintptr_t>(size) != 0) {
        return value_error(argument(index) + " must start at an address aligned to " + std::to_string(size) + " bytes");
    }
    return std::nullopt;
}

Verdict Arguments::check_overlap(std::size_t written, std::size_t other) const {
    const std::uintptr_t a = address(layouts_[written].data);
    const std::uintptr_t b = address(layouts_[other].data);
    const auto a_bytes = static_cast<std::uintptr_t>(byte_count(layouts_[written]));
    const auto b_bytes = static_cast<std::uintptr_t>(byte_count(layouts_[other]));
    if (a_bytes == 0 || b_bytes == 0 || a + a_bytes <= b || b + b_bytes <= a) {
        return std::nullopt;
    }
    return value_error(argument(written) + " is written and must not share memory with " + argument(other));
}

Verdict Arguments::require_length(std::size_t index, std::int64_t needed) const {
    if (lengths_[index] >= needed) {
        return std::nullopt;
    }
    return value_error(argument(index) + " needs at least " + std::to_string(needed) + " " +
                       element_name(parameters_[index].element) + (needed == 1 ? " element" : " elements") + ", got " +
                       std::to_string(lengths_[index]));
}

ArgumentError Arguments::value_error(const std::string& detail) const {
    return {ArgumentError::Kind::value, std::string(function_) + "(): " + detail};
}

std::string Arguments::element(std::size_t index, std::int64_t k) const {
    return std::string(parameters_[index].name) + "[" + std::to_string(k) + "] = " + std::to_string(integers(index)[k]);
}

std::string Arguments::argument(std::size_t index) const {
    return "argument " + std::to_string(index) + " (" + parameters_[index].name + ")";
}

}  // namespace tolm
