// The compiled half of the Python package: sample sets from NumPy arrays,
// training and scoring on the library API with the GIL released and each
// call's own engine options, Ctrl-C turned into the API's cancellation, the
// library's errors turned into Python's exceptions, mistake lists, model
// files and the recogniser check. The estimator itself is Python
// (programma/_estimator.py).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "programma/api.h"
#include "programma/model.h"
#include "programma/preparation.h"
#include "programma/version.h"

namespace py = pybind11;
using programma::Combine;
using programma::DecisionRule;
using programma::KernelKind;
using programma::LabelKind;
using programma::Model;
using programma::Recogniser;
using programma::SampleSet;
using programma::value_or_throw;

namespace {

using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;
using Indices = py::array_t<int32_t, py::array::c_style | py::array::forcecast>;
using Order = py::array_t<uint32_t, py::array::c_style | py::array::forcecast>;
using Scores = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Raises an error's exception in Python: ValueError for an invalid argument
// or bad data; OSError with the errno and the file for input or output, so
// that a missing file is a FileNotFoundError; MemoryError; and for a
// cancellation that no signal handler raised anything for, KeyboardInterrupt.
void raise_in_python(const programma::Error& error) {
    switch (error.kind) {
        case programma::ErrorKind::invalid_argument:
        case programma::ErrorKind::bad_data: PyErr_SetString(PyExc_ValueError, error.message().c_str()); return;
        case programma::ErrorKind::input_output: {
            if (error.error_number == 0) {
                PyErr_SetString(PyExc_OSError, error.message().c_str());
                return;
            }
            const py::tuple arguments = error.path.empty()
                                            ? py::make_tuple(error.error_number, error.detail)
                                            : py::make_tuple(error.error_number, error.detail, error.path);
            PyErr_SetObject(PyExc_OSError, arguments.ptr());
            return;
        }
        case programma::ErrorKind::out_of_memory: PyErr_SetString(PyExc_MemoryError, error.message().c_str()); return;
        case programma::ErrorKind::cancelled: PyErr_SetString(PyExc_KeyboardInterrupt, error.message().c_str()); return;
    }
}

// The engine's options of the package's calls: the environment's, read once
// when the module is imported; a call may ask for its own thread count.
const programma::EngineOptions& default_options() {
    static const programma::EngineOptions options = programma::options_from_environment();
    return options;
}

programma::EngineOptions options_with(int threads) {
    if (threads < 0) throw py::value_error("the thread count must be 0 (the default) or more");
    programma::EngineOptions options = default_options();
    if (threads > 0) options.threads = unsigned(threads);
    return options;
}

// The parameter and the margin are narrowed to float as the library reads
// them from text.
Recogniser make_recogniser(uint32_t target, KernelKind kind, double parameter, uint32_t epochs, double margin) {
    Recogniser recogniser;
    recogniser.target = target;
    recogniser.kernel = programma::KernelSpec{kind, programma::kernel_parameter(parameter)};
    recogniser.epochs = epochs;
    recogniser.margin = programma::kernel_parameter(margin);
    return recogniser;
}

SampleSet make_samples(const Floats& values, const Floats& labels) {
    if (values.ndim() != 2) throw py::value_error("sample values must be a 2-D array");
    if (labels.ndim() != 1 || labels.shape(0) != values.shape(0)) {
        throw py::value_error("labels must be a 1-D array with one label per row");
    }
    return value_or_throw(programma::samples_from_memory(values.data(), labels.data(), std::size_t(values.shape(0)),
                                                         std::size_t(values.shape(1))));
}

// The rows' features, and their labels, as new arrays.
std::pair<py::array_t<float>, py::array_t<float>> arrays_of(const SampleSet& set) {
    const std::size_t rows = set.rows(), features = set.features();
    py::array_t<float> values({rows, features});
    py::array_t<float> labels(rows);
    float* out = values.mutable_data();
    for (uint32_t r = 0; r < rows; ++r) {
        std::memcpy(out + r * features, set.row(r), features * sizeof(float));
        labels.mutable_data()[r] = set.label(r);
    }
    return {values, labels};
}

// Runs `work(cancel, options)` on its own thread with the GIL released,
// while this thread looks for signals every 50 ms. A Python signal handler
// that raises (Ctrl-C: KeyboardInterrupt) cancels the work; once the worker
// has stopped, that exception is raised here. `threads` is the engine's
// thread count for the run, 0 for the default.
template <typename T, typename Work>
T run_cancellable(int threads, Work&& work) {
    const programma::EngineOptions options = options_with(threads);
    programma::CancelFlag cancel{false};
    std::optional<T> value;
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool interrupted = false;
    {
        py::gil_scoped_release release;
        std::thread worker([&] {
            try {
                value.emplace(value_or_throw(work(&cancel, options)));
            } catch (...) {
                failure = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(mutex);
            done = true;
            finished.notify_one();
        });
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) {
            lock.unlock();
            {
                py::gil_scoped_acquire acquire;
                interrupted = PyErr_CheckSignals() != 0;  // the exception stays set for this thread
            }
            lock.lock();
            if (interrupted) {
                cancel = true;
                break;
            }
        }
        lock.unlock();
        worker.join();
    }
    if (interrupted) throw py::error_already_set();
    if (failure) std::rethrow_exception(failure);
    return std::move(*value);
}

// The library's check of a recogniser: None, or the field at fault and what
// is wrong, for the estimator to name its own parameter.
py::object checked(const Recogniser& recogniser) {
    const programma::Status status = programma::check(recogniser);
    if (status) return py::none();
    return py::make_tuple(status.error().field, status.error().detail);
}

std::vector<int32_t> list_of(const Indices& mistakes) {
    if (mistakes.ndim() != 1) throw py::value_error("a mistake list must be a 1-D array");
    return std::vector<int32_t>(mistakes.data(), mistakes.data() + mistakes.shape(0));
}

// A training order from Python: None (file order) or a 1-D array of rows.
std::vector<uint32_t> order_of(const std::optional<Order>& order) {
    if (!order) return {};
    if (order->ndim() != 1) throw py::value_error("an order must be a 1-D array");
    return std::vector<uint32_t>(order->data(), order->data() + order->shape(0));
}

py::array_t<int32_t> array_of(const std::vector<int32_t>& list) {
    return py::array_t<int32_t>(py::ssize_t(list.size()), list.data());
}

// A table of scores[recogniser][row] as a 2-D float64 array, and back.
Scores table_of(const std::vector<std::vector<double>>& scores, std::size_t rows) {
    Scores table({py::ssize_t(scores.size()), py::ssize_t(rows)});
    for (std::size_t r = 0; r < scores.size(); ++r) {
        std::copy(scores[r].begin(), scores[r].end(), table.mutable_data() + r * rows);
    }
    return table;
}

std::vector<std::vector<double>> scores_of(const Model& model, const Scores& table) {
    if (table.ndim() != 2 || std::size_t(table.shape(0)) != programma::recogniser_count(model)) {
        throw py::value_error("scores must be a 2-D array, a row per recogniser of the model");
    }
    const std::size_t rows = table.shape(1);
    std::vector<std::vector<double>> scores;
    for (std::size_t r = 0; r < std::size_t(table.shape(0)); ++r) {
        scores.emplace_back(table.data() + r * rows, table.data() + (r + 1) * rows);
    }
    return scores;
}

// The model of a fit made in Python: its training set (labels are class
// positions), recognisers, lists, order and settings.
Model fitted_model(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                   const std::vector<Indices>& lists, const std::optional<Order>& order, std::optional<uint64_t> seed,
                   Combine combine, LabelKind label_kind, std::vector<std::string> labels, DecisionRule rule) {
    const std::vector<uint32_t> visits = order_of(order);
    programma::ModelSource source;
    source.training = &training;
    source.recognisers = recognisers;
    for (const Indices& one : lists) source.lists.push_back(list_of(one));
    source.order = visits;
    source.shuffle = seed;
    source.combine = combine;
    source.label_kind = label_kind;
    source.labels = std::move(labels);
    source.rule = rule;
    return value_or_throw(programma::make_model(source));
}

// Every row's score from every recogniser of the model (a row of the
// result per recogniser), the rows raw: the model's ranges scale them.
Scores scores_from_model(const Model& model, const Floats& values, int threads) {
    if (values.ndim() != 2) throw py::value_error("sample values must be a 2-D array");
    const std::size_t rows = values.shape(0);
    const std::vector<float> unread(rows, 0.0f);  // the label column, which scoring never reads
    const SampleSet samples = value_or_throw(
        programma::samples_from_memory(values.data(), unread.data(), rows, std::size_t(values.shape(1))));
    auto scores = run_cancellable<std::vector<std::vector<double>>>(
        threads, [&](const programma::CancelFlag* cancel, const programma::EngineOptions& options) {
            return programma::model_scores(model, samples, cancel, options);
        });
    return table_of(scores, rows);
}

// A model as bytes, for pickling: its text.
py::bytes model_bytes(const Model& model) { return py::bytes(value_or_throw(programma::model_text(model))); }

void bind_model(py::module_& m) {
    py::enum_<LabelKind>(m, "LabelKind", "What a model's label texts are.")
        .value("integer", LabelKind::integer)
        .value("real", LabelKind::real)
        .value("text", LabelKind::text);
    py::enum_<DecisionRule>(m, "DecisionRule", "How a model's recognisers answer.")
        .value("per_label", DecisionRule::per_label)
        .value("by_sign", DecisionRule::by_sign);

    py::class_<Model>(m, "Model", "A trained recogniser set: settings, labels, support rows and lists.")
        .def_property_readonly("kind", [](const Model& model) { return model.kernel.kind; })
        .def_property_readonly("parameter", [](const Model& model) { return model.kernel.parameter; })
        .def_readonly("epochs", &Model::epochs)
        .def_readonly("margin", &Model::margin)
        .def_readonly("combine", &Model::combine)
        .def_readonly("shuffle", &Model::shuffle, "The seed of the training order; None for file order.")
        .def_readonly("training_rows", &Model::training_rows)
        .def_readonly("features", &Model::features)
        .def_readonly("label_kind", &Model::label_kind)
        .def_readonly("labels", &Model::labels)
        .def_readonly("rule", &Model::rule)
        .def_property_readonly("scaled", [](const Model& model) { return model.ranges.has_value(); })
        .def_property_readonly("lists",
                               [](const Model& model) {
                                   py::list lists;
                                   for (const auto& one : model.lists) lists.append(array_of(one));
                                   return lists;
                               })
        .def(py::pickle(&model_bytes, [](const py::bytes& text) {
            return value_or_throw(programma::parse_model(std::string(text), "pickled model"));
        }));

    m.def("make_model", &fitted_model, py::arg("training"), py::arg("recognisers"), py::arg("lists"), py::arg("order"),
          py::arg("seed"), py::arg("combine"), py::arg("label_kind"), py::arg("labels"), py::arg("rule"),
          "The model of a training: `order` as trained (None: file order) and its seed (None), the labels' "
          "texts (recogniser i's, or both for by_sign).");
    m.def(
        "model_text", [](const Model& model) { return value_or_throw(programma::model_text(model)); }, py::arg("model"),
        "The model's text, as a model file holds it.");
    m.def(
        "parse_model",
        [](const std::string& text, const std::string& path) {
            return value_or_throw(programma::parse_model(text, path));
        },
        py::arg("text"), py::arg("path") = "model", "A model from its text; errors name `path` and the line.");
    m.def(
        "read_model", [](const std::string& path) { return value_or_throw(programma::read_model(path)); },
        py::arg("path"), py::call_guard<py::gil_scoped_release>(), "A model file; errors name the file and line.");
    m.def(
        "save_model",
        [](const std::string& path, const Model& model) { value_or_throw(programma::save_model(path, model)); },
        py::arg("path"), py::arg("model"), py::call_guard<py::gil_scoped_release>(),
        "Saves a model file safely: the old file is replaced only once the new one is whole.");
    m.def("model_scores", &scores_from_model, py::arg("model"), py::arg("values"), py::arg("threads") = 0,
          "Every raw row's score (float64) from each recogniser of the model, a row of the result per "
          "recogniser, as decision_scores gives them from the training set. Ctrl-C cancels.");
    m.def(
        "model_answers",
        [](const Model& model, const Scores& table) {
            const std::vector<uint32_t> answers = programma::model_answers(model, scores_of(model, table));
            py::array_t<int64_t> positions(py::ssize_t(answers.size()));
            std::copy(answers.begin(), answers.end(), positions.mutable_data());
            return positions;
        },
        py::arg("model"), py::arg("scores"), "Each row's answer, a position in the labels, from model_scores.");
}

}  // namespace

PYBIND11_MODULE(_programma, m) {
    m.doc() = "programma's library: sample sets, recognisers, mistake lists and the recogniser check.";
    m.attr("__version__") = programma::version();  // the package's version is the library's
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const programma::Failure& failure) {
            // Raised by its kind, never by its text.
            raise_in_python(failure.error());
        }
    });
    default_options();  // the environment is read once, at import

    py::enum_<KernelKind>(m, "KernelKind", "Which kernel a recogniser uses.")
        .value("polynomial", KernelKind::polynomial)
        .value("gaussian", KernelKind::gaussian);
    py::enum_<Combine>(m, "Combine", "How a mistake list's prefixes answer together.")
        .value("last", Combine::last)
        .value("average", Combine::average)
        .value("vote", Combine::vote);

    py::class_<Recogniser>(m, "Recogniser", "One class against the rest: the target label, kernel, epochs and margin.")
        .def(py::init(&make_recogniser), py::arg("target"), py::arg("kind"), py::arg("parameter"), py::arg("epochs"),
             py::arg("margin") = 0.0)
        .def_readonly("target", &Recogniser::target)
        .def_readonly("epochs", &Recogniser::epochs)
        .def_readonly("margin", &Recogniser::margin)
        .def_property_readonly("kind", [](const Recogniser& r) { return r.kernel.kind; })
        .def_property_readonly("parameter", [](const Recogniser& r) { return r.kernel.parameter; })
        .def(py::pickle(
            [](const Recogniser& r) {
                return py::make_tuple(r.target, r.kernel.kind, r.kernel.parameter, r.epochs, r.margin);
            },
            [](const py::tuple& state) {  // a state pickled before margins has four items
                return make_recogniser(state[0].cast<uint32_t>(), state[1].cast<KernelKind>(), state[2].cast<float>(),
                                       state[3].cast<uint32_t>(), state.size() > 4 ? state[4].cast<float>() : 0.0f);
            }));

    py::class_<SampleSet>(m, "SampleSet", "Rows of float32 features, each with a float32 label.")
        .def(py::init(&make_samples), py::arg("values"), py::arg("labels"))
        .def_property_readonly("rows", &SampleSet::rows)
        .def_property_readonly("features", &SampleSet::features)
        .def("arrays", &arrays_of, "The features and the labels, as new arrays.")
        .def(py::pickle([](const SampleSet& set) { return py::make_tuple(arrays_of(set)); },
                        [](const py::tuple& state) {
                            auto arrays = state[0].cast<std::pair<Floats, Floats>>();
                            return make_samples(arrays.first, arrays.second);
                        }));

    m.def(
        "read_samples",
        [](const std::string& path) { return value_or_throw(programma::read_samples(path, default_options())); },
        py::arg("path"), py::call_guard<py::gil_scoped_release>(), "A sample file read with programma's loader.");

    m.def(
        "train",
        [](const SampleSet& training, const std::vector<Recogniser>& recognisers, int threads,
           const std::optional<Order>& order) {
            const std::vector<uint32_t> visits = order_of(order);
            auto trained = run_cancellable<std::vector<programma::Trained>>(
                threads, [&](const programma::CancelFlag* cancel, const programma::EngineOptions& options) {
                    return programma::train(training, recognisers, cancel, {}, options, visits);
                });
            py::list lists;
            for (const programma::Trained& one : trained) lists.append(array_of(one.mistakes));
            return lists;
        },
        py::arg("training"), py::arg("recognisers"), py::arg("threads") = 0, py::arg("order") = py::none(),
        "Trains the recognisers side by side, visiting the rows in `order` (None: file order); one mistake list "
        "(int32 array of row indices) each. Ctrl-C cancels.");

    m.def(
        "scale_constant", [](const SampleSet& training) { return programma::scale_constant(training); },
        py::arg("training"), "The gaussian constant from the data: features times the variance of every value.");

    m.def(
        "seeded_order",
        [](uint32_t rows, uint64_t seed) {
            const std::vector<uint32_t> order = programma::seeded_order(rows, seed);
            return py::array_t<uint32_t>(py::ssize_t(order.size()), order.data());
        },
        py::arg("rows"), py::arg("seed"), "The rows in a seeded order: order[p] is the row at position p.");

    m.def(
        "decision_sums",
        [](const SampleSet& training, const Recogniser& recogniser, const Indices& mistakes, const SampleSet& samples,
           int threads) {
            const std::vector<int32_t> list = list_of(mistakes);
            auto sums = run_cancellable<std::vector<float>>(
                threads, [&](const programma::CancelFlag* cancel, const programma::EngineOptions& options) {
                    return programma::decision_sums(training, recogniser, list, samples, cancel, options);
                });
            return py::array_t<float>(py::ssize_t(sums.size()), sums.data());
        },
        py::arg("training"), py::arg("recogniser"), py::arg("mistakes"), py::arg("samples"), py::arg("threads") = 0,
        "Every row's decision sum (float32), as programma's classify gives it.");

    m.def(
        "restore_list",
        [](const std::string& path, uint32_t training_rows) {
            std::vector<int32_t> list;
            {
                py::gil_scoped_release release;
                list = value_or_throw(programma::restore_list(path, training_rows));
            }
            return array_of(list);
        },
        py::arg("path"), py::arg("training_rows"), "A mistake-list file, its entries checked against the rows.");

    m.def(
        "save_list",
        [](const std::string& path, const Indices& mistakes) {
            const std::vector<int32_t> list = list_of(mistakes);
            py::gil_scoped_release release;
            value_or_throw(programma::save_list(path, list));
        },
        py::arg("path"), py::arg("mistakes"), "Saves a mistake list safely, in programma's format.");

    bind_model(m);

    m.def("check", &checked, py::arg("recogniser"),
          "The library's check of a recogniser: None, or (field, what is wrong) for its first problem.");

    m.def(
        "_raise_error",
        [](const std::string& kind, const std::string& detail, const std::string& path, int error_number) {
            const std::pair<const char*, programma::ErrorKind> kinds[] = {
                {"invalid_argument", programma::ErrorKind::invalid_argument},
                {"bad_data", programma::ErrorKind::bad_data},
                {"input_output", programma::ErrorKind::input_output},
                {"out_of_memory", programma::ErrorKind::out_of_memory},
                {"cancelled", programma::ErrorKind::cancelled}};
            for (const auto& [name, value] : kinds) {
                if (kind == name) throw programma::Failure(programma::Error{value, detail, path, 0, error_number, {}});
            }
            throw py::value_error("no error kind " + kind);
        },
        py::arg("kind"), py::arg("detail"), py::arg("path") = "", py::arg("error_number") = 0,
        "For tests: raises the exception a library error of this kind becomes.");
}
