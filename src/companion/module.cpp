// tolmkit._native: the loops of tolmkit that numpy cannot vectorize, each
// concern's functions registered by a function of its own (register_*.cpp)
// over plain C++ routines that build and are tested without Python.
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "dominance.hpp"

namespace tolmkit {

void require_size(const py::array& array, py::ssize_t size, const char* name) {
    if (array.size() < size) {
        throw std::invalid_argument(std::string(name) + " holds " + std::to_string(array.size()) +
                                    " elements, fewer than " + std::to_string(size));
    }
}

void require_threads(int threads, const char* name) {
    if (threads < 1) {
        throw std::invalid_argument(std::string(name) + ": threads must be positive");
    }
}

Strings laid_out_strings(const py::list& laid_out, std::vector<std::pair<Integers, Bytes>>& held, const char* name) {
    std::vector<Piece> pieces;
    for (const py::handle item : laid_out) {
        auto [offsets, data] = item.cast<std::pair<Integers, Bytes>>();
        const py::ssize_t size = offsets.size() - 1;
        if (size < 0 || offsets.data()[0] < 0 || offsets.data()[size] > data.size()) {
            throw std::invalid_argument(std::string(name) + ": offsets beyond their bytes");
        }
        pieces.push_back({size, offsets.data(), data.data()});
        held.emplace_back(std::move(offsets), std::move(data));
    }
    return Strings(std::move(pieces));
}

Pacer signal_pacer() {
    return Pacer([] {
        const py::gil_scoped_acquire held;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    });
}

}  // namespace tolmkit

PYBIND11_MODULE(_native, m) {
    // Out of memory is MemoryError without pybind11's text ("std::bad_alloc"),
    // as Python's own allocator raises it.
    pybind11::register_local_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) {
                std::rethrow_exception(thrown);
            }
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        }
    });
    m.attr("MISSING_PARENT") = tolm::MISSING_PARENT;
    tolmkit::register_identifiers(m);
    tolmkit::register_ordering(m);
    tolmkit::register_parent_checks(m);
    tolmkit::register_text_checks(m);
    tolmkit::register_writing(m);
    tolmkit::register_relationships(m);
    tolmkit::register_metafounders(m);
    tolmkit::register_kinship(m);
    tolmkit::register_contributions(m);
    tolmkit::register_assembly(m);
    tolmkit::register_inbreeding(m);
}
