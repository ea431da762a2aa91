// match_identifiers: the pedigree reader's matching of parents to animals.
#include <stdexcept>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "identifiers.hpp"

namespace tolmkit {

void register_identifiers(py::module_& m) {
    m.def(
        "match_identifiers",
        [](const py::list& laid_out, std::int64_t n, int threads) {
            require_threads(threads, "match_identifiers");
            // The arrays, held while the lock is let go.
            std::vector<std::pair<Integers, Bytes>> held;
            const Strings strings = laid_out_strings(laid_out, held, "match_identifiers");
            const std::int64_t count = strings.count();
            if (n < 0 || count < 3 * n || count >= std::int64_t{0x7fffffffLL}) {
                throw std::invalid_argument("match_identifiers: strings or animals of wrong sizes");
            }
            auto found = new_array<std::int32_t>(count);
            Outside outside;
            {
                const py::gil_scoped_release released;
                Pacer pace = signal_pacer();
                outside = match_identifiers(strings, n, found.mutable_data(), pace, Pages::large, threads);
            }
            const auto size = static_cast<py::ssize_t>(outside.entry.size());
            return py::make_tuple(found, new_array(size, outside.entry.data()), new_array(size, outside.name.data()),
                                  new_array(static_cast<py::ssize_t>(outside.first.size()), outside.first.data()));
        },
        py::arg("laid_out"), py::arg("n"), py::arg("threads") = 1);
}

}  // namespace tolmkit
