// The program's front end: the usage text, the command-line loop, and the
// two drivers that run the kernel perceptron or the voted perceptron from
// start to end. The drivers compute through the Compute that main plugs in.
#include "programma.h"

#include <sys/stat.h>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics.h"
#include "file_lib.h"
#include "mistake_file.h"
#include "programma/api.h"

namespace {

// What the processor's truncating conversion gives: values outside the range
// of int, and NaN, become INT_MIN.
int truncated(float value) {
    if (std::isnan(value) || value >= 2147483648.0f || value < -2147483648.0f) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

void help(const char* program_name) {
    std::printf(
        "\n"
        "Usage:%s [Options]\n"
        "\n"
        "Avaiable Options: {default value}\n"
        "-a  [0|1] Use adaboost \t\t\t\t{no} \n"
        "-c  [0-9] Constant of gaussian kernel   \t{3} \n"
        "-d  [0-9] Degree of polinomial kernel   \t{2}\n"
        "-e  [0-9] Epocs of training algoritm    \t{2}\n"
        "-dg [0-9] Digit to recognize\t\t\t{0}\n"
        "-k  [pol||gauss] Type of kernel to use  \t{polinomial} \n"
        "-l  [path/to/file] Path to saved list of previous run {no_list}\n"
        "-tr [path/to/file] Path to Training Set \t{Data/Training_set}\n"
        "-ts [path/to/file] Path to Test Set     \t{Data/Test_set}\n"
        "-vot[0|1] Use voted perceptron algoritm         {no}\n"
        "\n"
        "Wrong parameters makes this message appear\n"
        "\n",
        program_name);
}

int parse_command_line(int argc, char** argv, Settings& settings) {
    const char* program_name = (argc > 0 && argv[0] != nullptr) ? argv[0] : "programma";
    if (argc % 2 == 0) {
        help(program_name);
        return 1;
    }
    for (int i = 1; i < argc; i += 2) {
        uint8_t is_error = 0;  // whether the last name tried was not this argument
        for (const char* name : programma::arguments) {
            if (std::string_view(argv[i]) != name) {
                is_error = 1;
                continue;
            }
            is_error = 0;
            if (set_variable(settings, name, argv[i + 1]) == 1) {
                help(program_name);
                return 1;
            }
            break;
        }
        if (is_error == 1) {
            help(program_name);
            return 1;
        }
    }
    return 0;
}

namespace {

// Runs what the command line asks for; returns the exit status.
int run_program(int argc, char** argv, const Compute& compute) {
    Settings settings;
    if (parse_command_line(argc, argv, settings) != 0) return 0;
    try {
        if (settings.voted != 0) {
            std::printf("Starting training for %u digit ", settings.digit);
            std::printf("with voted perceptron algoritm ");
            std::printf("for %u epocs \n", settings.epocs);
            return voted_perceptron(settings, compute).status != 0 ? 1 : 0;
        }
        if (settings.adaboost != 0) return 0;
        return kernel(settings, compute).status != 0 ? 1 : 0;
    } catch (const std::bad_alloc&) {
        report_error("out of memory");
        return 1;
    } catch (const std::length_error&) {
        report_error("out of memory");
        return 1;
    } catch (const std::exception& failure) {
        report_error("%s", failure.what());
        return 1;
    }
}

// Whether all of standard output reached its file: the last flush and every
// write before it. A full disk or a closed pipe is reported, not hidden.
bool output_written() {
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && std::ferror(stdout) == 0) return true;
    if (flushed) {
        report_error("standard output: cannot write");
    } else {
        report_error("standard output: cannot write: %s", std::strerror(error));
    }
    return false;
}

}  // namespace

int programma_main(int argc, char** argv, const Compute& compute) {
    const int status = run_program(argc, argv, compute);
    return output_written() ? status : 1;
}

namespace {

// A driver's run state: the settings, the Compute, the two sample sets with
// their sizes, and what the run has made so far.
struct DriverRun {
    const Settings& settings;
    const Compute& compute;
    Dims dim_tr;
    Dims dim_ts;
    SampleMatrix tr_set;
    SampleMatrix ts_set;
};

// Measures and loads the training set, printing its size in between.
bool load_training_set(DriverRun& run) {
    return run.compute.read_samples(run.settings.training_set, run.tr_set, run.dim_tr, [](const Dims& dims) {
        std::printf("Training set dimension are %ux%u\n", dims.rows, dims.columns);
    });
}

bool same_columns(const DriverRun& run) {
    if (run.dim_ts.columns == run.dim_tr.columns) return true;
    report_error("%s: samples have %u numbers, the training set's have %u", run.settings.test_set, run.dim_ts.columns,
                 run.dim_tr.columns);
    return false;
}

// Reads the list named by -l as programma always has (up to the first thing
// that is not a number), every entry checked against the training set.
bool restore_checked_list(const DriverRun& run, std::unique_ptr<IndexList>& list) {
    if (restore_list(run.settings.list, list) != 0) return false;
    std::vector<int32_t> entries;
    read_list(entries, list.get());
    for (std::size_t entry = 0; entry < entries.size(); ++entry) {
        const auto index = static_cast<uint32_t>(entries[entry]);
        if (index >= run.dim_tr.rows) {
            report_file_problem(programma::ErrorKind::bad_data, run.settings.list, 0, 0,
                                unknown_row(entry + 1, std::to_string(index), run.dim_tr.rows));
            return false;
        }
    }
    return true;
}

enum class Answer { yes, no };

// Reads characters until 'y' or 'n'; the end of input counts as 'n'.
Answer read_save_answer() {
    char control = 0;
    while (control != 'y' && control != 'n') {
        if (std::scanf("%c", &control) != 1) return Answer::no;
    }
    return control == 'y' ? Answer::yes : Answer::no;
}

// Drops the rest of the answer line, then reads the file name line; false at
// the end of input. Only the line's own newline is removed.
bool read_file_name(std::string& name) {
    int c = 0;
    while ((c = std::getchar()) != '\n') {
        if (c == EOF) return false;
    }
    name.clear();
    while ((c = std::getchar()) != EOF && c != '\n') name.push_back(static_cast<char>(c));
    return !(c == EOF && name.empty());
}

// Which of the run's sample sets a save name would replace ("training set"
// or "test set"), following links; null when it names neither. Only regular
// files count: a save to a device or a pipe replaces nothing.
const char* sample_set_named(const Settings& settings, const std::string& name) {
    struct stat target {};
    if (::stat(name.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return nullptr;
    const auto same_file = [&](const char* path) {
        struct stat info {};
        return ::stat(path, &info) == 0 && info.st_dev == target.st_dev && info.st_ino == target.st_ino;
    };
    if (same_file(settings.training_set)) return "training set";
    if (same_file(settings.test_set)) return "test set";
    return nullptr;
}

// The save dialogue after training; false when the run must stop.
bool offer_save(const Settings& settings, std::unique_ptr<IndexList>& list) {
    std::printf("Do you want to save the list? [y|n] \n");
    if (read_save_answer() == Answer::no) return true;
    std::printf("Save file as :");
    std::string path;
    if (!read_file_name(path)) {
        report_error("no file name to save the list as (end of input)");
        return false;
    }
    if (const char* set = sample_set_named(settings, path)) {
        report_error("%s: cannot save: it is the %s", path.c_str(), set);
        return false;
    }
    if (dump_file(list, path.c_str(), 0) == 1) return false;
    std::printf("file saved as %s", path.c_str());
    return true;
}

void print_kernel_header(const Settings& settings) {
    std::printf("Starting training for %u digit ", settings.digit);
    switch (settings.kernel_algoritm) {
        case KernelKind::polynomial:
            std::printf("with polinomial kernel of %d degree ", truncated(settings.polinomial_degree));
            break;
        case KernelKind::gaussian:
            std::printf("with gaussian kernel and %d as constant ", truncated(settings.gaussian_c));
            break;
    }
    std::printf("for %u epocs \n", settings.epocs);
    if (settings.load_list != 0) {
        std::printf("List loaded from %s\n", settings.list);
    } else {
        std::printf("Training set loaded from %s\n", settings.training_set);
    }
    std::printf("Test loaded from %s\n", settings.test_set);
}

KernelRun stopped(KernelRun& result) {
    result.status = 1;
    return std::move(result);
}

}  // namespace

KernelRun kernel(const Settings& settings, const Compute& compute) {
    KernelRun result;
    DriverRun run{settings, compute, {}, {}, {}, {}};
    const KernelSpec ker = programma::kernel_of(settings);
    print_kernel_header(settings);
    if (!load_training_set(run)) return stopped(result);

    if (settings.load_list != 0) {
        if (!restore_checked_list(run, result.list)) return stopped(result);
    } else {
        if (compute.train_kernel(settings.epocs, settings.digit, ker, result.list, run.tr_set, run.dim_tr,
                                 result.training_error) != 0) {
            report_error("cannot create the mistake list");
            return stopped(result);
        }
        std::printf("End training with %f%% error\n", static_cast<double>(result.training_error * 100.0f));
        if (!offer_save(settings, result.list)) return stopped(result);
    }

    if (!compute.read_samples(settings.test_set, run.ts_set, run.dim_ts, nullptr)) return stopped(result);
    if (!same_columns(run)) return stopped(result);
    std::printf("Start testing\n");
    compute.test_kernel(settings.digit, ker, result.list.get(), run.tr_set, run.dim_tr, run.ts_set, run.dim_ts,
                        result.test_error);
    std::printf("End testing with %f%% error\n\n\n\n", static_cast<double>(result.test_error * 100.0f));
    return result;
}

VotedRun voted_perceptron(const Settings& settings, const Compute& compute) {
    VotedRun result;
    DriverRun run{settings, compute, {}, {}, {}, {}};
    std::printf("Training set loaded from %s\n", settings.training_set);
    std::printf("Test loaded from %s\n", settings.test_set);
    if (!load_training_set(run)) {
        result.status = 1;
        return result;
    }
    result.training = compute.train_voted(settings.epocs, settings.digit, run.tr_set, run.dim_tr);
    std::printf("End training with %f%% error\n", static_cast<double>(result.training.error * 100.0f));

    const bool loaded = compute.read_samples(settings.test_set, run.ts_set, run.dim_ts, [](const Dims& dims) {
        std::printf("Test set dimension are %ux%u\n", dims.rows, dims.columns);
    });
    if (!loaded || !same_columns(run)) {
        result.status = 1;
        return result;
    }
    compute.test_voted(settings.digit, run.ts_set, run.dim_ts, run.tr_set, run.dim_tr, result.training,
                       result.test_error);
    std::printf("End testing with %f%% error\n\n\n\n", static_cast<double>(result.test_error * 100.0f));
    return result;
}
