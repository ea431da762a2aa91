// first_control, unclosed_quote and letter_cases, the scans of a file's
// text, and whole_numbers, the reading of its columns of numbers.
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "text_checks.hpp"

namespace tolmkit {

void register_text_checks(py::module_& m) {
    // An offset, or −1.
    using Scan = std::int64_t (*)(const std::uint8_t*, std::int64_t);
    for (const auto& [name, scan] : {std::pair<const char*, Scan>{"first_control", first_control},
                                     std::pair<const char*, Scan>{"unclosed_quote", unclosed_quote}}) {
        m.def(
            name,
            [scan = scan](const Bytes& text) {
                const py::gil_scoped_release released;
                return scan(text.data(), text.size());
            },
            py::arg("text").noconvert());
    }
    m.attr("SMALL_LETTER") = static_cast<int>(small_letter);
    m.attr("CAPITAL_LETTER") = static_cast<int>(capital_letter);
    m.attr("BEYOND_ASCII") = static_cast<int>(beyond_ascii);
    m.def(
        "letter_cases",
        [](const Bytes& text) {
            const py::gil_scoped_release released;
            return letter_cases(text.data(), text.size());
        },
        py::arg("text").noconvert());
    m.def(
        "whole_numbers",
        [](const py::list& laid_out) {
            std::vector<std::pair<Integers, Bytes>> held;
            const Strings strings = laid_out_strings(laid_out, held, "whole_numbers");
            auto values = new_array<std::int64_t>(strings.count());
            auto empty = new_array<bool>(strings.count());
            std::int64_t stray = -1;
            {
                const py::gil_scoped_release released;
                stray = whole_numbers(strings, values.mutable_data(), empty.mutable_data());
            }
            return py::make_tuple(values, empty, stray);
        },
        py::arg("laid_out"));
}

}  // namespace tolmkit
