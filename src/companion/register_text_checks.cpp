// text_marks, letter_cases and first_other_width, the scans of a file's
// text, and whole_numbers, the reading of its columns of numbers.
#include <string>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "text_checks.hpp"

namespace tolmkit {

void register_text_checks(py::module_& m) {
    m.def(
        "text_marks",
        [](const Bytes& text, const py::bytes& wanted, int threads) {
            require_threads(threads, "text_marks");
            const std::string asked = wanted;
            TextMarks marks;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                marks = text_marks(text.data(), text.size(), asked, threads, pace);
            }
            std::string held;
            for (std::size_t k = 0; k < asked.size(); ++k) {
                if ((marks.held >> k & 1) != 0) {
                    held += asked[k];
                }
            }
            return py::make_tuple(marks.control, marks.beyond_ascii, marks.unclosed_quote, marks.empty_line,
                                  marks.longest_line, py::bytes(held));
        },
        py::arg("text").noconvert(), py::arg("wanted"), py::arg("threads") = 1);
    m.def(
        "first_other_width",
        [](const Bytes& text, char separator, std::int64_t fields) {
            Width width;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                width = first_other_width(text.data(), text.size(), separator, fields, pace);
            }
            return py::make_tuple(width.line, width.fields);
        },
        py::arg("text").noconvert(), py::arg("separator"), py::arg("fields"));
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
