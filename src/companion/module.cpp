// tolmkit._native: the loops of tolmkit that numpy cannot vectorize. The
// Python side allocates and sizes every array; the checks here only keep a
// wrong call from writing outside them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dominance.hpp"
#include "identifiers.hpp"
#include "formatting.hpp"
#include "relationships.hpp"

namespace py = pybind11;

namespace {

template <typename T>
using Array = py::array_t<T, py::array::c_style>;
using Integers = Array<std::int32_t>;
using Reals = Array<double>;

void require_size(const py::array& array, py::ssize_t size, const char* name) {
    if (array.size() < size) {
        throw std::invalid_argument(std::string(name) + " holds " + std::to_string(array.size()) +
                                    " elements, fewer than " + std::to_string(size));
    }
}

std::int32_t animals(const Integers& sire) {
    if (sire.size() >= INT32_MAX) {
        throw std::invalid_argument("more animals than int32 numbers");
    }
    return static_cast<std::int32_t>(sire.size());
}

tolmkit::Herd herd(const Integers& sire, const Integers& dam, const Reals& sampling_var,
                   const Integers& members, const Integers& position, const Integers& oldest) {
    const std::int32_t n = animals(sire);
    require_size(dam, n, "dam");
    require_size(sampling_var, n, "sampling_var");
    require_size(members, n, "members");
    require_size(position, n, "position");
    require_size(oldest, n, "oldest");
    return {n, sire.data(), dam.data(), sampling_var.data(), members.data(), position.data(), oldest.data()};
}

// A compressed-row matrix of n rows, its index arrays checked against each other.
std::int32_t rows_of(const Integers& indptr, const Integers& indices, const Reals& data) {
    if (indptr.size() < 1) {
        throw std::invalid_argument("indptr is empty");
    }
    const auto n = static_cast<std::int32_t>(indptr.size() - 1);
    require_size(indices, indptr.data()[n], "indices");
    require_size(data, indptr.data()[n], "data");
    return n;
}

// The UTF-8 text of a Python object that pandas writes as text: a str as it
// is, None, a float NaN and `missing` (pandas' NA) as nothing. False for any
// other object.
bool text_of(PyObject* object, PyObject* missing, const char*& text, Py_ssize_t& size) {
    size = 0;
    if (PyUnicode_Check(object)) {
        text = PyUnicode_AsUTF8AndSize(object, &size);
        if (text == nullptr) {
            throw py::error_already_set();
        }
        return true;
    }
    return object == Py_None || object == missing || (PyFloat_Check(object) && std::isnan(PyFloat_AS_DOUBLE(object)));
}

// A column of write_lines from a float64 or int64 array of numbers, or from
// an (offsets, text) pair of fields; `rows` is the length of the columns.
tolmkit::Column column_of(const py::handle& item, py::ssize_t& rows) {
    const auto same_rows = [&rows](py::ssize_t size) {
        if (rows >= 0 && size != rows) {
            throw std::invalid_argument("write_lines: columns of different lengths");
        }
        rows = size;
    };
    if (py::isinstance<Array<double>>(item) || py::isinstance<Array<std::int64_t>>(item)) {
        const auto values = py::reinterpret_borrow<py::array>(item);
        if (values.ndim() != 1) {
            throw std::invalid_argument("write_lines: numbers in an array of one dimension");
        }
        same_rows(values.size());
        const bool reals = py::isinstance<Array<double>>(item);
        return {reals ? static_cast<const double*>(values.data()) : nullptr,
                reals ? nullptr : static_cast<const std::int64_t*>(values.data()), {}};
    }
    const bool pair_of_arrays = py::isinstance<py::tuple>(item) && py::len(item) == 2 &&
                                py::isinstance<Array<std::int64_t>>(item[py::int_(0)]) &&
                                py::isinstance<Array<std::uint8_t>>(item[py::int_(1)]);
    if (!pair_of_arrays) {
        throw std::invalid_argument("write_lines: a column is a float64 or int64 array, or (int64 offsets, uint8 text)");
    }
    const auto pair = py::reinterpret_borrow<py::tuple>(item);
    const auto offsets = py::reinterpret_borrow<Array<std::int64_t>>(pair[0]);
    const auto text = py::reinterpret_borrow<Array<std::uint8_t>>(pair[1]);
    same_rows(offsets.size() - 1);
    const std::int64_t* at = offsets.data();
    for (py::ssize_t i = 0; i < rows; ++i) {
        if (at[i] < 0 || at[i] > at[i + 1] || at[i + 1] > text.size()) {
            throw std::invalid_argument("write_lines: offsets outside the text");
        }
    }
    return {nullptr, nullptr, {at, reinterpret_cast<const char*>(text.data()), text.size()}};
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.attr("MISSING_PARENT") = tolm::MISSING_PARENT;
    m.def(
        "match_identifiers",
        [](const Array<std::int64_t>& offsets, const Array<std::uint8_t>& data, std::int64_t n,
           Array<std::int64_t>& found, Array<std::int64_t>& outside, Array<std::int64_t>& first) {
            const py::ssize_t count = offsets.size() - 1;
            if (count < 3 * n || n < 0 || count >= py::ssize_t{0xffffffffLL} || offsets.data()[count] > data.size()) {
                throw std::invalid_argument("match_identifiers: strings or animals of wrong sizes");
            }
            require_size(found, count, "found");
            require_size(outside, count, "outside");
            require_size(first, count, "first");
            const tolmkit::Strings strings{count, offsets.data(), data.data()};
            py::gil_scoped_release released;
            return tolmkit::match_identifiers(strings, n, found.mutable_data(), outside.mutable_data(),
                                              first.mutable_data());
        },
        py::arg("offsets").noconvert(), py::arg("data").noconvert(), py::arg("n"), py::arg("found").noconvert(),
        py::arg("outside").noconvert(), py::arg("first").noconvert());
    // The scans of a file's text for what it must not hold: an offset, or −1.
    using Scan = std::int64_t (*)(const std::uint8_t*, std::int64_t);
    for (const auto& [name, scan] : {std::pair<const char*, Scan>{"first_control", tolmkit::first_control},
                                     std::pair<const char*, Scan>{"unclosed_quote", tolmkit::unclosed_quote}}) {
        m.def(
            name,
            [scan = scan](const Array<std::uint8_t>& text) {
                py::gil_scoped_release released;
                return scan(text.data(), text.size());
            },
            py::arg("text").noconvert());
    }
    m.def(
        "generations",
        [](const Array<std::int64_t>& sire, const Array<std::int64_t>& dam, Array<std::int64_t>& generation,
           Array<std::int64_t>& order, Array<std::int64_t>& work) {
            const py::ssize_t n = sire.size();
            require_size(dam, n, "dam");
            require_size(generation, n, "generation");
            require_size(order, n, "order");
            require_size(work, n + 1, "work");
            for (py::ssize_t i = 0; i < n; ++i) {
                if (sire.data()[i] < -1 || sire.data()[i] >= n || dam.data()[i] < -1 || dam.data()[i] >= n) {
                    throw std::invalid_argument("generations: a parent outside -1 .. n - 1");
                }
            }
            py::gil_scoped_release released;
            return tolmkit::generations(n, sire.data(), dam.data(), generation.mutable_data(), order.mutable_data(),
                                        work.mutable_data());
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("generation").noconvert(),
        py::arg("order").noconvert(), py::arg("work").noconvert());
    m.def(
        "oldest_ancestors",
        [](const Integers& sire, const Integers& dam, const Reals& sampling_var, const Integers& members,
           const Integers& position, Integers& oldest) {
            tolmkit::oldest_ancestors(herd(sire, dam, sampling_var, members, position, oldest),
                                      oldest.mutable_data());
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sampling_var").noconvert(),
        py::arg("members").noconvert(), py::arg("position").noconvert(), py::arg("oldest").noconvert());
    m.def(
        "count_relationships",
        [](const Integers& sire, const Integers& dam, const Reals& sampling_var, const Integers& members,
           const Integers& position, const Integers& oldest, Reals& work, Integers& lower_count,
           std::optional<Integers> column_count, std::int64_t max_elements) {
            const tolmkit::Herd h = herd(sire, dam, sampling_var, members, position, oldest);
            require_size(work, py::ssize_t{h.n} + 1, "work");
            require_size(lower_count, h.n, "lower_count");
            if (column_count) {
                require_size(*column_count, h.n, "column_count");
            }
            const tolmkit::Count count = tolmkit::count_relationships(
                h, work.mutable_data(), lower_count.mutable_data(),
                column_count ? column_count->mutable_data() : nullptr, max_elements);
            return std::make_pair(count.rows, count.elements);
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sampling_var").noconvert(),
        py::arg("members").noconvert(), py::arg("position").noconvert(), py::arg("oldest").noconvert(),
        py::arg("work").noconvert(), py::arg("lower_count").noconvert(),
        py::arg("column_count").noconvert().none(true), py::arg("max_elements"));
    m.def(
        "fill_relationships",
        [](const Integers& sire, const Integers& dam, const Reals& sampling_var, const Integers& members,
           const Integers& position, const Integers& oldest, Reals& work, double scale, const Integers& indptr,
           std::optional<Integers> cursor, std::optional<Integers> reading, Integers& indices, Reals& data) {
            const tolmkit::Herd h = herd(sire, dam, sampling_var, members, position, oldest);
            require_size(work, py::ssize_t{h.n} + 1, "work");
            require_size(indptr, py::ssize_t{h.n} + 1, "indptr");
            rows_of(indptr, indices, data);
            if (cursor.has_value() != reading.has_value()) {
                throw std::invalid_argument("cursor and reading go together");
            }
            if (cursor) {
                require_size(*cursor, h.n, "cursor");
                require_size(*reading, h.n, "reading");
            }
            tolmkit::fill_relationships(h, work.mutable_data(), scale, indptr.data(),
                                        cursor ? cursor->mutable_data() : nullptr,
                                        reading ? reading->mutable_data() : nullptr, indices.mutable_data(),
                                        data.mutable_data());
        },
        py::arg("sire").noconvert(), py::arg("dam").noconvert(), py::arg("sampling_var").noconvert(),
        py::arg("members").noconvert(), py::arg("position").noconvert(), py::arg("oldest").noconvert(),
        py::arg("work").noconvert(), py::arg("scale"), py::arg("indptr").noconvert(),
        py::arg("cursor").noconvert().none(true), py::arg("reading").noconvert().none(true),
        py::arg("indices").noconvert(), py::arg("data").noconvert());
    m.def(
        "with_diagonal",
        [](const Integers& indptr, const Integers& indices, const Reals& data, const Reals& diagonal,
           const Integers& out_indptr, std::optional<Integers> cursor, Integers& out_indices, Reals& out_data) {
            const std::int32_t n = rows_of(indptr, indices, data);
            require_size(diagonal, n, "diagonal");
            require_size(out_indptr, py::ssize_t{n} + 1, "out_indptr");
            rows_of(out_indptr, out_indices, out_data);
            if (cursor) {
                require_size(*cursor, n, "cursor");
            }
            tolmkit::with_diagonal(n, indptr.data(), indices.data(), data.data(), diagonal.data(),
                                   out_indptr.data(), cursor ? cursor->mutable_data() : nullptr,
                                   out_indices.mutable_data(), out_data.mutable_data());
        },
        py::arg("indptr").noconvert(), py::arg("indices").noconvert(), py::arg("data").noconvert(),
        py::arg("diagonal").noconvert(), py::arg("out_indptr").noconvert(), py::arg("cursor").noconvert().none(true),
        py::arg("out_indices").noconvert(), py::arg("out_data").noconvert());
    m.def(
        "count_triangles",
        [](const Integers& indptr, const Integers& indices, const Reals& data) {
            const std::int32_t n = rows_of(indptr, indices, data);
            const tolmkit::Triangles found = tolmkit::count_triangles(n, indptr.data(), indices.data());
            return std::make_pair(found.below, found.above);
        },
        py::arg("indptr").noconvert(), py::arg("indices").noconvert(), py::arg("data").noconvert());
    m.def(
        "symmetric",
        [](const Integers& indptr, const Integers& indices, const Reals& data, Integers& next) {
            const std::int32_t n = rows_of(indptr, indices, data);
            require_size(next, n, "next");
            return tolmkit::symmetric(n, indptr.data(), indices.data(), data.data(), next.mutable_data());
        },
        py::arg("indptr").noconvert(), py::arg("indices").noconvert(), py::arg("data").noconvert(),
        py::arg("next").noconvert());
    m.def(
        "first_asymmetric",
        [](const Integers& indptr, const Integers& indices, const Reals& data) {
            const std::int32_t n = rows_of(indptr, indices, data);
            const tolmkit::Element found = tolmkit::first_asymmetric(n, indptr.data(), indices.data(), data.data());
            return std::make_pair(found.row, found.column);
        },
        py::arg("indptr").noconvert(), py::arg("indices").noconvert(), py::arg("data").noconvert());
    m.def(
        "lower_part",
        [](const Integers& indptr, const Integers& indices, const Reals& data, Integers& out_indptr,
           Integers& out_indices, Reals& out_data) {
            const std::int32_t n = rows_of(indptr, indices, data);
            require_size(out_indptr, py::ssize_t{n} + 1, "out_indptr");
            const tolmkit::Triangles found = tolmkit::count_triangles(n, indptr.data(), indices.data());
            const std::int64_t kept = std::int64_t{indptr.data()[n]} - found.above;
            require_size(out_indices, kept, "out_indices");
            require_size(out_data, kept, "out_data");
            tolmkit::lower_part(n, indptr.data(), indices.data(), data.data(), out_indptr.mutable_data(),
                                out_indices.mutable_data(), out_data.mutable_data());
        },
        py::arg("indptr").noconvert(), py::arg("indices").noconvert(), py::arg("data").noconvert(),
        py::arg("out_indptr").noconvert(), py::arg("out_indices").noconvert(), py::arg("out_data").noconvert());
    m.def(
        "write_lines",
        [](const py::list& items, const std::string& separator_text, const py::object& buffer) -> py::object {
            // One byte of UTF-8: one ASCII character.
            if (separator_text.size() != 1 || static_cast<unsigned char>(separator_text[0]) >= 0x80) {
                throw std::invalid_argument("write_lines: the separator is one ASCII character");
            }
            const char separator = separator_text[0];
            if (!PyByteArray_Check(buffer.ptr())) {
                throw std::invalid_argument("write_lines: the buffer is a bytearray");
            }
            py::ssize_t rows = -1;
            std::vector<tolmkit::Column> columns;
            for (const py::handle item : items) {
                columns.push_back(column_of(item, rows));
            }
            if (columns.empty()) {
                throw std::invalid_argument("write_lines: no columns");
            }
            const auto count = static_cast<std::int64_t>(columns.size());
            {
                py::gil_scoped_release released;
                if (tolmkit::need_quotes(columns.data(), count, rows, separator)) {
                    return py::none();
                }
            }
            const std::int64_t size = tolmkit::lines_bound(columns.data(), count, rows);
            // Grown, never shrunk: the caller hands the same buffer for each chunk.
            if (PyByteArray_GET_SIZE(buffer.ptr()) < size && PyByteArray_Resize(buffer.ptr(), size) != 0) {
                throw py::error_already_set();
            }
            char* out = PyByteArray_AS_STRING(buffer.ptr());
            std::int64_t written = 0;
            {
                py::gil_scoped_release released;
                written = tolmkit::write_lines(columns.data(), count, rows, separator, out, size);
            }
            return py::int_(written);
        },
        py::arg("columns"), py::arg("separator"), py::arg("buffer"));
    m.def(
        "format_texts",
        [](const py::array& objects, const py::object& missing, Array<std::int64_t>& offsets) -> py::object {
            // By kind: an object dtype read back from a pickle is not numpy's own instance.
            if (objects.dtype().kind() != 'O' || !(objects.flags() & py::array::c_style)) {
                throw std::invalid_argument("objects must be a contiguous array of objects");
            }
            require_size(offsets, objects.size() + 1, "offsets");
            auto* const* items = static_cast<PyObject* const*>(objects.data());
            std::int64_t* at = offsets.mutable_data();
            // One pass over the objects, which lie all over memory; the text is
            // copied once more, in one piece.
            std::string joined;
            joined.reserve(static_cast<std::size_t>(objects.size()) * 16);
            const char* text = nullptr;
            Py_ssize_t size = 0;
            at[0] = 0;
            // Objects named in an order of their own (the parents of a table's
            // rows) are each a fetch from memory: asked for ahead, the fetches overlap.
            constexpr py::ssize_t kAhead = 16;
            for (py::ssize_t i = 0; i < objects.size(); ++i) {
                if (i + kAhead < objects.size()) {
                    const char* ahead = reinterpret_cast<const char*>(items[i + kAhead]);
                    __builtin_prefetch(ahead);
                    __builtin_prefetch(ahead + 64);  // the text of a short str, past its header
                }
                if (!text_of(items[i], missing.ptr(), text, size)) {
                    return py::none();
                }
                joined.append(text, static_cast<std::size_t>(size));
                at[i + 1] = at[i] + size;
            }
            return py::bytes(joined);
        },
        py::arg("objects"), py::arg("missing"), py::arg("offsets").noconvert());
}
