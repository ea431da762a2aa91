// match_identifiers: the pedigree reader's matching of parents to animals.
#include <stdexcept>
#include <vector>

#include "bindings.hpp"
#include "identifiers.hpp"

namespace tolmkit {

void register_identifiers(py::module_& m) {
    m.def(
        "match_identifiers",
        [](const Integers& offsets, const Bytes& data, std::int64_t n, int threads) {
            const py::ssize_t count = offsets.size() - 1;
            if (threads < 1) {
                throw std::invalid_argument("match_identifiers: threads must be positive");
            }
            if (n < 0 || count < 3 * n || count >= py::ssize_t{0x7fffffffLL} || offsets.data()[count] > data.size()) {
                throw std::invalid_argument("match_identifiers: strings or animals of wrong sizes");
            }
            auto found = new_array<std::int32_t>(count);
            auto outside = new_array<std::int32_t>(count);
            const Strings strings{count, offsets.data(), data.data()};
            std::vector<std::int64_t> first;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                first = match_identifiers(strings, n, found.mutable_data(), outside.mutable_data(), pace, Pages::large,
                                          threads);
            }
            return py::make_tuple(found, outside, new_array(static_cast<py::ssize_t>(first.size()), first.data()));
        },
        py::arg("offsets").noconvert(), py::arg("data").noconvert(), py::arg("n"), py::arg("threads") = 1);
}

}  // namespace tolmkit
