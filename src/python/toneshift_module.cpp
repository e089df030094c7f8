// toneshift._toneshift: the C interface (include/toneshift/toneshift.h) as seen from Python.
//
// This layer only moves bytes and numbers across: statuses come back as numbers and the
// package (toneshift/__init__.py) turns them into exceptions and objects. Every call into the
// library runs with the GIL released, on bytes that cannot change meanwhile: an exact `bytes`
// object is immutable and the call holds a reference to it; anything else that exports a
// buffer (bytearray, memoryview, mmap) is copied first, since another thread may write to it.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "toneshift/toneshift.h"

namespace py = pybind11;

namespace {

// The bytes of a Python object, stable while the GIL is released.
class InputBytes {
  public:
    explicit InputBytes(const py::handle& object) {
        if (PyBytes_CheckExact(object.ptr())) {
            keep_ = py::reinterpret_borrow<py::object>(object);
            data_ = PyBytes_AS_STRING(object.ptr());
            size_ = static_cast<size_t>(PyBytes_GET_SIZE(object.ptr()));
            return;
        }
        if (PyUnicode_Check(object.ptr())) throw py::type_error("expected bytes, not str");
        Py_buffer view;
        if (PyObject_GetBuffer(object.ptr(), &view, PyBUF_SIMPLE) != 0)
            throw py::error_already_set();
        try {
            copy_.assign(static_cast<const char*>(view.buf), static_cast<size_t>(view.len));
        } catch (...) {
            PyBuffer_Release(&view);
            throw;
        }
        PyBuffer_Release(&view);
        data_ = copy_.data();
        size_ = copy_.size();
    }
    const char* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    py::object keep_;
    std::string copy_;
    const char* data_ = nullptr;
    size_t size_ = 0;
};

// A bytes object holding a copy of data[0..size). The object is made with the GIL held, but a
// large copy (and the first touch of its pages) is done without it, so that threads
// converting at once do not wait on each other's copies.
py::bytes bytes_of(const char* data, size_t size) {
    PyObject* object = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (object == nullptr) throw py::error_already_set();
    char* into = PyBytes_AS_STRING(object);
    if (size >= (size_t(64) << 10)) {
        py::gil_scoped_release release;
        std::memcpy(into, data, size);
    } else if (size != 0) {
        std::memcpy(into, data, size);
    }
    return py::reinterpret_steal<py::bytes>(object);
}

// Memory the library allocated, freed with ts_free.
struct LibraryFree {
    void operator()(void* memory) const { ts_free(memory); }
};
using LibraryMemory = std::unique_ptr<char, LibraryFree>;

// (kind, offset, line, column, character, bytes): the package builds its exceptions from it.
py::tuple problem_tuple(const ts_problem& p) {
    return py::make_tuple(p.kind, p.offset, p.line, p.column, p.character,
                          py::bytes(reinterpret_cast<const char*>(p.bytes),
                                    static_cast<size_t>(std::clamp(p.byte_count, 0, 4))));
}

ts_options make_options(int from, int to, int policy, int form, int tone_style, bool fix_tones,
                        bool repair) {
    ts_options o;
    ts_options_init(&o, from, to);
    o.policy = policy;
    o.form = form;
    o.tone_style = tone_style;
    o.fix_tones = fix_tones ? 1 : 0;
    o.repair = repair ? 1 : 0;
    return o;
}

// One call: (status, output or None, problem count, first problem or None).
py::tuple convert_buffer(const py::handle& data, int from, int to, int policy, int form,
                         int tone_style, bool fix_tones) {
    const InputBytes in(data);
    const ts_options options = make_options(from, to, policy, form, tone_style, fix_tones, false);
    char* out = nullptr;
    size_t out_size = 0;
    ts_problem problem{};
    uint64_t count = 0;
    int status;
    {
        py::gil_scoped_release release;
        status =
            ts_convert_buffer(&options, in.data(), in.size(), &out, &out_size, &problem, &count);
    }
    const LibraryMemory owned(out);
    py::object result = py::none();
    if (status == TS_OK) result = bytes_of(out, out_size);
    py::object first = py::none();
    if (count != 0) first = problem_tuple(problem);
    return py::make_tuple(status, result, count, first);
}

// A streaming converter. Calls on one object are serialised by its mutex, taken with the GIL
// released, so Python threads sharing one converter wait for each other instead of racing.
class Converter {
  public:
    Converter(int from, int to, int policy, int form, int tone_style, bool fix_tones, bool repair) {
        const ts_options options =
            make_options(from, to, policy, form, tone_style, fix_tones, repair);
        const int status = ts_converter_new(&options, &converter_);
        if (status != TS_OK) throw py::value_error(ts_status_message(status));
    }
    ~Converter() { ts_converter_free(converter_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // (status, output): the output is everything written, up to a refusal if there was one.
    py::tuple convert(const py::handle& data, bool last) {
        const InputBytes in(data);
        std::string out;
        int status = TS_OK;
        {
            py::gil_scoped_release release;
            const std::lock_guard<std::mutex> lock(mutex_);
            // Room for a typical expansion and the converter's slack, doubled when it asks for
            // more.
            out.resize(in.size() + in.size() / 2 + 4096);
            size_t used = 0;
            size_t filled = 0;
            for (;;) {
                size_t consumed = 0;
                size_t written = 0;
                int stop = TS_STOP_INPUT_USED;
                status =
                    ts_convert(converter_, in.data() + used, in.size() - used, out.data() + filled,
                               out.size() - filled, last ? 1 : 0, &consumed, &written, &stop);
                used += consumed;
                filled += written;
                if (status != TS_OK || stop != TS_STOP_OUTPUT_FULL) break;
                out.resize(out.size() * 2);
            }
            out.resize(filled);
        }
        return py::make_tuple(status, bytes_of(out.data(), out.size()));
    }

    int reset() {
        py::gil_scoped_release release;
        const std::lock_guard<std::mutex> lock(mutex_);
        return ts_converter_reset(converter_);
    }
    uint64_t problem_count() {
        py::gil_scoped_release release;
        const std::lock_guard<std::mutex> lock(mutex_);
        return ts_converter_problem_count(converter_);
    }
    py::object first_problem() {
        ts_problem problem{};
        int status;
        {
            py::gil_scoped_release release;
            const std::lock_guard<std::mutex> lock(mutex_);
            status = ts_converter_first_problem(converter_, &problem);
        }
        if (status != TS_OK) return py::none();
        return problem_tuple(problem);
    }
    // [(character, count)], most frequent first.
    std::vector<std::pair<uint32_t, uint64_t>> lost() {
        std::vector<std::pair<uint32_t, uint64_t>> result;
        {
            py::gil_scoped_release release;
            const std::lock_guard<std::mutex> lock(mutex_);
            const size_t n = ts_converter_lost(converter_, nullptr, nullptr, 0);
            std::vector<uint32_t> characters(n);
            std::vector<uint64_t> counts(n);
            const size_t got = ts_converter_lost(converter_, characters.data(), counts.data(), n);
            for (size_t i = 0; i < std::min(n, got); ++i)
                result.emplace_back(characters[i], counts[i]);
        }
        return result;
    }
    // (tones changed, characters repaired, unrecovered, repair summary).
    py::tuple counts() {
        uint64_t tones;
        uint64_t repaired;
        uint64_t unrecovered;
        std::string summary;
        {
            py::gil_scoped_release release;
            const std::lock_guard<std::mutex> lock(mutex_);
            tones = ts_converter_tones_changed(converter_);
            repaired = ts_converter_repaired(converter_);
            unrecovered = ts_converter_unrecovered(converter_);
            const char* text = ts_converter_repair_summary(converter_);
            summary = text != nullptr ? text : "";
        }
        return py::make_tuple(tones, repaired, unrecovered, summary);
    }

  private:
    ts_converter* converter_ = nullptr;
    std::mutex mutex_;
};

// (verdict, format, summary, garbled, candidates, ranges [(first, last, format)]).
py::tuple detect(const py::handle& data) {
    const InputBytes in(data);
    int status;
    int verdict = TS_DETECT_UNKNOWN;
    int format = -1;
    int garbled = 0;
    std::string summary;
    std::vector<int> candidates;
    std::vector<std::tuple<uint64_t, uint64_t, int>> ranges;
    {
        py::gil_scoped_release release;
        ts_detection* detection = nullptr;
        status = ts_detect(in.data(), in.size(), &detection);
        if (status == TS_OK) {
            verdict = ts_detection_verdict(detection);
            format = ts_detection_format(detection);
            garbled = ts_detection_garbled(detection);
            summary = ts_detection_summary(detection);
            const size_t n = ts_detection_candidate_count(detection);
            for (size_t i = 0; i < n; ++i)
                candidates.push_back(ts_detection_candidate(detection, i));
            const size_t r = ts_detection_range_count(detection);
            for (size_t i = 0; i < r; ++i) {
                uint64_t first = 0;
                uint64_t last = 0;
                int f = -1;
                if (ts_detection_range(detection, i, &first, &last, &f) == TS_OK)
                    ranges.emplace_back(first, last, f);
            }
        }
        ts_detection_free(detection);
    }
    if (status != TS_OK) throw py::value_error(ts_status_message(status));
    return py::make_tuple(verdict, format, summary, garbled != 0, candidates, ranges);
}

struct DocumentOptions {
    ts_document_options options;
    std::optional<std::string> unicode_font;
    std::optional<std::string> font_map;

    DocumentOptions(int policy, int form, std::optional<std::string> font,
                    std::optional<std::string> map)
        : unicode_font(std::move(font)), font_map(std::move(map)) {
        ts_document_options_init(&options);
        options.policy = policy;
        options.form = form;
        options.unicode_font = unicode_font ? unicode_font->c_str() : nullptr;
        options.font_map = font_map ? font_map->c_str() : nullptr;
    }
};

py::tuple report_tuple(const ts_document_report& r) {
    return py::make_tuple(r.problem_count, r.parts_changed, r.fonts, r.left);
}

std::string take_message(char* message) {
    const LibraryMemory owned(message);
    return message != nullptr ? std::string(message) : std::string();
}

// (status, document or None, report, message).
py::tuple convert_document(const py::handle& data, int policy, int form,
                           std::optional<std::string> unicode_font,
                           std::optional<std::string> font_map) {
    const InputBytes in(data);
    const DocumentOptions o(policy, form, std::move(unicode_font), std::move(font_map));
    char* out = nullptr;
    size_t out_size = 0;
    ts_document_report report{};
    char* message = nullptr;
    int status;
    {
        py::gil_scoped_release release;
        status = ts_convert_document(in.data(), in.size(), &o.options, &out, &out_size, &report,
                                     &message);
    }
    const LibraryMemory owned(out);
    const std::string words = take_message(message);
    py::object result = py::none();
    if (status == TS_OK) result = py::bytes(out, out_size);
    return py::make_tuple(status, result, report_tuple(report), words);
}

// (status, report, message).
py::tuple convert_document_file(const std::string& source, const std::string& destination,
                                int policy, int form, std::optional<std::string> unicode_font,
                                std::optional<std::string> font_map) {
    const DocumentOptions o(policy, form, std::move(unicode_font), std::move(font_map));
    ts_document_report report{};
    char* message = nullptr;
    int status;
    {
        py::gil_scoped_release release;
        status = ts_convert_document_file(source.c_str(), destination.c_str(), &o.options, &report,
                                          &message);
    }
    const std::string words = take_message(message);
    return py::make_tuple(status, report_tuple(report), words);
}

// [(name, description, is_unicode)] in format number order.
std::vector<std::tuple<std::string, std::string, bool>> formats() {
    std::vector<std::tuple<std::string, std::string, bool>> result;
    for (int f = 0; f < ts_format_count(); ++f) {
        const char* description = ts_format_description(f);
        result.emplace_back(ts_format_name(f), description != nullptr ? description : "",
                            ts_format_is_unicode(f) != 0);
    }
    return result;
}

}  // namespace

PYBIND11_MODULE(_toneshift, m) {
    m.doc() = "The toneshift C interface; use the toneshift package instead.";
    m.attr("OK") = int(TS_OK);
    m.attr("ERR_ARGUMENT") = int(TS_ERR_ARGUMENT);
    m.attr("ERR_REFUSED") = int(TS_ERR_REFUSED);
    m.attr("ERR_MEMORY") = int(TS_ERR_MEMORY);
    m.attr("ERR_IO") = int(TS_ERR_IO);
    m.attr("ERR_DOCUMENT") = int(TS_ERR_DOCUMENT);
    m.attr("ERR_STATE") = int(TS_ERR_STATE);
    m.attr("STRICT") = int(TS_STRICT);
    m.attr("REPLACE") = int(TS_REPLACE);
    m.attr("TRANSLIT") = int(TS_TRANSLIT);
    m.attr("NFC") = int(TS_NFC);
    m.attr("NFD") = int(TS_NFD);
    m.attr("COMPOSITE") = int(TS_COMPOSITE);
    m.attr("TONES_KEEP") = int(TS_TONES_KEEP);
    m.attr("TONES_OLD") = int(TS_TONES_OLD);
    m.attr("TONES_NEW") = int(TS_TONES_NEW);
    m.attr("PROBLEM_LOSS") = int(TS_PROBLEM_LOSS);
    m.attr("PROBLEM_UNDEFINED") = int(TS_PROBLEM_UNDEFINED);
    m.attr("PROBLEM_UNRECOVERED") = int(TS_PROBLEM_UNRECOVERED);
    m.attr("DETECT_FORMAT") = int(TS_DETECT_FORMAT);
    m.attr("DETECT_UNKNOWN") = int(TS_DETECT_UNKNOWN);
    m.attr("DETECT_MIXED") = int(TS_DETECT_MIXED);
    m.attr("UTF8") = int(TS_UTF8);

    m.def("version", [] { return std::string(ts_version()); });
    m.def("status_message", [](int status) { return std::string(ts_status_message(status)); });
    m.def("formats", &formats);
    m.def("format_by_name",
          [](const std::string& name) { return ts_format_by_name(name.c_str()); });
    m.def("convert_buffer", &convert_buffer, py::arg("data"), py::arg("from_"), py::arg("to"),
          py::arg("policy"), py::arg("form"), py::arg("tone_style"), py::arg("fix_tones"));
    m.def("detect", &detect, py::arg("data"));
    m.def("convert_document", &convert_document, py::arg("data"), py::arg("policy"),
          py::arg("form"), py::arg("unicode_font"), py::arg("font_map"));
    m.def("convert_document_file", &convert_document_file, py::arg("source"),
          py::arg("destination"), py::arg("policy"), py::arg("form"), py::arg("unicode_font"),
          py::arg("font_map"));

    py::class_<Converter>(m, "Converter")
        .def(py::init<int, int, int, int, int, bool, bool>(), py::arg("from_"), py::arg("to"),
             py::arg("policy"), py::arg("form"), py::arg("tone_style"), py::arg("fix_tones"),
             py::arg("repair"))
        .def("convert", &Converter::convert, py::arg("data"), py::arg("last"))
        .def("reset", &Converter::reset)
        .def("problem_count", &Converter::problem_count)
        .def("first_problem", &Converter::first_problem)
        .def("lost", &Converter::lost)
        .def("counts", &Converter::counts);
}
