// What the bindings of tolmkit._native share: numpy arrays of the types the
// routines take, the checks that keep a wrong call from reaching outside
// them, the pace at which long routines look for Ctrl-C, and the
// registration of each concern's functions.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "pacer.hpp"
#include "pieces.hpp"

namespace tolmkit {

namespace py = pybind11;

template <typename T>
using Array = py::array_t<T, py::array::c_style>;
using Integers = Array<std::int32_t>;
using Reals = Array<double>;
using Longs = Array<std::int64_t>;
using Bytes = Array<std::uint8_t>;

// A new array of `size` elements, copied from `from` unless it is null. Its
// shape given as a list, which gives strides from sizeof(T): pybind11 before
// 2.12 reads a dtype's item size in numpy 1's layout, and under numpy 2 an
// array of a count alone would have strides of 0.
template <typename T>
Array<T> new_array(py::ssize_t size, const T* from = nullptr) {
    return Array<T>(std::vector<py::ssize_t>{size}, from);
}

// Refuses an array of fewer than `size` elements.
void require_size(const py::array& array, py::ssize_t size, const char* name);

// Refuses a count of threads below one; `name` names the function.
void require_threads(int threads, const char* name);

// The strings of a list of (offsets, bytes) pairs, pyarrow's chunks as
// tolmkit._arrow lays them out, numbered on from one pair to the next; the
// arrays are kept in `held` while the strings are read. `name` names the
// function in the message of an offset beyond its bytes.
Strings laid_out_strings(const py::list& laid_out, std::vector<std::pair<Integers, Bytes>>& held, const char* name);

// A pacer for a routine that runs without the interpreter's lock: its check
// takes the lock for a moment and runs the handlers of the signals that
// came, throwing what they raise (Python's own raises KeyboardInterrupt after
// Ctrl-C). Only the main thread runs them; elsewhere the check does nothing.
Pacer signal_pacer();

void register_identifiers(py::module_& m);
void register_ordering(py::module_& m);
void register_parent_checks(py::module_& m);
void register_text_checks(py::module_& m);
void register_writing(py::module_& m);
void register_relationships(py::module_& m);
void register_metafounders(py::module_& m);
void register_kinship(py::module_& m);
void register_contributions(py::module_& m);
void register_assembly(py::module_& m);
void register_inbreeding(py::module_& m);

}  // namespace tolmkit
