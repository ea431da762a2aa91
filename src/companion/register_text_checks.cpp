// first_control, unclosed_quote and letter_cases: the scans of a file's text.
#include <utility>

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
}

}  // namespace tolmkit
