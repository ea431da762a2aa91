// write_lines and format_texts: the lines of the tables that the command
// writes, from numpy's numbers and pyarrow's or Python's text.
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "bindings.hpp"
#include "writing.hpp"

namespace tolmkit {

namespace {

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
Column column_of(const py::handle& item, py::ssize_t& rows) {
    const auto same_rows = [&rows](py::ssize_t size) {
        if (rows >= 0 && size != rows) {
            throw std::invalid_argument("write_lines: columns of different lengths");
        }
        rows = size;
    };
    if (py::isinstance<Reals>(item) || py::isinstance<Longs>(item)) {
        const auto values = py::reinterpret_borrow<py::array>(item);
        if (values.ndim() != 1) {
            throw std::invalid_argument("write_lines: numbers in an array of one dimension");
        }
        same_rows(values.size());
        const bool reals = py::isinstance<Reals>(item);
        return {reals ? static_cast<const double*>(values.data()) : nullptr,
                reals ? nullptr : static_cast<const std::int64_t*>(values.data()),
                {}};
    }
    const bool pair_of_arrays = py::isinstance<py::tuple>(item) && py::len(item) == 2 &&
                                py::isinstance<Longs>(item[py::int_(0)]) && py::isinstance<Bytes>(item[py::int_(1)]);
    if (!pair_of_arrays) {
        throw std::invalid_argument(
            "write_lines: a column is a float64 or int64 array, or (int64 offsets, uint8 text)");
    }
    const auto pair = py::reinterpret_borrow<py::tuple>(item);
    const auto offsets = py::reinterpret_borrow<Longs>(pair[0]);
    const auto text = py::reinterpret_borrow<Bytes>(pair[1]);
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

void register_writing(py::module_& m) {
    m.def(
        "write_lines",
        [](const py::list& items, const std::string& separator_text, int threads) -> py::object {
            // One byte of UTF-8: one ASCII character.
            if (separator_text.size() != 1 || static_cast<unsigned char>(separator_text[0]) >= 0x80) {
                throw std::invalid_argument("write_lines: the separator is one ASCII character");
            }
            const char separator = separator_text[0];
            py::ssize_t rows = -1;
            std::vector<Column> columns;
            for (const py::handle item : items) {
                columns.push_back(column_of(item, rows));
            }
            if (columns.empty()) {
                throw std::invalid_argument("write_lines: no columns");
            }
            const auto count = static_cast<std::int64_t>(columns.size());
            bool quoted = false;
            {
                const py::gil_scoped_release released;
                quoted = need_quotes(columns.data(), count, rows, separator);
            }
            if (quoted) {
                return py::none();
            }
            const std::int64_t size = lines_bound(columns.data(), count, rows);
            const auto text = py::reinterpret_steal<py::object>(PyByteArray_FromStringAndSize(nullptr, size));
            if (!text) {
                throw py::error_already_set();
            }
            char* const out = PyByteArray_AS_STRING(text.ptr());
            std::int64_t written = 0;
            {
                const py::gil_scoped_release released;
                written = write_lines(columns.data(), count, rows, separator, out, size, threads);
            }
            if (PyByteArray_Resize(text.ptr(), written) != 0) {
                throw py::error_already_set();
            }
            return text;
        },
        py::arg("columns"), py::arg("separator"), py::arg("threads"));
    m.def(
        "format_texts",
        [](const py::array& objects, const py::object& missing) -> py::object {
            // By kind: an object dtype read back from a pickle is not numpy's own instance.
            if (objects.dtype().kind() != 'O' || !(objects.flags() & py::array::c_style)) {
                throw std::invalid_argument("objects must be a contiguous array of objects");
            }
            auto* const* items = static_cast<PyObject* const*>(objects.data());
            auto offsets = new_array<std::int64_t>(objects.size() + 1);
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
            constexpr py::ssize_t ahead = 16;
            for (py::ssize_t i = 0; i < objects.size(); ++i) {
                if (i + ahead < objects.size()) {
                    const char* object = reinterpret_cast<const char*>(items[i + ahead]);
                    __builtin_prefetch(object);
                    __builtin_prefetch(object + 64);  // the text of a short str, past its header
                }
                if (!text_of(items[i], missing.ptr(), text, size)) {
                    return py::none();
                }
                joined.append(text, static_cast<std::size_t>(size));
                at[i + 1] = at[i] + size;
            }
            return py::make_tuple(offsets, py::bytes(joined));
        },
        py::arg("objects"), py::arg("missing"));
}

}  // namespace tolmkit
